// The user-mode page (page 4): the 16 user modes one at a time, a saved mode's summary and
// windows or its OSD text, Invoke (recall into the live parameters) and Delete. Shown over the
// main menu without a loop of its own; Back returns there, or to the home screen when the Mode
// shortcut opened it.
#pragma once

#include <QFont>
#include <QWidget>
#include <array>
#include <cstdint>

#include "core/zem_ram_para.h"
#include "ui/shell/panel_frame.h"

class QLabel;
class zemcontrol;
namespace Ui {
class CustomMode;
}

class CustomMode : public PanelPage<QWidget, CustomMode> {
    Q_OBJECT

public:
    explicit CustomMode(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~CustomMode() override;

    void language_changed() override EXCLUDES(c331_manage::c331_mutex);
    void lcd_para_init() EXCLUDES(c331_manage::c331_mutex);
    void syncUpdate() EXCLUDES(c331_manage::c331_mutex);
    void image_para_init() EXCLUDES(c331_manage::c331_mutex);
    void zem_button_selinfo(char op, char index) EXCLUDES(c331_manage::c331_mutex);
    int get_mode_status() const EXCLUDES(c331_manage::c331_mutex);
    static void color_fill(QLabel* label, char window);

    zemcontrol* selector = nullptr;
    QWidget* list_widget = nullptr;
    uint8_t ui_select = 0;  // the highlighted mode slot 0..15
    uint8_t ui_level = 0;   // 0 the selector, 1 the button row
    uint8_t ui_button = 0;  // 0 Invoke, 1 Delete, 2 More
    uint8_t more_hidden = 1;
    Ui::CustomMode* ui;

public slots:
    void on_Button_delete_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void on_Button_use_clicked() EXCLUDES(c331_manage::c331_mutex);
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void zem_button_mode_clicked() EXCLUDES(c331_manage::c331_mutex);

protected:
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex) { step(-1); }
    void keyRight() override EXCLUDES(c331_manage::c331_mutex) { step(+1); }
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyMode() override {}
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    int focusIndex() const override { return ui_select; }

private:
    using Slot = std::array<uint8_t, ZemRamPara::kModeSize>;
    // The slot as it is now, copied under the C331 mutex (the PC writes slots meanwhile).
    Slot slotCopy() const EXCLUDES(c331_manage::c331_mutex);
    void init();
    void menulist_init();
    void step(int dir) EXCLUDES(c331_manage::c331_mutex);
    void buildWindowList(const Slot& slot);
    void ledLine(int m, const Slot& s) EXCLUDES(c331_manage::c331_mutex);
    void buildOsdView();

    QFont list_font_;
};

extern CustomMode* g_custommode;
