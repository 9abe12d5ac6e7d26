// Smart mapping, screens 2 and 3: rows, columns, offsets and the routing, chosen on its own screen.
#include <QFont>
#include <QFontMetrics>
#include <QToolButton>
#include <algorithm>
#include <vector>

#include "ui/led/smart_mapping.h"
#include "ui/led/smart_mapping_parts.h"
#include "ui_smart_mapping.h"

using namespace smart_mapping;

void SmartMapping::on_Button_front_3_clicked() {
    if (ringShown()) return;
    enterScreen(kPort);
}

void SmartMapping::on_Button_route_clicked() {
    enterScreen(kRouting);
}

void SmartMapping::on_Button_cancel_clicked() {
    enterScreen(kLayout);
    focus.select(2);  // back on the routing button
}

void SmartMapping::route_clicked(int n) {
    line_select(n);
    on_Button_cancel_clicked();
}

void SmartMapping::line_select(int n) {
    lighting.routing = uint8_t(n);
    ui->Button_route->ensurePolished();
    setIcon(ui->Button_route, pictureOf(pic::kRouting[(n - 1) % 16]), 21, 14);
    ui->Button_route->setText(text(kRoutingText).arg(n));
    QFont f = ui->Button_route->font();
    f.setPointSize(8);
    const int room = ui->Button_route->contentsRect().width() - 21 - 4;
    while (f.pointSize() > kMinPoint &&
           QFontMetrics(f).horizontalAdvance(ui->Button_route->text()) > room)
        f.setPointSize(f.pointSize() - 1);
    ui->Button_route->setFont(f);
}

void SmartMapping::ringLayout() {
    shortcut_step = 2;
    route_mode = 0;
    focus.setItems({{ui->lineEdit_line, kField},
                    {ui->lineEdit_column, kField},
                    {ui->Button_route, kField},
                    {ui->lineEdit_horzion, kField},
                    {ui->lineEdit_vert, kField},
                    {ui->Button_front_3, kField},
                    {ui->Button_send, kField}});
}

void SmartMapping::ringRouting() {
    route_mode = 1;
    std::vector<FocusRing::Item> items;
    for (int n = 1; n <= 16; ++n)
        items.push_back({findChild<QWidget*>(QString("Button_route%1").arg(n)), kRoutingButton});
    items.push_back({ui->Button_cancel, kField});
    focus.setItems(items, std::max(0, lighting.routing - 1) % 16);
}
