// Draws the panel's pictures from the table in pictures.cpp and writes them with a resource
// file that lists them under "/png". Usage: zem_pngen PNG_DIR QRC_FILE
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <vector>

#include "pictures.h"

namespace {

const char* const kFontFamily = "WenQuanYi Micro Hei";

QPen pen(const QColor& c, qreal width) {
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawLock(QPainter& p, const QRectF& r, const QColor& c, bool open) {
    const qreal s = std::min(r.width(), r.height());
    const QRectF body(r.center().x() - 0.38 * s, r.center().y() - 0.05 * s, 0.76 * s, 0.5 * s);
    p.setPen(pen(c, s * 0.11));
    const QRectF shackle(body.left() + 0.14 * s, r.center().y() - 0.45 * s, 0.48 * s, 0.7 * s);
    p.drawArc(shackle.translated(open ? 0.22 * s : 0, open ? -0.06 * s : 0), 0, 180 * 16);
    if (!open) {
        p.drawLine(QPointF(shackle.left(), shackle.center().y()),
                   QPointF(shackle.left(), body.top()));
        p.drawLine(QPointF(shackle.right(), shackle.center().y()),
                   QPointF(shackle.right(), body.top()));
    } else {
        p.drawLine(QPointF(shackle.right() + 0.22 * s, shackle.center().y() - 0.06 * s),
                   QPointF(shackle.right() + 0.22 * s, body.top()));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(body, s * 0.08, s * 0.08);
}

void drawScreen(QPainter& p, const QRectF& r, const QColor& c, qreal w) {
    p.setPen(pen(c, w));
    p.setBrush(Qt::NoBrush);
    const QRectF scr(r.left(), r.top(), r.width(), r.height() * 0.75);
    p.drawRoundedRect(scr, w, w);
    p.drawLine(QPointF(r.center().x(), scr.bottom()), QPointF(r.center().x(), r.bottom()));
    p.drawLine(QPointF(r.left() + r.width() * 0.25, r.bottom()),
               QPointF(r.right() - r.width() * 0.25, r.bottom()));
}

// A plug face: a rounded shell with a row of pins, and no name.
void drawPlainConnector(QPainter& p, const QRectF& r, const QColor& c) {
    const QRectF b = r.adjusted(2, 4, -2, -4);
    p.setPen(pen(c, 1.5));
    p.setBrush(QColor(c.red(), c.green(), c.blue(), 60));
    p.drawRoundedRect(b, 4, 4);
    const QRectF slot =
        b.adjusted(b.width() * 0.15, b.height() * 0.3, -b.width() * 0.15, -b.height() * 0.3);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    constexpr int kPins = 7;
    const qreal step = slot.width() / kPins;
    for (int i = 0; i < kPins; ++i)
        p.drawRect(QRectF(slot.left() + step * (i + 0.2), slot.top(), step * 0.6, slot.height()));
}

void drawConnector(QPainter& p, const QRectF& r, const QColor& c, const char* label,
                   bool trapezoid) {
    QPainterPath shape;
    const QRectF b = r.adjusted(1, 2, -1, -2);
    if (trapezoid) {
        shape.moveTo(b.topLeft());
        shape.lineTo(b.topRight());
        shape.lineTo(b.right() - b.width() * 0.12, b.bottom());
        shape.lineTo(b.left() + b.width() * 0.12, b.bottom());
        shape.closeSubpath();
    } else {
        shape.addRoundedRect(b, 3, 3);
    }
    p.setPen(pen(c, 1.5));
    p.setBrush(QColor(c.red(), c.green(), c.blue(), 60));
    p.drawPath(shape);
    QFont f(kFontFamily);
    f.setPixelSize(int(b.height() * 0.55));
    f.setBold(true);
    p.setFont(f);
    p.setPen(c);
    p.drawText(b, Qt::AlignCenter, label);
}

// Outputs 1 and 2 of the LED screen as two numbered boxes: side by side, one over the other,
// or each the whole picture.
void drawSplice(QPainter& p, Icon kind, const QRectF& r, const QColor& c) {
    const QRectF in = r.adjusted(1, 1, -1, -1);
    QRectF one = in, two = in;
    if (kind == Icon::SpliceHorizontal) {
        one.setRight(in.center().x());
        two.setLeft(in.center().x());
    } else if (kind == Icon::SpliceVertical) {
        one.setBottom(in.center().y());
        two.setTop(in.center().y());
    } else {
        one.setRight(in.center().x() - 2);
        two.setLeft(in.center().x() + 2);
    }
    QFont f(kFontFamily);
    f.setPixelSize(std::max(6, int(std::min(one.height(), one.width()) * 0.7)));
    p.setFont(f);
    const QRectF boxes[2] = {one, two};
    for (int i = 0; i < 2; ++i) {
        p.setPen(pen(QColor(255, 255, 255), 1));
        p.setBrush(i == 0 ? c : c.darker(160));
        p.drawRect(boxes[i].adjusted(0.5, 0.5, -0.5, -0.5));
        p.drawText(boxes[i], Qt::AlignCenter, kind == Icon::SpliceCopy ? "1=2" : i ? "2" : "1");
    }
}

// A test pattern as the wall shows it, with a thin frame so a black tile is seen.
// Cabling order n (1..16) through 3 x 2 cabinets: the corner it starts from (n - 1) mod 4,
// along rows or columns, snaking or returning to the same side each line.
void drawRouting(QPainter& p, const QRectF& r, const QColor& c, int n) {
    const int k = std::max(0, n - 1);
    const bool right = k % 2 == 0, down = k % 4 < 2, byColumn = k / 4 % 2, snake = k < 8;
    const int cols = 3, rows = 2;
    std::vector<QPointF> path;
    const int lines = byColumn ? cols : rows, along = byColumn ? rows : cols;
    for (int l = 0; l < lines; ++l)
        for (int a = 0; a < along; ++a) {
            const bool back = snake && l % 2 == 1;
            const int a2 = back ? along - 1 - a : a;
            int col = byColumn ? l : a2, row = byColumn ? a2 : l;
            if (!right) col = cols - 1 - col;
            if (!down) row = rows - 1 - row;
            path.emplace_back(r.left() + r.width() * (col + 0.5) / cols,
                              r.top() + r.height() * (row + 0.5) / rows);
        }
    p.setPen(QPen(QColor(120, 120, 130), 1));
    for (int i = 0; i < cols * rows; ++i)
        p.drawRect(QRectF(r.left() + r.width() * (i % cols) / cols + 1,
                          r.top() + r.height() * (i / cols) / rows + 1, r.width() / cols - 2,
                          r.height() / rows - 2));
    p.setPen(QPen(c, 1.5));
    for (size_t i = 1; i < path.size(); ++i) p.drawLine(path[i - 1], path[i]);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(path.front(), 2.5, 2.5);
}

void drawPattern(QPainter& p, Icon kind, const QRectF& r, const QColor& c) {
    p.setPen(Qt::NoPen);
    p.setBrush(kind == Icon::PatternFill ? c : QColor(0, 0, 0));
    p.drawRect(r);
    if (kind == Icon::PatternBars) {
        static const QColor kBars[8] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                                        Qt::magenta, Qt::red,    Qt::blue, Qt::black};
        for (int i = 0; i < 8; ++i) {
            p.setBrush(kBars[i]);
            p.drawRect(QRectF(r.left() + r.width() * i / 8, r.top(), r.width() / 8, r.height()));
        }
    }
    p.setPen(pen(c, 1.5));
    for (int i = 1; i < 8; ++i) {
        if (kind == Icon::PatternVLines) {
            const qreal x = r.left() + r.width() * i / 8;
            p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
        } else if (kind == Icon::PatternHLines) {
            const qreal y = r.top() + r.height() * i / 8;
            p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
        }
    }
    p.setPen(pen(QColor(120, 120, 130), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
}

void drawIcon(QPainter& p, const Picture& pic, const QRectF& r) {
    const QColor c = pic.dimmed ? pic.accent.darker(180) : pic.accent;
    const qreal s = std::min(r.width(), r.height());
    const qreal w = std::max(1.2, s * 0.08);
    const QPointF m = r.center();
    QRectF sq(m.x() - s / 2, m.y() - s / 2, s, s);
    p.setBrush(Qt::NoBrush);
    switch (pic.icon) {
        case Icon::Status: {  // a screen with a pulse line
            drawScreen(p, sq.adjusted(w, w, -w, -w), c, w);
            QPainterPath pulse;
            const QRectF in = sq.adjusted(s * 0.2, s * 0.2, -s * 0.2, -s * 0.45);
            pulse.moveTo(in.left(), in.center().y());
            pulse.lineTo(in.left() + in.width() * 0.35, in.center().y());
            pulse.lineTo(in.left() + in.width() * 0.5, in.top());
            pulse.lineTo(in.left() + in.width() * 0.62, in.bottom());
            pulse.lineTo(in.left() + in.width() * 0.72, in.center().y());
            pulse.lineTo(in.right(), in.center().y());
            p.setPen(pen(QColor(255, 255, 255), w * 0.8));
            p.drawPath(pulse);
            break;
        }
        case Icon::Input: {  // an arrow going into a screen
            drawScreen(p, sq.adjusted(s * 0.3, w, -w, -w), c, w);
            p.setPen(pen(QColor(255, 255, 255), w));
            const qreal y = sq.top() + s * 0.38;
            p.drawLine(QPointF(sq.left() + w, y), QPointF(sq.left() + s * 0.55, y));
            p.drawLine(QPointF(sq.left() + s * 0.42, y - s * 0.12),
                       QPointF(sq.left() + s * 0.55, y));
            p.drawLine(QPointF(sq.left() + s * 0.42, y + s * 0.12),
                       QPointF(sq.left() + s * 0.55, y));
            break;
        }
        case Icon::Modes: {  // a 2 x 2 grid of presets
            p.setPen(Qt::NoPen);
            const qreal g = s * 0.4;
            for (int i = 0; i < 4; ++i) {
                p.setBrush(i == 0 ? c : QColor(255, 255, 255));
                p.drawRoundedRect(QRectF(sq.left() + s * 0.07 + (i % 2) * (g + s * 0.06),
                                         sq.top() + s * 0.07 + (i / 2) * (g + s * 0.06), g, g),
                                  s * 0.06, s * 0.06);
            }
            break;
        }
        case Icon::Option:
        case Icon::Tools: {  // a gear
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            QPainterPath gear;
            const int teeth = 8;
            for (int i = 0; i < teeth * 2; ++i) {
                const qreal a = M_PI * i / teeth;
                const qreal rad = (i % 2 ? 0.36 : 0.47) * s;
                const QPointF q(m.x() + rad * std::cos(a), m.y() + rad * std::sin(a));
                i == 0 ? gear.moveTo(q) : gear.lineTo(q);
            }
            gear.closeSubpath();
            QPainterPath hole;
            hole.addEllipse(m, s * 0.15, s * 0.15);
            p.drawPath(gear.subtracted(hole));
            break;
        }
        case Icon::Lock:
        case Icon::Unlock:
            drawLock(p, sq, c, pic.icon == Icon::Unlock);
            break;
        case Icon::Ip: {  // a globe
            p.setPen(pen(c, w));
            const qreal rad = s * 0.42;
            p.drawEllipse(m, rad, rad);
            p.drawEllipse(m, rad * 0.45, rad);
            p.drawLine(QPointF(m.x() - rad, m.y()), QPointF(m.x() + rad, m.y()));
            break;
        }
        case Icon::Switch: {  // a slide switch, the knob right when on
            p.setPen(Qt::NoPen);
            p.setBrush(pic.dimmed ? QColor(90, 92, 100) : c);
            const qreal h = r.height();
            p.drawRoundedRect(r, h / 2, h / 2);
            p.setBrush(QColor(255, 255, 255));
            const qreal x = pic.dimmed ? r.left() + h / 2 : r.right() - h / 2;
            p.drawEllipse(QPointF(x, m.y()), h * 0.38, h * 0.38);
            break;
        }
        case Icon::Routing:
            drawRouting(p, r, c, QString(pic.name).remove("line").toInt());
            break;
        case Icon::Pointer: {  // a triangle pointing right
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            const QPointF tri[] = {r.topLeft(), QPointF(r.right(), m.y()), r.bottomLeft()};
            p.drawPolygon(tri, 3);
            break;
        }
        case Icon::PointerLeft: {  // a triangle pointing left
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            const QPointF tri[] = {r.topRight(), QPointF(r.left(), m.y()), r.bottomRight()};
            p.drawPolygon(tri, 3);
            break;
        }
        case Icon::LedOn:
        case Icon::LedOff: {  // an LED wall, crossed out when closed
            p.setPen(Qt::NoPen);
            p.setBrush(pic.icon == Icon::LedOn ? QColor(255, 255, 255) : QColor(110, 110, 120));
            const qreal d = s * 0.16;
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    p.drawEllipse(
                        QPointF(sq.left() + s * (0.2 + 0.2 * x), sq.top() + s * (0.2 + 0.2 * y)),
                        d / 2, d / 2);
            if (pic.icon == Icon::LedOff) {
                p.setPen(pen(c, w * 1.4));
                p.drawLine(sq.topLeft() + QPointF(w, w), sq.bottomRight() - QPointF(w, w));
            }
            break;
        }
        case Icon::SoundOn:
        case Icon::SoundOff: {  // a speaker with waves, or crossed
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255));
            const QPointF body[] = {
                {sq.left() + s * 0.1, m.y() - s * 0.14},  {sq.left() + s * 0.3, m.y() - s * 0.14},
                {sq.left() + s * 0.55, m.y() - s * 0.38}, {sq.left() + s * 0.55, m.y() + s * 0.38},
                {sq.left() + s * 0.3, m.y() + s * 0.14},  {sq.left() + s * 0.1, m.y() + s * 0.14}};
            p.drawPolygon(body, 6);
            p.setPen(pen(c, w));
            if (pic.icon == Icon::SoundOn) {
                p.setBrush(Qt::NoBrush);
                p.drawArc(QRectF(m.x() - s * 0.15, m.y() - s * 0.25, s * 0.5, s * 0.5), -50 * 16,
                          100 * 16);
            } else {
                p.drawLine(QPointF(m.x() + s * 0.15, m.y() - s * 0.15),
                           QPointF(m.x() + s * 0.4, m.y() + s * 0.15));
                p.drawLine(QPointF(m.x() + s * 0.15, m.y() + s * 0.15),
                           QPointF(m.x() + s * 0.4, m.y() - s * 0.15));
            }
            break;
        }
        case Icon::Call:
        case Icon::Save: {  // a preset card with an arrow out of it or into it
            p.setPen(pen(c, w));
            p.drawRoundedRect(sq.adjusted(s * 0.1, s * 0.3, -s * 0.1, -s * 0.05), w, w);
            const bool out = pic.icon == Icon::Call;
            const QPointF top(m.x(), sq.top() + w), bottom(m.x(), m.y() + s * 0.2);
            p.drawLine(top, bottom);
            const QPointF tip = out ? top : bottom;
            const qreal dir = out ? 1 : -1;
            p.drawLine(tip, tip + QPointF(-s * 0.18, dir * s * 0.18));
            p.drawLine(tip, tip + QPointF(s * 0.18, dir * s * 0.18));
            break;
        }
        case Icon::ModeSaved:
        case Icon::ModeBlank: {  // a page, filled when a mode is saved
            p.setPen(pen(c, w));
            p.setBrush(pic.icon == Icon::ModeSaved ? QBrush(c) : QBrush(Qt::NoBrush));
            p.drawRoundedRect(sq.adjusted(s * 0.18, s * 0.08, -s * 0.18, -s * 0.08), w, w);
            if (pic.icon == Icon::ModeSaved) {
                p.setPen(pen(QColor(255, 255, 255), w));
                p.drawLine(QPointF(m.x() - s * 0.15, m.y()), QPointF(m.x() + s * 0.15, m.y()));
            }
            break;
        }
        case Icon::Check: {  // a round green check mark
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(m, s * 0.45, s * 0.45);
            QPainterPath tick;
            tick.moveTo(m.x() - s * 0.22, m.y());
            tick.lineTo(m.x() - s * 0.05, m.y() + s * 0.17);
            tick.lineTo(m.x() + s * 0.24, m.y() - s * 0.16);
            p.setPen(pen(QColor(255, 255, 255), s * 0.09));
            p.setBrush(Qt::NoBrush);
            p.drawPath(tick);
            break;
        }
        case Icon::Hdmi:
            drawConnector(p, r, c, "HDMI", true);
            break;
        case Icon::Dvi:
            drawConnector(p, r, c, "DVI", false);
            break;
        case Icon::Ext:
            drawConnector(p, r, c, "EXT", false);
            break;
        case Icon::Connector:
            drawPlainConnector(p, r, c);
            break;
        case Icon::Delete: {  // a backspace key: a left-pointing tag with a cross
            QPainterPath tag;
            tag.moveTo(sq.left() + s * 0.05, m.y());
            tag.lineTo(sq.left() + s * 0.35, sq.top() + s * 0.2);
            tag.lineTo(sq.right() - s * 0.05, sq.top() + s * 0.2);
            tag.lineTo(sq.right() - s * 0.05, sq.bottom() - s * 0.2);
            tag.lineTo(sq.left() + s * 0.35, sq.bottom() - s * 0.2);
            tag.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(tag);
            p.setPen(pen(QColor(255, 255, 255), w));
            p.drawLine(QPointF(m.x() - s * 0.05, m.y() - s * 0.14),
                       QPointF(m.x() + s * 0.23, m.y() + s * 0.14));
            p.drawLine(QPointF(m.x() - s * 0.05, m.y() + s * 0.14),
                       QPointF(m.x() + s * 0.23, m.y() - s * 0.14));
            break;
        }
        case Icon::Dot:
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(m, s * 0.45, s * 0.45);
            break;
        case Icon::Led: {  // a wall of LED modules
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            const qreal g = s * 0.42;
            for (int i = 0; i < 4; ++i)
                p.drawRect(QRectF(sq.left() + s * 0.06 + (i % 2) * (g + s * 0.04),
                                  sq.top() + s * 0.06 + (i / 2) * (g + s * 0.04), g, g));
            break;
        }
        case Icon::Bright: {  // a sun
            p.setPen(pen(c, w));
            p.setBrush(c);
            p.drawEllipse(m, s * 0.2, s * 0.2);
            for (int i = 0; i < 8; ++i) {
                const qreal a = M_PI * i / 4;
                p.drawLine(QPointF(m.x() + s * 0.3 * std::cos(a), m.y() + s * 0.3 * std::sin(a)),
                           QPointF(m.x() + s * 0.45 * std::cos(a), m.y() + s * 0.45 * std::sin(a)));
            }
            break;
        }
        case Icon::Contrast: {  // a circle, half filled
            p.setPen(pen(c, w));
            p.drawEllipse(m, s * 0.42, s * 0.42);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPie(QRectF(m.x() - s * 0.42, m.y() - s * 0.42, s * 0.84, s * 0.84), 90 * 16,
                      180 * 16);
            break;
        }
        case Icon::Menu: {  // three bars
            p.setPen(pen(c, w * 1.2));
            for (int i = 0; i < 3; ++i) {
                const qreal y = sq.top() + s * (0.25 + 0.25 * i);
                p.drawLine(QPointF(sq.left() + s * 0.15, y), QPointF(sq.right() - s * 0.15, y));
            }
            break;
        }
        case Icon::Current: {  // a filled circle with a small tick
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(m, s * 0.48, s * 0.48);
            p.setPen(pen(QColor(255, 255, 255), s * 0.14));
            p.drawLine(QPointF(m.x() - s * 0.25, m.y()),
                       QPointF(m.x() - s * 0.05, m.y() + s * 0.2));
            p.drawLine(QPointF(m.x() - s * 0.05, m.y() + s * 0.2),
                       QPointF(m.x() + s * 0.27, m.y() - s * 0.2));
            break;
        }
        case Icon::Warning: {  // a triangle with an exclamation mark
            QPainterPath tri;
            tri.moveTo(m.x(), sq.top() + w);
            tri.lineTo(sq.right() - w / 2, sq.bottom() - w / 2);
            tri.lineTo(sq.left() + w / 2, sq.bottom() - w / 2);
            tri.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(tri);
            p.setPen(pen(QColor(16, 16, 28), w));
            p.drawLine(QPointF(m.x(), sq.top() + s * 0.35), QPointF(m.x(), sq.top() + s * 0.65));
            p.drawPoint(QPointF(m.x(), sq.top() + s * 0.8));
            break;
        }
        case Icon::SpliceHorizontal:
        case Icon::SpliceVertical:
        case Icon::SpliceCopy:
            drawSplice(p, pic.icon, r, c);
            break;
        case Icon::PatternFill:
        case Icon::PatternBars:
        case Icon::PatternVLines:
        case Icon::PatternHLines:
            drawPattern(p, pic.icon, r, c);
            break;
        case Icon::Freeze: {  // a snowflake
            p.setPen(pen(c, w));
            for (int i = 0; i < 3; ++i) {
                const qreal a = M_PI * i / 3 + M_PI / 2;
                const QPointF d(s * 0.45 * std::cos(a), s * 0.45 * std::sin(a));
                p.drawLine(m - d, m + d);
            }
            break;
        }
        case Icon::Add: {  // a plus in a ring
            p.setPen(pen(c, w));
            p.drawEllipse(m, s * 0.42, s * 0.42);
            p.drawLine(QPointF(m.x() - s * 0.22, m.y()), QPointF(m.x() + s * 0.22, m.y()));
            p.drawLine(QPointF(m.x(), m.y() - s * 0.22), QPointF(m.x(), m.y() + s * 0.22));
            break;
        }
        case Icon::HintOk:  // the key caps the hint line names
        case Icon::HintBack:
            drawConnector(p, r, c, pic.icon == Icon::HintOk ? "OK" : "BACK", false);
            break;
        case Icon::Bar: {  // a rounded bar down the whole box, a notch of white at the top
            const QRectF bar = r.adjusted(r.width() * 0.25, 1, -r.width() * 0.25, -1);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawRoundedRect(bar, bar.width() / 2, bar.width() / 2);
            p.setBrush(QColor(255, 255, 255));
            p.drawEllipse(QPointF(bar.center().x(), bar.top() + bar.width()), bar.width() * 0.3,
                          bar.width() * 0.3);
            break;
        }
        case Icon::Mirror:
        case Icon::MirrorH:
        case Icon::MirrorV:
        case Icon::MirrorHV: {  // an "F"-like flag, flipped as the mode flips the picture
            const bool h = pic.icon == Icon::MirrorH || pic.icon == Icon::MirrorHV;
            const bool v = pic.icon == Icon::MirrorV || pic.icon == Icon::MirrorHV;
            p.setPen(pen(c, w));
            p.drawRoundedRect(sq.adjusted(w, w, -w, -w), s * 0.1, s * 0.1);
            p.save();
            p.translate(m);
            p.scale(h ? -1 : 1, v ? -1 : 1);
            QPainterPath flag;
            flag.moveTo(-s * 0.18, s * 0.28);
            flag.lineTo(-s * 0.18, -s * 0.28);
            flag.lineTo(s * 0.2, -s * 0.28);
            flag.moveTo(-s * 0.18, -s * 0.02);
            flag.lineTo(s * 0.1, -s * 0.02);
            p.drawPath(flag);
            p.restore();
            break;
        }
        case Icon::Update: {  // a chip with an arrow going up into it
            drawScreen(p, sq.adjusted(s * 0.15, s * 0.35, -s * 0.15, -s * 0.05), c, w);
            p.setPen(pen(QColor(255, 255, 255), w));
            p.drawLine(QPointF(m.x(), sq.top() + s * 0.05), QPointF(m.x(), m.y() + s * 0.25));
            const QPointF head[] = {QPointF(m.x() - s * 0.15, sq.top() + s * 0.2),
                                    QPointF(m.x(), sq.top() + s * 0.05),
                                    QPointF(m.x() + s * 0.15, sq.top() + s * 0.2)};
            p.drawPolyline(head, 3);
            break;
        }
        case Icon::Previous:
        case Icon::Next: {  // a chevron pointing up (previous page) or down (next page)
            p.setPen(pen(c, w * 1.5));
            const qreal dy = pic.icon == Icon::Previous ? -s * 0.2 : s * 0.2;
            const QPointF v[] = {QPointF(m.x() - s * 0.3, m.y() - dy), QPointF(m.x(), m.y() + dy),
                                 QPointF(m.x() + s * 0.3, m.y() - dy)};
            p.drawPolyline(v, 3);
            break;
        }
    }
}

// Splits at the space nearest the middle when one line is too wide.
QStringList fitLines(const QString& text, const QFont& font, qreal width) {
    if (QFontMetricsF(font).horizontalAdvance(text) <= width || !text.contains(' ')) return {text};
    int best = -1;
    for (int i = 0; i < text.size(); ++i)
        if (text[i] == ' ' &&
            (best < 0 || std::abs(i - text.size() / 2) < std::abs(best - text.size() / 2)))
            best = i;
    return {text.left(best), text.mid(best + 1)};
}

// The largest pixel size at which the words fit the box, in one or two lines.
QFont wordsFont(const QString& text, const QSizeF& box, QStringList* lines) {
    QFont f(kFontFamily);
    // Words under an icon stay small and alike from picture to picture.
    for (int px = std::min(int(box.height()), 12); px >= 6; --px) {
        f.setPixelSize(px);
        *lines = fitLines(text, f, box.width());
        const QFontMetricsF fm(f);
        qreal wide = 0;
        for (const QString& l : *lines) wide = std::max(wide, fm.horizontalAdvance(l));
        if (wide <= box.width() && fm.height() * lines->size() <= box.height() + 1) return f;
    }
    return f;
}

QImage draw(const Picture& pic, QSize size, const char* words) {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QRectF iconBox(QPointF(0, 0), QSizeF(size));
    if (words) {
        const qreal textHeight = size.height() >= 48 ? size.height() * 0.3 : size.height() / 3.0;
        iconBox.setHeight(size.height() - textHeight);
        const QRectF textBox(0, iconBox.bottom(), size.width(), textHeight);
        QStringList lines;
        const QString text = QString::fromUtf8(words);
        p.setFont(wordsFont(text, textBox.size(), &lines));
        p.setPen(QColor(255, 255, 255));
        p.drawText(textBox, Qt::AlignCenter, lines.join('\n'));
        iconBox.adjust(2, 2, -2, -1);
    }
    drawIcon(p, pic, iconBox);
    return img;
}

// Qt keeps its runtime files in a private folder named by XDG_RUNTIME_DIR and warns at every
// start without one, as in a build from a shell without a login session: the generator keeps
// one of its own in the build folder, beside its pictures.
void giveRuntimeFolder(const QString& pngDir) {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    const QByteArray dir = QFile::encodeName(QFileInfo(pngDir).absolutePath() + "/pngen-runtime");
    ::mkdir(dir.constData(), 0700);
    if (::chmod(dir.constData(), 0700) == 0) qputenv("XDG_RUNTIME_DIR", dir);
}

QSize sizeFor(const Picture& pic, int lang) {
    if (lang == 1 && !pic.english_size.isEmpty()) return pic.english_size;
    if ((lang == 2 || lang == 3) && !pic.wide_size.isEmpty()) return pic.wide_size;
    return pic.size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PNG_DIR QRC_FILE\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    giveRuntimeFolder(dir);
    QGuiApplication app(argc, argv);
    QDir().mkpath(dir);
    QStringList files;
    for (int i = 0; i < kPictureCount; ++i) {
        const Picture& pic = kPictures[i];
        const int variants = pic.words[0] ? kLanguages : 1;
        for (int lang = 0; lang < variants; ++lang) {
            const QString file = QString(kLanguagePrefix[lang]) + pic.name + ".png";
            const QImage img =
                draw(pic, sizeFor(pic, lang), pic.words[0] ? pic.words[lang] : nullptr);
            if (!img.save(dir + "/" + file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(dir + "/" + file));
                return 1;
            }
            files << file;
        }
    }
    QFile qrc(QString::fromLocal8Bit(argv[2]));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
    QTextStream out(&qrc);
    out << "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/png\">\n";
    for (const QString& f : files)
        out << "    <file alias=\"" << f << "\">png/" << f << "</file>\n";
    out << "</qresource>\n</RCC>\n";
    return 0;
}
