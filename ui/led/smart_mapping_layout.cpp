// Smart mapping, screens 2 and 3: rows, columns, offsets and the routing, chosen on its own screen.
#include <QFont>
#include <QFontMetrics>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
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
    QPushButton* const b = ui->Button_route;
    b->ensurePolished();
    b->setText(text(kRoutingText).arg(n));
    // The words beside the picture in the largest font that leaves it its size; words that
    // need more than the smallest font gives take the room from the picture.
    QStyleOptionButton option;
    option.initFrom(b);
    const int room =
        b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b).width() - 4;
    QFont f = b->font();
    f.setPointSize(8);
    const auto words = [&] { return QFontMetrics(f).size(0, b->text()).width(); };
    while (f.pointSize() > kMinPoint && words() > room - kChosenRoutingIcon.width())
        f.setPointSize(f.pointSize() - 1);
    b->setFont(f);
    const int w = std::min(kChosenRoutingIcon.width(), room - words());
    setIcon(b, pictureOf(pic::kRouting[(n - 1) % 16]), w,
            w * kChosenRoutingIcon.height() / kChosenRoutingIcon.width());
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
