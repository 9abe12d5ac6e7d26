#include "ui/input/quality.h"

#include "ui/shell/page_store.h"
#include "ui_quality.h"

quality* g_quality = nullptr;

namespace {
// Row order on the page puts sharpness above contrast.
constexpr int kRowWord[] = {2176, 2180, 2178, 2182};

// clang-format off
const Texts kTitle = {"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"};
const Texts kBright = {"亮度", "Brightness", "Яркость", "Độ sáng", "亮度"};
const Texts kSharpness = {"锐度", "Sharpness", "Резкость", "Độ sắc nét", "銳度"};
const Texts kContrast = {"对比度", "Contrast", "Контраст", "Độ tương phản", "對比度"};
const Texts kSaturation = {"饱和度", "Saturation", "Насыщенность", "Độ bão hòa", "飽和度"};
const Texts kReset = {"画质复位", "Reset", "Сбросить", "Đặt lại chất lượng hình ảnh", "畫質復位"};
const Texts kPressOk = {"点击OK应用", "Press Ok", "Нажмите ОК", "Đồng ý", "點擊OK應用"};
// clang-format on
}  // namespace

quality::quality(QWidget* parent) : PanelPage(kPageQuality, parent), ui(new Ui::quality) {
    ui->setupUi(this);
    para_init();
    menulist_init();
    language_changed();
}

quality::~quality() {
    delete ui;
}

QLineEdit* quality::valueField(int row) const {
    QLineEdit* const fields[] = {ui->lineEdit_bright, ui->lineEdit_Sharpness, ui->lineEdit_Contrast,
                                 ui->lineEdit_Saturation};
    return fields[row];
}

void quality::para_init() {
    for (int row = 0; row < 4; ++row) edit.reread(valueField(row), pictureWord(kRowWord[row]));
}

void quality::menulist_init() {
    std::vector<FocusRing::Item> items;
    for (int row = 0; row < 4; ++row) items.push_back({valueField(row), panel_style::kField});
    items.push_back({ui->lineEdit_Reset, panel_style::kField});
    focus.setItems(std::move(items));
}

void quality::language_changed() {
    ui->label_quality->setText(text(kTitle));
    ui->label_bright->setText(text(kBright));
    ui->label_Sharpness->setText(text(kSharpness));
    ui->label_Contrast->setText(text(kContrast));
    ui->label_Saturation->setText(text(kSaturation));
    setFittedText(ui->label_reset, text(kReset));
    ui->lineEdit_Reset->setText(text(kPressOk));
}

void quality::syncUpdate() {
    para_init();
}

int quality::rowWord() const {
    return focus.ui_select < kResetRow ? kRowWord[focus.ui_select] : -1;
}

void quality::keyLeft() {
    if (edit.editing())
        edit.step(PictureValue::Down, rowWord());
    else
        focus.move(-1);
}

void quality::keyRight() {
    if (edit.editing())
        edit.step(PictureValue::Up, rowWord());
    else
        focus.move(+1);
}

void quality::keyOk() {
    if (edit.editing())
        edit.end(PictureValue::Commit, rowWord());
    else if (focus.ui_select == kResetRow)
        on_Button_reset_clicked();
    else
        edit.begin(valueField(focus.ui_select));
}

void quality::keyBack() {
    if (edit.editing())
        edit.end(PictureValue::Revert, rowWord());
    else
        slot_Button_back_clicked();
}

void quality::on_Button_reset_clicked() {
    resetPictureWords();
    para_init();
}

void quality::slot_Button_back_clicked() {
    panel::back(this);
}
