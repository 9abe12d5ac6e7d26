#include "ui/input/temperature.h"

#include "ui/shell/list_keys.h"
#include "ui/shell/page_store.h"
#include "ui_temperature.h"

temperature* g_temperature = nullptr;

namespace {
constexpr int kPresetWord = 2184;
constexpr int kGainWord[] = {0, 2186, 2188, 2190};  // by row; row 0 is the preset
constexpr int kPresetCount = 4;

// clang-format off
const Texts kTitle = {"色温", "Temperature", "Цветовая температура", "Độ màu", "色溫"};
const Texts kType = {"色温类型", "temperature type", "Выбор цвета", "Lựa chọn độ màu", "色溫類型"};
const Texts kRed = {"红色", "Red", "Красный", "Màu đỏ", "紅色"};
const Texts kGreen = {"绿色", "Green", "Зеленый", "Màu xanh lá cây", "綠色"};
const Texts kBlue = {"蓝色", "Blue", "Синий", "Màu xanh da trời", "藍色"};
const Texts kPresets[kPresetCount] = {
    {"自定义", "custom", "Свой", "Tùy chỉnh", "自定義"},
    {"偏暖", "warm", "Теплый", "Màu ấm", "偏暖"},
    {"自然", "natural", "Природный", "Tự nhiên", "自然"},
    {"偏冷", "cool", "Холодный", "Lạnh hơn", "偏冷"}};
// clang-format on
}  // namespace

temperature::temperature(QWidget* parent)
    : PanelPage(kPageTemperature, parent), ui(new Ui::temperature) {
    ui->setupUi(this);
    closeListOnKeys(ui->comboBox_type);  // a touch opens its list
    placeListOnPanel(ui->comboBox_type);
    // The page takes no touch: the preset the keys chose stays shown.
    showInForceOnTouch(ui->comboBox_type, [this] { return int(preset); });
    para_init();
    menulist_init();
    language_changed();
}

temperature::~temperature() {
    delete ui;
}

QLineEdit* temperature::gainField(int row) const {
    QLineEdit* const fields[] = {nullptr, ui->lineEdit_name_red, ui->lineEdit_name_green,
                                 ui->lineEdit_name_blue};
    return fields[row];
}

void temperature::fillPresets() {
    ui->comboBox_type->clear();
    for (const Texts& name : kPresets) ui->comboBox_type->addItem(text(name));
}

void temperature::para_init() {
    for (int row = 1; row <= 3; ++row) edit.reread(gainField(row), pictureWord(kGainWord[row]));
    fillPresets();
    if (!preset_editing) {
        const uint16_t word = store().rd16_locked(kPresetWord);
        preset = word < kPresetCount ? uint8_t(word) : 0;
    }
    showPreset();
}

void temperature::showPreset() {
    ui->comboBox_type->setCurrentIndex(preset);
}

void temperature::menulist_init() {
    focus.setItems({{ui->comboBox_type, panel_style::kComboFilled},
                    {gainField(1), panel_style::kField},
                    {gainField(2), panel_style::kField},
                    {gainField(3), panel_style::kField}});
    saved_preset = preset;
}

void temperature::language_changed() {
    ui->label_temperature->setText(text(kTitle));
    ui->label_type->setText(text(kType));
    ui->label_name_red->setText(text(kRed));
    ui->label_name_green->setText(text(kGreen));
    ui->label_name_blue->setText(text(kBlue));
}

void temperature::languageRefresh() {
    language_changed();
    endPresetEdit();  // the list is refilled in the new language; nothing written
    para_init();
}

void temperature::syncUpdate() {
    para_init();
}

int temperature::rowWord() const {
    return kGainWord[focus.ui_select];
}

void temperature::turnPreset(int step) {
    preset = uint8_t((preset + step + kPresetCount) % kPresetCount);
    showPreset();
}

void temperature::endPresetEdit() {
    if (!preset_editing) return;
    preset_editing = 0;
    panel_style::apply(ui->comboBox_type, panel_style::kComboFilled, panel_style::kFocus);
}

void temperature::keyLeft() {
    if (preset_editing)
        turnPreset(-1);
    else if (edit.editing())
        edit.step(PictureValue::Down, rowWord());
    else
        focus.move(-1);
}

void temperature::keyRight() {
    if (preset_editing)
        turnPreset(+1);
    else if (edit.editing())
        edit.step(PictureValue::Up, rowWord());
    else
        focus.move(+1);
}

void temperature::keyOk() {
    if (preset_editing) {
        endPresetEdit();
        on_button_type_clicked();
    } else if (edit.editing()) {
        edit.end(PictureValue::Commit, rowWord());
    } else if (focus.ui_select == kPresetRow) {
        saved_preset = preset;
        preset_editing = 1;
        panel_style::apply(ui->comboBox_type, panel_style::kComboFilled, panel_style::kEdit);
    } else {
        edit.begin(gainField(focus.ui_select));
    }
}

void temperature::keyBack() {
    if (preset_editing) {
        preset = saved_preset;
        endPresetEdit();
        on_button_type_clicked();
        showPreset();
    } else if (edit.editing()) {
        edit.end(PictureValue::Revert, rowWord());
    } else {
        slot_Button_back_clicked();
    }
}

void temperature::on_button_type_clicked() {
    writePictureWord(kPresetWord, preset);
}

void temperature::slot_Button_back_clicked() {
    panel::back(this);
}
