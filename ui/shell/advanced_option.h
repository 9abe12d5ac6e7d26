// The advanced options menu (page 12): LCD display, other settings, receiving-card
// self-recovery (usable only while the recovery folder holds files), factory settings, and
// factory aging behind an access code typed on the number keypad.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

namespace Ui {
class AdvancedOption;
}

class AdvancedOption : public PanelPage<QDialog, AdvancedOption> {
    Q_OBJECT

public:
    explicit AdvancedOption(QWidget* parent = nullptr);
    ~AdvancedOption() override;

    // Counts the recovery files again and re-texts the page.
    void language_changed() override;
    void syncUpdate(int id);
    bool recoveryAvailable() const { return recovery_files; }

    Ui::AdvancedOption* ui;

public slots:
    void on_Button_LCDshow_clicked();
    void on_Button_other_clicked();
    void on_Button_rcv_recovery_clicked();
    void on_Button_factory_clicked();
    void on_Button_age_clicked();
    void confirmString(QString text);
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    void countRecoveryFiles();
    void restyle();
    // Opens a child page, or logs while that page is not part of the program yet.
    void openChild(int id);

    bool recovery_files = false;  // the recovery folder held files at the last count
    uint8_t code_accepted = 0;    // the keypad delivered the right access code
};

extern AdvancedOption* g_advancedoption;
