#include "ui/shell/lock_window.h"

#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>

#include "core/globals.h"
#include "core/json_files.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "ui/shell/main_window.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui_lock_window.h"
#include "video_io/sourceinfo.h"

LockWindow* g_lockwindow = nullptr;

namespace {

constexpr int kRamLedWidth = 1378, kRamLedHeight = 1380;
constexpr int kRamBright = 2176, kRamContrast = 2178;
constexpr int kRamAudioWindow = 2112, kWinAudio = 20;

// The home screen only shows the RAM, and shows it as the last refresh copied it (shown16): PCs
// write it meanwhile, under locks the panel does not take.
// The sound word of the audio window (window 0 when RAM 2112 names none).
int shownAudioWord() {
    const int w = store().seen[kRamAudioWindow];
    return ZemRamPara::windowAddr(w < ZemRamPara::kWindowCount ? w : 0, kWinAudio);
}

// clang-format off
const Texts kLedSize = {"LED屏:%1 x %2", "LED size:%1 x %2", "Размер LED:%1 x %2", "Led:%1 x %2", "LED屏:%1 x %2"};
// clang-format on

const char* const kTileColour[6] = {
    "background-color: #867AE9;font: 20px", "background-color: #EBA83A;font: 20px",
    "background-color: #005A8D;font: 20px", "background-color: #FF96AD;font: 20px",
    "background-color: #39A9CB;font: 20px", "background-color: #FC5404;font: 20px"};

QFont tileFont() {
    QFont font10;
    font10.setPixelSize(10);
    return font10;
}

}  // namespace

LockWindow::LockWindow(QWidget* parent) : PanelPage(kPageHome, parent), ui(new Ui::LockWindow) {
    ui->setupUi(this);
    ui->widget->installEventFilter(this);
    setIcon(ui->main_Button, pictureOf(pic::kMenuStatus), 20, 20);
    ui->main_Button->hide();
    setPicture(ui->label_ip, pictureOf(pic::kIp));
    setPicture(ui->label_LED_icon, pictureOf(pic::kLed));
    setPicture(ui->label_bright_icon, pictureOf(pic::kBright));
    setPicture(ui->label_contrast_icon, pictureOf(pic::kContrast));
    ui->label_volume->hide();
    para_init();
    image_init();
    ip_changed();
    language_changed();
    ZEM_DEBUG("\n LockWindow::LockWindow ");
}

LockWindow::~LockWindow() {
    delete ui;
    if (g_lockwindow == this) g_lockwindow = nullptr;
}

void LockWindow::ledSizeText() {
    ui->label_input->setText(text(kLedSize).arg(shown16(kRamLedWidth)).arg(shown16(kRamLedHeight)));
}

void LockWindow::para_init() {
    ledSizeText();
    ui->label_bright->setText(QString::number(shownSigned16(kRamBright)));
    ui->label_contrast->setText(QString::number(shownSigned16(kRamContrast)));
    setPicture(ui->label_volume_icon,
               pictureOf(volume_check() ? pic::kVolumeOpen : pic::kVolumeClose));
}

bool LockWindow::volume_check() const {
    return shown16(shownAudioWord()) & 0x8000;
}

void LockWindow::ip_changed() {
    ui->label_IPaddr->setText(Utils::configValue(&g_str_ip));
}

void LockWindow::language_changed() {
    ledSizeText();
    image_init();
}

void LockWindow::image_init() {
    delete tiles;
    tiles = new QFrame(this);
    tiles->setGeometry(0, 74, 320, 160);
    tiles->installEventFilter(this);
    const uint16_t closeLed = shown16(ZemRamPara::kRamCloseLed);
    for (int w = 0; w < ZemRamPara::kWindowCount; ++w) buildTile(w, tileLook(w, closeLed));
    tiles->show();
}

// A refresh rebuilds only the tiles whose look changed: rebuilding all six, each a handful of
// labels, on every refresh keeps the panel busy when refreshes come fast.
void LockWindow::updateTiles() {
    const uint16_t closeLed = shown16(ZemRamPara::kRamCloseLed);
    for (int w = 0; w < ZemRamPara::kWindowCount; ++w) {
        const TileLook look = tileLook(w, closeLed);
        if (look == tileShows[w]) continue;
        for (QLabel*& label : tileLabels[w]) {
            delete label;
            label = nullptr;
        }
        buildTile(w, look);
    }
}

