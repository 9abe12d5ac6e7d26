#include "ui/shell/tip.h"

#include <QFrame>
#include <QLabel>

#include "core/globals.h"
#include "ui/shell/panel_frame.h"
#include "ui/shell/panel_view.h"
#include "ui_tip.h"

TIP* g_tip = nullptr;
uint8_t g_tip_flag = 0;

namespace {

// clang-format off
const Texts kUsbIn = {"U盘已接入\n请稍候…", "USB drive is connected,please wait...",
                      "USB-накопитель подключен,\nпожалуйста,подождите...",
                      "Usb đã truy cập\nxin vui lòng chờ …", "U盤已接入\n請稍候…"};
const Texts kUsbOut = {"U盘已拔出", "USB drive is unplugged.", "USB-накопитель\nотключен.",
                       "USB đã được rút ra.", "U盤已拔出"};
const Texts kReading = {"正在读取中，请稍候…", "Reading the data,pls wait",
                        "Чтение данных,\nпожалуйста,подождите",
                        "Đang đọc,xin vui lòng chờ …", "正在讀取中，請稍候…"};
const Texts kUnfinished = {"升级未完成", "The update did not finish.",
                           "Обновление не завершено.", "Cập nhật chưa hoàn tất.", "升級未完成"};
// clang-format on

}  // namespace

TIP::TIP(QWidget* parent) : QDialog(parent), ui(new Ui::TIP) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

TIP::~TIP() {
    delete ui;
}

void TIP::tip_create(int type) {
    delete frame_;
    frame_ = nullptr;
    const Texts* words = type == 3                   ? &kUsbIn
                         : type == 4                 ? &kUsbOut
                         : type == 5                 ? &kReading
                         : type == kUpdateUnfinished ? &kUnfinished
                                                     : nullptr;
    if (type != 1 && !words) return;
    const QRect box = type == 1 ? QRect(0, 0, 120, 120) : QRect(0, 0, 220, 120);
    setGeometry(type == 1 ? QRect(100, 60, 120, 120) : QRect(50, 60, 220, 120));
    frame_ = new QFrame(this);
    frame_->setGeometry(box);
    frame_->setStyleSheet("background-color:rgb(136, 138, 133);");
    auto* label = new QLabel(frame_);
    if (type == 1) {
        label->setGeometry(20, 20, 80, 80);
        setPicture(label, pictureOf(pic::kCheck));
        label->raise();
    } else {
        label->setGeometry(5, 5, 200, 100);
        label->setStyleSheet("font: 15px");
        label->setAlignment(Qt::AlignCenter);
        // The English lines are wider than the label; they wrap instead of being cut.
        label->setWordWrap(true);
        label->setText(text(*words));
    }
    frame_->show();
    tip_show();
}

void TIP::tip_show() {
    // A tip created while one is shown only replaces the contents; the running one keeps its
    // time-out and its loop.
    if (g_tip_flag) {
        comeInFront();
        return;
    }
    if (panel::overlayShown()) return;  // unseen under it, and its loop would take the keys
    g_tip_flag = 1;
    exec();
}

void TIP::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    comeInFront();
}

void TIP::comeInFront() {
    // Over any page opened since the tip was last shown (a window shown again keeps its old
    // place in a display's stack), but not over the upgrade overlay.
    if (!g_update_flag) panel::raiseShown(this);
}

void TIP::tip_outtime_deal(uint32_t ticks) {
    ticks_ += ticks;
    if (ticks_ < uint32_t(kShowTicks)) return;
    hide();
    ticks_ = 0;
    g_tip_flag = 0;
    ZEM_DEBUG("\n tip over! ");
}
