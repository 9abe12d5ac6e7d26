#include "ui/led/test_chart.h"

#include <QLabel>
#include <mutex>

#include "c331/c331_manage.h"
#include "ui/shell/page_store.h"
#include "ui_test_chart.h"

test_chart* g_test_chart = nullptr;

namespace {

// clang-format off
const Texts kTitle = {"测试图", "Test pattern", "Тестовый образец", "Biểu đồ kiểm tra", "測試圖"};
const Texts kCloseText = {"关闭测试图", "Close", "Закрыть", "Đóng", "關閉測試圖"};
// Russian and Vietnamese number the tiles (%1) instead of naming them.
const Texts kTileNames[test_chart::kTiles] = {
    {"红色", "Red", "Тест %1", "Kiểm tra %1", "紅色"},
    {"绿色", "Green", "Тест %1", "Kiểm tra %1", "綠色"},
    {"蓝色", "Blue", "Тест %1", "Kiểm tra %1", "藍色"},
    {"白色", "White", "Тест %1", "Kiểm tra %1", "白色"},
    {"黑色", "Black", "Тест %1", "Kiểm tra %1", "黑色"},
    {"色带", "Colour bar", "Тест %1", "Kiểm tra %1", "色帶"},
    {"竖线", "Vertical line", "Тест %1", "Kiểm tra %1", "豎線"},
    {"横线", "Horizontal line", "Тест %1", "Kiểm tra %1", "橫線"},
};
// clang-format on

QString tileName(int tile) {
    const QString t = text(kTileNames[tile]);
    return t.contains("%1") ? t.arg(tile + 1) : t;
}

// RAM 864 and the apply flag, together under the C331 mutex.
void setPattern(uint8_t pattern) EXCLUDES(c331_manage::c331_mutex) {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    c331_manage::raise_apply(1);
    store().ram[ZemRamPara::kRamTestPattern] = pattern;
}

}  // namespace

test_chart::test_chart(QWidget* parent)
    : PanelPage(kPageTestChart, parent), ui(new Ui::test_chart) {
    ui->setupUi(this);
    for (int t = 0; t < kTiles; ++t) setPicture(tile(t), pictureOf(pic::kTestPattern[t]));
    menulist_init();
    language_changed();
}

test_chart::~test_chart() {
    delete ui;
}

QLabel* test_chart::tile(int t) const {
    QLabel* const tiles[kTiles] = {ui->label_test1, ui->label_test2, ui->label_test3,
                                   ui->label_test4, ui->label_test5, ui->label_test6,
                                   ui->label_test7, ui->label_test8};
    return tiles[t];
}

void test_chart::menulist_init() {
    std::vector<FocusRing::Item> items;
    for (int t = 0; t < kTiles; ++t) items.push_back({tile(t), panel_style::kPatternTile});
    items.push_back({ui->Button_closetest, panel_style::kPatternClose});
    focus.setItems(items, 0);
    // Close keeps the form's look until it has had the focus.
    panel_style::apply(ui->Button_closetest, panel_style::kButton, panel_style::kNormal);
}

void test_chart::language_changed() {
    ui->label_testimage->setText(text(kTitle));
    QLabel* const names[kTiles] = {ui->label_red,   ui->label_green, ui->label_blue,
                                   ui->label_white, ui->label_black, ui->label_color,
                                   ui->label_hline, ui->label_wline};
    for (int t = 0; t < kTiles; ++t) names[t]->setText(tileName(t));
    ui->Button_closetest->setText(text(kCloseText));
}

void test_chart::keyOk() {
    if (focus.ui_select == kClose)
        slot_Button_back_clicked();
    else
        slot_Button_on_clicked();
}

void test_chart::slot_Button_on_clicked() {
    setPattern(focus.ui_select < kTiles ? uint8_t(focus.ui_select + 1) : 0);
}

void test_chart::slot_Button_back_clicked() {
    setPattern(0);
    panel::back(this);
}
