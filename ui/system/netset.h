// The output ports page (page 14): the links of the 20 output ports, four tiles at a time, and
// the screen area (X, Y, W, H) the focused port drives. A viewer: Left and Right move the focus
// and scroll the row at its ends, nothing wraps. Keys only.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QLabel;
class QPushButton;
namespace Ui {
class netset;
}

class netset : public PanelPage<QDialog, netset> {
    Q_OBJECT

public:
    static constexpr int kPorts = 20;  // 0..9 FPGA 0's ports, 10..19 FPGA 1's
    static constexpr int kTiles = 4;

    explicit netset(QWidget* parent = nullptr);
    ~netset() override;

    void language_changed() override;
    // Id 11 (a link changed) redraws the icons from the FPGA thread's mirror; a language change
    // re-texts the page.
    void syncUpdate(int id);
    // The focused port's area into the four fields, and the tiles' names.
    void wlan_para_get(unsigned short port);
    // The tiles' link icons from a mask of the 20 ports.
    void initWlan(uint32_t links);

    uint8_t ui_select = 0;      // focused port 0..19
    uint8_t ui_sel = 0;         // its tile 0..3
    uint8_t ui_min_select = 0;  // port of the first tile
    Ui::netset* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyLeft() override;
    void keyRight() override;
    void keyOk() override {}
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }
    int focusIndex() const override { return ui_select; }

private:
    void menulist_init();
    void placeFocus();
    // After every move, also one that moved nothing: the values and the links read again.
    void afterMove();

    QPushButton* tile_buttons[kTiles] = {};
    QLabel* tile_icons[kTiles] = {};
    QLabel* tile_names[kTiles] = {};
};

extern netset* g_netset;
