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
    explicit CustomMode(QWidget* parent = nullptr);
    ~CustomMode() override;

    void language_changed() override;
    void lcd_para_init();
    void syncUpdate();
    void image_para_init();
    void zem_button_selinfo(char op, char index);
    int get_mode_status() const;
    static void color_fill(QLabel* label, char window);

    zemcontrol* selector = nullptr;
    QWidget* list_widget = nullptr;
    uint8_t ui_select = 0;  // the highlighted mode slot 0..15
    uint8_t ui_level = 0;   // 0 the selector, 1 the button row
    uint8_t ui_button = 0;  // 0 Invoke, 1 Delete, 2 More
    uint8_t more_hidden = 1;
    Ui::CustomMode* ui;

public slots:
    void on_Button_delete_clicked();
    void on_Button_use_clicked();
    void slot_Button_back_clicked();
    void zem_button_mode_clicked();

protected:
    void keyLeft() override { step(-1); }
    void keyRight() override { step(+1); }
    void keyOk() override;
    void keyMode() override {}
    void keyBack() override;
    int focusIndex() const override { return ui_select; }

private:
    using Slot = std::array<uint8_t, ZemRamPara::kModeSize>;
    // The slot as it is now, copied under the C331 mutex (the PC writes slots meanwhile).
    Slot slotCopy() const;
    void init();
    void menulist_init();
    void step(int dir);
    void buildWindowList(const Slot& slot);
    void ledLine(int m, const Slot& s);
    void buildOsdView();

    QFont list_font_;
};

extern CustomMode* g_custommode;
