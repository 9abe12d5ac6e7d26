#include "ui/input/image_quality.h"

#include <QLabel>

#include "ui/input/quality.h"
#include "ui/input/temperature.h"
#include "ui/shell/page_store.h"
#include "ui_image_quality.h"

ImageQuality* g_imagequality = nullptr;

namespace {
// clang-format off
const Texts kTitle = {"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"};
const Texts kQuality = {"画质", "Quality", "Качество", "Chất lượng", "畫質"};
const Texts kTemperature = {"色温", "Temperature", "Оттенок", "Độ màu", "色溫"};
// clang-format on
}  // namespace

ImageQuality::ImageQuality(QWidget* parent)
    : PanelPage(kPageImageQuality, parent), ui(new Ui::ImageQuality) {
    ui->setupUi(this);
    menu.setup(focus, {{ui->Button_quality, &kQuality,
                        [] { g_imagequality->on_Button_quality_clicked(); }},
                       {ui->Button_temperature, &kTemperature,
                        [] { g_imagequality->on_Button_temperature_clicked(); }}});
    language_changed();
}

ImageQuality::~ImageQuality() {
    delete ui;
    if (g_imagequality == this) g_imagequality = nullptr;
}

void ImageQuality::language_changed() {
    menu.retext(ui->label_title, kTitle);
}

void ImageQuality::on_Button_quality_clicked() {
    panel::open(g_quality, kPageQuality);
}

void ImageQuality::on_Button_temperature_clicked() {
    panel::open(g_temperature, kPageTemperature);
}
