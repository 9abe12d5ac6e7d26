// The factory settings page (page 18): the panel language, three factory resets ("Keep IP",
// "Keep IP,EDID", "Reset ALL") acting at once on OK, and which OSD fonts the video processor
// found. Keys only.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

namespace Ui {
class factory;
}

class factory : public PanelPage<QDialog, factory> {
    Q_OBJECT

public:
    enum Row { kLanguage, kKeepIp, kKeepIpEdid, kResetAll, kRows };

    explicit factory(QWidget* parent = nullptr);
    ~factory() override;

    void language_changed() override;
    void on_Button_lang_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_Button_reset1_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_Button_reset2_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_Button_reset3_clicked() EXCLUDES(c331_manage::c331_mutex);
    void lcdlang_current_checkplus();
    void lcdlang_current_checkmin();

    uint8_t lang_edit = 0;        // the language row is being edited
    uint8_t lcdlang_current = 0;  // the language chosen on the row
    Ui::factory* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void languageRefresh() override;
    void keyLeft() override;
    void keyRight() override;
    void keyOk() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    void menulist_init();
    void showFontLines();
    void setLanguageEdit(bool on);
    // The parameter RAM from the factory defaults; keepEdid keeps RAM 896..1375 and leaves the
    // inputs' EDIDs alone.
    void resetParameters(bool keepEdid) EXCLUDES(c331_manage::c331_mutex);
};

extern factory* g_factory;
