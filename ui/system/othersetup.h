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

    explicit othersetup(QWidget* parent = nullptr);
    ~othersetup() override;

    void language_changed() override;
    // The six lists and their shown choices from the parameter RAM.
    void para_init();
    // Commits edit_index on the focused item.
    void on_button_box_clicked();

    uint8_t edit_flag = 0;    // the focused item is being edited
    uint8_t edit_index = 0;   // the choice shown while editing
    uint8_t saved_index = 0;  // the choice shown when editing began
    uint8_t item_count[kItems] = {6, 2, 2, 1, 2, 2};
    // The window of each entry of the window list, as it was listed: a commit acts on the window
    // the user saw, even after the PC changed the windows.
    uint8_t listed_windows[6] = {};
    Ui::othersetup* ui;

public slots:
    void slot_Button_back_clicked();

protected:
    void languageRefresh() override;
    void keyLeft() override { step(-1); }
    void keyRight() override { step(+1); }
    void keyOk() override;
    void keyBack() override;

private:
    void menulist_init();
    QComboBox* combo(int item) const;
    void step(int by);
    void setVolume();
    void setSwitchEffect();
    void setWifi();
    void setPointToPoint();
};

extern othersetup* g_othersetup;
