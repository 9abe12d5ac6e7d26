#include "ui/input/image_layout.h"

#include <QFontMetrics>
#include <QLabel>
#include <cstring>
#include <iterator>

#include "core/json_files.h"
#include "ui/shell/list_keys.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui_image_layout.h"
#include "video_io/sourceinfo.h"

ImageLayout* g_imagelayout = nullptr;

namespace {

constexpr int kMirrorWord = 4, kOutFlagsWord = 18, kP2pWord = 22;

// Window w's block as it is now: a PC may write it meanwhile.
void copyWindowBlock(int w, uint8_t (&to)[ZemRamPara::kWindowStride])
    EXCLUDES(c331_manage::c331_mutex) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    zem::MutexLocker timings(store().mutex);
    store().copy_ram_out(uint32_t(ZemRamPara::windowAddr(w, 0)), to, sizeof to);
}

int windowSource(int w, int16_t* isCrop, char* cropIndex) EXCLUDES(c331_manage::c331_mutex) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    return store().ZemGetRamImageSource(uint8_t(w), isCrop, cropIndex);
}
constexpr int kX = 10, kY = 12, kW = 14, kH = 16;
constexpr uint16_t kP2pBit = 0x0100;

// clang-format off
const Texts kTitle = {"画面布局", "Screen layout", "Расположение", "Bố cục màn hình", "畫面佈局"};
const Texts kP2p = {"点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"};
const Texts kMirror = {"镜像", "mirror", "Отражение", "Ảnh phản chiếu", "鏡像"};
const Texts kStatePrefix = {"画面状态:", "Image state:", "Состояние:", "Trạng thái:", "畫面狀態:"};
const Texts kOn = {"开启", "ON", "Вкл", "Mở", "開啟"};
const Texts kOff = {"关闭", "OFF", "Откл", "Đóng", "關閉"};
const Texts kNamePrefix = {"名称:", "Name:", "Название:", "Tên:", "名稱:"};
const Texts kNameFormat = {"画面名称:画面%1", "Name:Image%1", "Название:Канал%1", "Tên:Hình ảnh%1", "畫面名稱:畫面%1"};
const Texts kSourcePrefix = {"信源:", "Source:", "Источник:", "Nguồn tín hiệu:", "信源:"};
const Texts kP2pItems[4] = {{"点对点关闭", "OFF", "Откл", "Đóng", "點對點關閉"},
                            {"点对点开启", "ON", "Вкл", "Mở", "點對點開啟"},
                            {"HD3,HD4水平拼接", "HD3,HD4 Hor", "Гор HD3,HD4", "Nối ngang HD3,HD4", "HD3,HD4水平拼接"},
                            {"HD3,HD4垂直拼接", "HD3,HD4 Ver", "Вер HD3,HD4", "Ghép dọc HD3,HD4", "HD3,HD4垂直拼接"}};
// clang-format on
constexpr int kP2pItemCount = int(std::size(kP2pItems));

// The list item of a point-to-point mode word (0 on, 8 horizontal, 9 vertical); -1 unknown.
int p2pItem(uint16_t mode) {
    switch (mode) {
        case 0:
            return 1;
        case 8:
            return 2;
        case 9:
            return 3;
        default:
            return -1;
    }
}

}  // namespace

ImageLayout::ImageLayout(QWidget* parent)
    : PanelPage(kPageImageLayout, parent), ui(new Ui::ImageLayout) {
    ui->setupUi(this);
    closeListOnKeys(ui->comboBox_P2P);  // a touch opens its list
    placeListOnPanel(ui->comboBox_P2P);
    // Nothing here is edited: the window's mode stays shown.
    showInForceOnTouch(ui->comboBox_P2P, [this] { return p2pShown(); });
    panel_style::apply(ui->comboBox_P2P, panel_style::kCombo, panel_style::kNormal);
    menulist_init();
    for (int i = 0; i < kP2pItemCount; ++i)
        ui->comboBox_P2P->addItem(QString());  // texted in the language
    language_changed();
}

