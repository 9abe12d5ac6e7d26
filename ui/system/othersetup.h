// The other settings page (page 17): the audio window and its sound, the switch effect
// (seamless or fade), a projection row without effect, the WiFi access point and point-to-point
// output. Six combos worked by keys only: OK starts editing the focused one, Left and Right step
// its choices, OK commits, Back reverts.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QComboBox;
namespace Ui {
class othersetup;
}

class othersetup : public PanelPage<QDialog, othersetup> {
    Q_OBJECT

public:
    enum Item { kWindow, kVolume, kSwitch, kProjection, kWifi, kPointToPoint, kItems };

    explicit othersetup(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~othersetup() override;

    void language_changed() override;
    // The six lists and their shown choices from the parameter RAM.
    void para_init() EXCLUDES(c331_manage::c331_mutex);
    // Commits edit_index on the focused item.
    void on_button_box_clicked() EXCLUDES(c331_manage::c331_mutex);

    uint8_t edit_flag = 0;    // the focused item is being edited
    uint8_t edit_index = 0;   // the choice shown while editing
    uint8_t saved_index = 0;  // the choice shown when editing began
    uint8_t item_count[kItems] = {6, 2, 2, 1, 2, 2};
    // The window of each entry of the window list, as it was listed: a commit acts on the window
    // the user saw, even after the PC changed the windows.
    uint8_t listed_windows[6] = {};
    Ui::othersetup* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void languageRefresh() override EXCLUDES(c331_manage::c331_mutex);
    void keyLeft() override { step(-1); }
    void keyRight() override { step(+1); }
    void keyOk() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

private:
    void menulist_init();
    QComboBox* combo(int item) const;
    void step(int by);
    void setVolume() EXCLUDES(c331_manage::c331_mutex);
    void setSwitchEffect() EXCLUDES(c331_manage::c331_mutex);
    void setWifi() EXCLUDES(c331_manage::c331_mutex);
    void setPointToPoint() EXCLUDES(c331_manage::c331_mutex);
};

extern othersetup* g_othersetup;
