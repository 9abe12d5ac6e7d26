// Smart mapping, screens 1 and 4: the output port, chosen by group and tile.
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "ui/led/smart_mapping.h"
#include "ui/led/smart_mapping_parts.h"
#include "ui_smart_mapping.h"

using namespace smart_mapping;

void SmartMapping::on_Button_front_2_clicked() {
    enterScreen(kCabinet);
}

void SmartMapping::on_Button_next_2_clicked() {
    enterScreen(kLayout);
}

void SmartMapping::ringPort() {
    shortcut_step = 1;
    tile_mode = 0;
    focus.setItems({{ui->Button_wlan1, kField},
                    {ui->Button_wlan2, kField},
                    {ui->Button_wlan3, kField},
                    {ui->Button_front_2, kField},
                    {ui->Button_next_2, kField}});
    groupClicked(0, kPort);
}

void SmartMapping::ringScanPort(bool entered) {
    loadscan_step = 0;
    loadscan_tile_mode = 0;
    showScreen(kScanPort);
    const int group = std::min(lighting.port / 8, 2);
    focus.setItems({{ui->Button_wlan5, kField},
                    {ui->Button_wlan6, kField},
                    {ui->Button_wlan7, kField},
                    {ui->Button_next_5, kField}},
                   group);
    groupClicked(group, kScanPort);
    if (entered)
        focus.select(group);
    else
        focus.clearFocus();
}

void SmartMapping::on_Button_next_5_clicked() {
    collectFiles();
    enterScreen(kScanFiles);
}

QPushButton* SmartMapping::groupButton(Screen s, int group) const {
    QPushButton* const onPort[] = {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3};
    QPushButton* const onScan[] = {ui->Button_wlan5, ui->Button_wlan6, ui->Button_wlan7};
    return s == kPort ? onPort[group] : onScan[group];
}

void SmartMapping::groupClicked(int group, Screen s) {
    if (selected_group) apply(selected_group, kField, kNormal);
    selected_group = groupButton(s, group);
    apply(selected_group, kField, kMarked);
    port_group = uint8_t(group);
    port_tile = 0;
    buildTiles(s);
    if (focus.focused() == selected_group) focus.select(focus.ui_select);
}

void SmartMapping::buildTiles(Screen s) {
    delete tile_frame;
    tile_frame = new QFrame(s == kPort ? ui->page_2 : ui->page_5);
    tile_frame->setGeometry(1, 59, 230, 88);
    for (int i = 0; i < groupTiles(); ++i) {
        const int c = i % 4, r = i / 4;
        const int port = port_group * 8 + i;
        auto* box = new QFrame(tile_frame);
        box->setObjectName(QString("tile%1").arg(i));
        box->setGeometry(10 + 55 * c, 2 + 45 * r, 50, 40);
        apply(box, kPortTile, port == lighting.port ? kMarked : kNormal);
        auto* icon = new QLabel(tile_frame);
        icon->setGeometry(25 + 55 * c, 5 + 45 * r, 22, 15);
        setPicture(icon, pictureOf(pic::kOffline));
        auto* name = new QLabel(QString("LED%1").arg(port + 1), tile_frame);
        name->setGeometry(14 + 55 * c, 20 + 45 * r, 45, 20);
        QFont f = name->font();
        f.setPixelSize(8);
        name->setFont(f);
        name->setAlignment(Qt::AlignCenter);
        name->setStyleSheet("background-color: #212435;color: #FFFFFF");
        auto* button = new QPushButton(tile_frame);
        button->setObjectName(QString::number(i));
        button->setGeometry(11 + 55 * c, 3 + 45 * r, 48, 38);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet("background-color: transparent;");
        connect(button, &QPushButton::clicked, this, &SmartMapping::zem_button_wlan_clicked);
    }
    tile_frame->show();
}

void SmartMapping::stepTile(int step, Screen s) {
    const int n = groupTiles();
    port_tile = uint8_t((port_tile + step + n) % n);
    lighting.port = uint8_t(port_group * 8 + port_tile);
    const uint8_t tile = port_tile;
    buildTiles(s);
    port_tile = tile;
}

void SmartMapping::zem_button_wlan_clicked() {
    const int tile = sender() ? sender()->objectName().toInt() : port_tile;
    port_tile = uint8_t(std::min(tile, groupTiles() - 1));
    lighting.port = uint8_t(port_group * 8 + port_tile);
    saved_port = lighting.port;
    for (QFrame* box : tile_frame->findChildren<QFrame*>(QRegularExpression("^tile")))
        apply(box, kPortTile,
              box->objectName() == QString("tile%1").arg(port_tile) ? kMarked : kNormal);
    // The choice ends the tile mode; the keys are back on the group.
    tile_mode = loadscan_tile_mode = 0;
    focus.select(port_group);
}
