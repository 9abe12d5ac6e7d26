#include "ui/system/firmware_update.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QWindow>

#include "core/globals.h"
#include "ui/shell/main_window.h"
#include "ui/shell/panel_frame.h"
#include "ui/shell/panel_view.h"
#include "ui_firmware_update.h"

FirmwareUpdate* g_move_update = nullptr;

namespace {

constexpr int kIconSize = 64;
constexpr int kTextTop = 200;
constexpr int kTextHeight = 17;

// Chinese where that language is in force, English in every other case.
QString baseText(int* charWidth) {
    static Texts kBase = {"升级中，请勿断电 ", "Updating ", "Updating ", "Updating ",
                          "升級中，請勿斷電 "};
    const int lang = panelLanguage();
    if (charWidth) *charWidth = (lang == 0 || lang == 4) ? 13 : 15;
    return text(kBase);
}

// How many of the `ticks` ticks after `from` are multiples of k.
uint32_t multiples(uint32_t from, uint32_t ticks, uint32_t k) {
    return uint32_t((uint64_t(from % k) + ticks) / k);
}

}  // namespace

FirmwareUpdate::FirmwareUpdate(QWidget* parent) : QDialog(parent), ui(new Ui::FirmwareUpdate) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFixedSize(320, 240);
    setAttribute(Qt::WA_DeleteOnClose);
    icon_label = new QLabel(this);
    icon_label->setObjectName("label_icon");
    icon_label->setGeometry(128, kIconTop, kIconSize, kIconSize);
    setPicture(icon_label, pictureOf(pic::kUpdate));
    icon_x = icon_label->x();
    icon_y = icon_label->y();
    text_label = new QLabel(this);
    text_label->setObjectName("label_text");
    text_label->setAlignment(Qt::AlignCenter);
    text_label->setStyleSheet("color: #FFFFFF;font: 13px");
    language_changed();
    // Modal to the whole panel, so that no window beneath it takes a key, whichever window the
    // platform gives the focus; shown with show(), its start still returns at once. A window
    // the platform puts over it goes under it again while it shows.
    setWindowModality(Qt::ApplicationModal);
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
        if (focus != windowHandle()) panel::raiseShown(this);
    });
}

FirmwareUpdate::~FirmwareUpdate() {
    delete ui;
}

void FirmwareUpdate::language_changed() {
    int charWidth = 0;
    const QString base = baseText(&charWidth);
    const int w = charWidth * base.size();
    text_label->setText(base);
    text_label->setGeometry((320 - w) / 2, kTextTop, w, kTextHeight);
}

// The pages beneath can't be seen: their keys end here, Escape and Enter included.
void FirmwareUpdate::keyPressEvent(QKeyEvent* e) {
    e->accept();
}

void FirmwareUpdate::keyReleaseEvent(QKeyEvent* e) {
    e->accept();
}

void FirmwareUpdate::update_time_deal(uint32_t from, uint32_t ticks) {
    // The icon is back where it was after a whole cycle down and up.
    constexpr uint32_t kIconCycle = 2 * (kIconBottom - kIconTop);
    for (uint32_t n = multiples(from, ticks, 2) % kIconCycle; n; --n) handleTimerID1();
    for (uint32_t n = multiples(from, ticks, 100); n; --n) handleTimerID2();
    repaint();
}

void FirmwareUpdate::handleTimerID1() {
    const int y = icon_label->y();
    if (direction) {
        icon_y = y != kIconBottom ? y + 1 : kIconBottom - 1;
        if (y == kIconBottom) direction = 0;
    } else {
        icon_y = y != kIconTop ? y - 1 : kIconTop + 1;
        if (y == kIconTop) direction = 1;
    }
    icon_label->setGeometry(icon_x, icon_y, kIconSize, kIconSize);
}

void FirmwareUpdate::handleTimerID2() {
    static const char* const kDots[3] = {"...", ".", ".."};
    ++text_steps;
    const QString line = baseText(nullptr) + kDots[text_steps % 3];
    const int w = 13 * line.size();
    text_label->setText(line);
    text_label->setGeometry((320 - w) / 2, kTextTop, w, kTextHeight);
}

void firmware_update_start() {
    if (!g_move_update) {
        g_move_update = new FirmwareUpdate(nullptr);
        if (g_mainwindow) g_move_update->move(g_mainwindow->pos());  // over the whole panel
    }
    g_move_update->show();
    panel::raiseShown(g_move_update);  // shown already, under a page opened since
}

void firmware_update_over() {
    // The end of one path's update leaves the overlay of another's that still runs.
    if (!g_move_update || g_update_flag != 0) return;
    g_move_update->close();
    g_move_update = nullptr;
    ZEM_DEBUG("\n update_over !!!");
}
