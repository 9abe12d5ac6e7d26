#include "ui/shell/qround_progress_bar.h"

#include <QDialog>
#include <QPainter>
#include <QPainterPath>

#include "core/globals.h"
#include "ui/shell/panel_frame.h"

QPointer<QRoundProgressBar> g_qround_bar;

QRoundProgressBar::QRoundProgressBar(QWidget* parent, BarStyle style)
    : QWidget(parent), style_(style) {}

void QRoundProgressBar::create_qround_bar(QDialog* page) {
    if (g_qround_bar) return;
    g_qround_bar = new QRoundProgressBar(page, StyleDonut);
    g_qround_bar->setGeometry(120, 70, 100, 100);
    g_qround_bar->setValue(0);
    g_qround_bar->show();
    ZEM_DEBUG("\n create_qround_bar");
}

void QRoundProgressBar::setValue(int value) {
    const double v = qBound(kMinimum, double(value), kMaximum);
    if (v == value_) return;
    value_ = v;
    update();
}

void QRoundProgressBar::para_sync(int progress) {
    if (!g_qround_bar) return;
    if (progress > 99) {
        g_qround_bar->close();
        g_qround_bar = nullptr;
        return;
    }
    g_qround_bar->setValue(progress);
}

void QRoundProgressBar::paintEvent(QPaintEvent*) {
    const double w = width();
    const QRectF base(0, 0, w, w);
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    p.fillRect(base, QColor(255, 255, 255, 0));

    const double inner = 0.9 * w;
    const QRectF ring((w - inner) * 0.5, (w - inner) * 0.5, inner, inner);
    QPainterPath track;
    track.setFillRule(Qt::OddEvenFill);
    track.moveTo(base.center());
    track.addEllipse(ring);
    p.setPen(QPen(QColor("#DEE3E7"), 10));
    p.setBrush(QColor("#FFFFFF"));
    p.drawPath(track);

    if (value_ != kMinimum) {
        const double degrees = value_ * 360 / (kMaximum - kMinimum);
        p.setPen(QPen(QColor("#2F8DED"), 10, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(ring, int(kStartAngle * 16), -int(degrees * 16));
    }

    const double percent = (value_ - kMinimum) / (kMaximum - kMinimum) * 100;
    QFont font(kPanelFontFamily);
    font.setPixelSize(36);
    p.setFont(font);
    p.setPen(QColor("#606266"));
    p.drawText(base, Qt::AlignCenter, QString::number(percent, 'f', kDecimals) + "%");
}