LockWindow::TileLook LockWindow::tileLook(int w, uint16_t closeLed) const {
    TileLook look;
    look.current = w == g_image_current;
    const uint16_t flags = shown16(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags));
    look.shown = w == 0 || flags == 1;
    if (!look.shown) {
        look.status = text(words::kClose);
        return look;
    }
    const WindowInput in = sourceinfo::window_input(w, true);
    look.name = sourceinfo::window_name(in);
    if (!in.crop) {
        ALIAS_PARA alias;
        if (get_json_alias_para(&alias, "source", in.source) == 1)
            look.name = QFontMetrics(tileFont())
                            .elidedText(QString::fromStdString(alias.name), Qt::ElideRight, 206,
                                        Qt::TextShowMnemonic);
    }
    const uint16_t out = shown16(ZemRamPara::windowAddr(w, ZemRamPara::kWinOutFlags));
    look.status = sourceinfo::window_timing(in);
    if (look.status.isEmpty()) look.status = text(words::kNoSignal);
    if (closeLed == 1 || (out & 1)) look.status = text(words::kBlack);
    look.frozen = (out & 2) || closeLed == 2;
    return look;
}

void LockWindow::buildTile(int w, const TileLook& look) {
    const int x = 155 * (w % 2), y = 50 * (w / 2);
    const QFont font10 = tileFont();
    auto* badge = new QLabel(QString::number(w + 1), tiles);
    badge->setGeometry(10 + x, 10 + y, 40, 40);
    badge->setStyleSheet(kTileColour[w]);
    badge->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel(tiles);
    name->setGeometry(55 + x, 13 + y, 100, 15);
    name->setStyleSheet("color: rgb(255, 255, 255)");
    name->setFont(font10);
    name->setText(look.name);
    auto* status = new QLabel(look.status, tiles);
    status->setFont(font10);
    if (look.current) {
        auto* mark = new QLabel(badge);
        mark->setGeometry(28, 0, 12, 12);
        setPicture(mark, pictureOf(pic::kOsdYes));
    }
    if (look.shown) {
        status->setGeometry(55 + x, 28 + y, 100, 13);
        status->setStyleSheet("color: rgb(255, 255, 255);");
    } else {
        status->setGeometry(55 + x, 20 + y, 40, 15);
        status->setStyleSheet("color: rgb(255, 255, 255)");
    }
    if (look.frozen) {
        auto* freeze = new QLabel(badge);
        freeze->setGeometry(0, 0, 16, 16);
        setPicture(freeze, pictureOf(pic::kFreeze));
    }
    tileLabels[w][0] = badge;
    tileLabels[w][1] = name;
    tileLabels[w][2] = status;
    for (QLabel* label : tileLabels[w]) label->show();
    tileShows[w] = look;
}

void LockWindow::syncUpdate() {
    if (wordChanged(kRamLedWidth) || wordChanged(kRamLedHeight)) ledSizeText();
    if (wordChanged(kRamBright))
        ui->label_bright->setText(QString::number(shownSigned16(kRamBright)));
    if (wordChanged(kRamContrast))
        ui->label_contrast->setText(QString::number(shownSigned16(kRamContrast)));
    if (wordChanged(shownAudioWord()))
        setPicture(ui->label_volume_icon,
                   pictureOf(volume_check() ? pic::kVolumeOpen : pic::kVolumeClose));
    updateTiles();
    ip_changed();
}

// ---- Leaving ----

// A touch anywhere on the touch area or the tiles (not on the icon row) leads to the main
// menu; the touch area takes every mouse event.
bool LockWindow::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonRelease:
            on_main_Button_clicked();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            return true;
        default:
            return false;
    }
}

void LockWindow::on_main_Button_clicked() {
    panel::back(this);
}

void LockWindow::keyOk() {
    on_main_Button_clicked();
    if (g_mainwindow) g_mainwindow->show();
}
