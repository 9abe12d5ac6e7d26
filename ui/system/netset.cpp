#include "ui/system/netset.h"

#include <QLabel>
#include <QPushButton>
#include <mutex>

#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "ui/shell/page_store.h"
#include "ui_netset.h"

netset* g_netset = nullptr;

namespace {

const char* const kTileNormal =
    "background-color:transparent; border:1px solid rgb(255, 255, 255);border-radius:1px;"
    "padding:2px 4px";
const char* const kTileFocus =
    "background-color:transparent; border:0px solid rgb(255, 255, 255);border-radius:1px;"
    "padding:2px 4px";
constexpr int kTileStep = 68;

// clang-format off
const Texts kTitle = {"网口输出", "Port output", "Настройка LAN", "Cài đặt cổng mạng", "網口輸出"};
const Texts kW = {"宽", "W", "Шир.", "Rộng", "寬"};  // "Ширина" needs 52 of the 43 pixels
const Texts kH = {"高", "H", "Высота", "Cao", "高"};
const Texts kTileName = {"网口LED%1", "LED%1", "LED%1", "LED%1", "網口LED%1"};
// clang-format on

// X, Y, W, H of a port from its FPGA's parameter image. The PC rewrites the images byte by byte
// under the table lock, so the eight bytes are read under it. False without an FPGA manager.
bool portArea(int port, uint16_t value[4]) {
    fpga_manage* f = fpga_manage::p_fpga_manage;
    if (!f) return false;
    uint16_t at[4];
    fpga_manage::get_eth_param_addr(uint8_t(port % 10), &at[0], &at[1], &at[2], &at[3]);
    zem::MutexLocker lock(Utils::_fpga_multicast_mutex);
    const int fpga = port / 10;
    for (int i = 0; i < 4; ++i)
        value[i] = uint16_t(f->ram_para[fpga][at[i]] | f->ram_para[fpga][at[i] + 1] << 8);
    return true;
}

}  // namespace

netset::netset(QWidget* parent) : PanelPage(kPageNetSet, parent), ui(new Ui::netset) {
    ui->setupUi(this);
    setPicture(ui->l_p, pictureOf(pic::kLeftArrow));
    setPicture(ui->r_p, pictureOf(pic::kRightArrow));
    tile_buttons[0] = ui->LED1Button;
    tile_buttons[1] = ui->LED2Button;
    tile_buttons[2] = ui->LED3Button;
    tile_buttons[3] = ui->LED4Button;
    tile_icons[0] = ui->L1label;
    tile_icons[1] = ui->L2label;
    tile_icons[2] = ui->L3label;
    tile_icons[3] = ui->L4label;
    tile_names[0] = ui->LED1label;
    tile_names[1] = ui->LED2label;
    tile_names[2] = ui->LED3label;
    tile_names[3] = ui->LED4label;
    menulist_init();
    language_changed();
    afterMove();
}

netset::~netset() {
    delete ui;
}

void netset::menulist_init() {
    ui_select = ui_sel = ui_min_select = 0;
    placeFocus();
}

void netset::placeFocus() {
    for (int r = 0; r < kTiles; ++r)
        tile_buttons[r]->setStyleSheet(r == ui_sel ? kTileFocus : kTileNormal);
    ui->net_frame->setGeometry(24 + kTileStep * ui_sel, 40, 58, 41);
}

void netset::language_changed() {
    ui->label_netset->setText(text(kTitle));
    ui->w_label->setText(text(kW));
    ui->h_label->setText(text(kH));
    wlan_para_get(ui_select);
}

void netset::syncUpdate(int id) {
    if (id == 11) {
        fpga_manage* f = fpga_manage::p_fpga_manage;
        initWlan(f ? f->wlan_state_mirror() : 0);
    }
}

void netset::wlan_para_get(unsigned short port) {
    uint16_t v[4];
    QLineEdit* const fields[4] = {ui->x_lineEdit, ui->y_lineEdit, ui->w_lineEdit, ui->h_lineEdit};
    const bool known = port < kPorts && portArea(port, v);
    for (int i = 0; i < 4; ++i) fields[i]->setText(known ? QString::number(v[i]) : QString());
    for (int r = 0; r < kTiles; ++r)
        tile_names[r]->setText(text(kTileName).arg(ui_min_select + 1 + r));
}

void netset::initWlan(uint32_t links) {
    for (int r = 0; r < kTiles; ++r) {
        const bool up = links >> (ui_min_select + r) & 1;
        setPicture(tile_icons[r], pictureOf(up ? pic::kPortOnline : pic::kPortOffline));
    }
}

void netset::afterMove() {
    wlan_para_get(ui_select);
    fpga_manage* f = fpga_manage::p_fpga_manage;
    initWlan(f ? f->get_wlan_state() : 0);
    ZEM_DEBUG("\n ui_min_select=%d,ui_select=%d ui_sel=%d\n", ui_min_select, ui_select, ui_sel);
}

void netset::keyRight() {
    if (ui_sel < kTiles - 1) {
        ++ui_select;
        ++ui_sel;
        placeFocus();
    } else if (ui_select < kPorts - 1) {
        ++ui_select;
        ui_min_select = uint8_t(ui_select - ui_sel);
    }
    afterMove();
}

void netset::keyLeft() {
    if (ui_sel > 0) {
        --ui_select;
        --ui_sel;
        placeFocus();
    } else if (ui_select > 0) {
        --ui_select;
        --ui_min_select;
    }
    afterMove();
}

void netset::slot_Button_back_clicked() {
    panel::back(this);
}