ImageLayout::~ImageLayout() {
    delete ui;
}

void ImageLayout::menulist_init() {
    ui_select = g_image_current < ZemRamPara::kWindowCount ? g_image_current.load() : 0;
}

int ImageLayout::word(int offset) const {
    return store().rd16_locked(ZemRamPara::windowAddr(ui_select, offset));
}

void ImageLayout::language_changed() {
    ui->label_title->setText(text(kTitle));
    ui->label_P2P->setText(text(kP2p));
    ui->label_W->setText(text(words::kWidth));
    ui->label_H->setText(text(words::kHeight));
    ui->label_mirror->setText(text(kMirror));
    for (int i = 0; i < kP2pItemCount; ++i) ui->comboBox_P2P->setItemText(i, text(kP2pItems[i]));
    redraw();  // also on the return from the source page, which may have changed the window
}

void ImageLayout::image_init() {
    ui->image_state->setText(text(kStatePrefix) + text(word(ZemRamPara::kWinFlags) ? kOn : kOff));
    ui->frame_image->setGeometry(7 + 51 * ui_select, 39, 51, 49);
    panel_style::apply(ui->frame_image, panel_style::kLayoutMarker, panel_style::kFocus);
    ui->frame_image->lower();  // a border around the tab, not over it
}

void ImageLayout::image_para_update() {
    ALIAS_PARA alias;
    if (get_json_alias_para(&alias, "win", ui_select) == 1) {
        const QFontMetrics fm(ui->image_name->font());
        ui->image_name->setText(text(kNamePrefix) +
                                fm.elidedText(QString::fromStdString(alias.name), Qt::ElideRight,
                                              ui->image_name->width(), Qt::TextShowMnemonic));
    } else {
        ui->image_name->setText(QString(text(kNameFormat)).arg(ui_select + 1));
    }
    int16_t isCrop = 0;
    char cropIndex = 0;
    const int source = windowSource(ui_select, &isCrop, &cropIndex);
    ui->image_source->setText(text(kSourcePrefix) +
                              sourceinfo::get_source_name_by_sourceid(uint8_t(source)));
    ui->lineEdit_X->setText(QString::number(word(kX)));
    ui->lineEdit_Y->setText(QString::number(word(kY)));
    ui->lineEdit_W->setText(QString::number(word(kW)));
    ui->lineEdit_H->setText(QString::number(word(kH)));
    mirror_select(word(kMirrorWord));
    ui->comboBox_P2P->setCurrentIndex(p2pShown());
    panel_style::apply(ui->frame, panel_style::kLayoutFrame, panel_style::kFocus);
    copyWindowBlock(ui_select, drawn);
}

// An unknown mode shows no item rather than the last window's.
int ImageLayout::p2pShown() const {
    return word(kOutFlagsWord) & kP2pBit ? p2pItem(uint16_t(word(kP2pWord))) : 0;
}

// A mode above 3 lights none of the four.
void ImageLayout::mirror_select(int mode) {
    QLabel* const icons[4] = {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4};
    for (int i = 0; i < 4; ++i)
        setPicture(icons[i], pictureOf(i == mode ? pic::kMirrorOn[i] : pic::kMirrorOff[i]));
}

void ImageLayout::redraw() {
    image_init();
    image_para_update();
}

void ImageLayout::languageRefresh() {
    menulist_init();
    language_changed();
}

void ImageLayout::syncUpdate() {
    uint8_t now[ZemRamPara::kWindowStride];
    copyWindowBlock(ui_select, now);
    if (std::memcmp(drawn, now, sizeof drawn) != 0) redraw();
}

void ImageLayout::showWindow(int step) {
    ui_select = uint8_t((ui_select + step + ZemRamPara::kWindowCount) % ZemRamPara::kWindowCount);
    redraw();
    g_image_current = ui_select;
    store().test_signal(1);
}

void ImageLayout::slot_Button_back_clicked() {
    panel::back(this);
}
