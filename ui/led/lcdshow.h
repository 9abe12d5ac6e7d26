// The LCD display page (page 15): the panel's return-to-main time and its auto-lock time, one
// row each, chosen from three entries in an edit mode. Keys only. The times stay in two globals
// for the rest of the run.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QComboBox;
namespace Ui {
class lcdshow;
}

class lcdshow : public PanelPage<QDialog, lcdshow> {
    Q_OBJECT

public:
    static constexpr int kRows = 2;     // 0 return time, 1 auto lock
    static constexpr int kEntries = 3;  // 30 s / 5 min, 60 s / 10 min, never

    explicit lcdshow(QWidget* parent = nullptr);
    ~lcdshow() override;

    void language_changed() override;
    void para_init();
    void menulist_init();
    // Store the chosen entry in the row's global.
    void on_button_backtolock_clicked();
    void on_button_autolock_clicked();

    uint8_t edit_flag = 0;  // the focused row is being edited
    uint8_t selection = 0;  // the entry being chosen while editing
    Ui::lcdshow* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void languageRefresh() override;
    void keyLeft() override;
    void keyRight() override;
    void keyOk() override;
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    QComboBox* combo(int row) const;
    void endEditing();
};

extern lcdshow* g_lcdshow;
