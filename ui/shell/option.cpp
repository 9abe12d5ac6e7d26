#include "ui/shell/option.h"

#include <QDebug>
#include <QLabel>

#include "ui/input/image_layout.h"
#include "ui/input/image_quality.h"
#include "ui/input/input_cut.h"
#include "ui/input/link_option.h"
#include "ui/input/output_set.h"
#include "ui/led/smart_mapping.h"
#include "ui/led/test_chart.h"
#include "ui/shell/advanced_option.h"
#include "ui/shell/page_store.h"
#include "ui_option.h"

Option* g_option = nullptr;

namespace {

const Texts kTitle = {"设置", "Setting", "Настройки", "Cài đặt", "設置"};

// An entry's picture and its icon width per language (all 60 high).
struct Face {
    PictureName picture;
    int width[kLanguageCount];
};
const Face kFaces[8] = {
    {pic::kOutputSet, {55, 75, 55, 55, 55}},    {pic::kInputCut, {55, 70, 70, 70, 55}},
    {pic::kImageLayout, {55, 70, 55, 55, 55}},  {pic::kLinkSet, {55, 70, 70, 70, 55}},
    {pic::kImageQuality, {55, 75, 55, 55, 55}}, {pic::kTestChart, {55, 55, 55, 55, 55}},
    {pic::kSmartMapping, {55, 55, 55, 55, 55}}, {pic::kAdvanceButton, {55, 54, 70, 54, 55}},
};
constexpr int kEnglish = 1;

}  // namespace

Option::Option(QWidget* parent) : PanelPage(kPageOption, parent), ui(new Ui::Option) {
    ui->setupUi(this);
    setPicture(ui->label_note_OK, pictureOf(pic::kOkEnter));
    setPicture(ui->label_note_back, pictureOf(pic::kBackReturn));
    focus.setItems({{ui->output_set, panel_style::kMenuWords},
                    {ui->input_cut, panel_style::kMenuWords},
                    {ui->image_layout, panel_style::kMenuWords},
                    {ui->link_set, panel_style::kMenuWords},
                    {ui->image_quality, panel_style::kMenuWords},
                    {ui->test_chart, panel_style::kMenuWords},
                    {ui->smart_mapping, panel_style::kMenuWords},
                    {ui->AdvanceButton, panel_style::kMenuWords}});
    language_changed();
}

Option::~Option() {
    delete ui;
    if (g_option == this) g_option = nullptr;
}

void Option::language_changed() {
    smart_mapping_valid = 1;
    const int lang = panelLanguage();
    ui->label_title->setText(text(kTitle));
    QPushButton* const buttons[8] = {ui->output_set,    ui->input_cut,     ui->image_layout,
                                     ui->link_set,      ui->image_quality, ui->test_chart,
                                     ui->smart_mapping, ui->AdvanceButton};
    for (int i = 0; i < 8; ++i) {
        const bool englishAdvance = i == 7 && lang == kEnglish;
        const QString file = picture(englishAdvance ? pic::kAdvanceOption : kFaces[i].picture);
        setIcon(buttons[i], file, kFaces[i].width[lang], 60);
    }
}

// The disabled Smart mapping button takes no click: OK calls its entry itself.
void Option::keyOk() {
    switch (focus.ui_select) {
        case 6:
            return on_smart_mapping_clicked();
        default:
            return PageFrame::keyOk();
    }
}

void Option::slot_Button_back_clicked() {
    panel::back(this);
}

void Option::syncUpdate(int id) {
    // A USB disk mounted: the menu gives way to the main menu.
    if (id == 102) slot_Button_back_clicked();
}

// ---- Entries ----

void Option::on_output_set_clicked() {
    panel::open(g_outputset, kPageOutputSet);
}

void Option::on_input_cut_clicked() {
    panel::open(g_inputcut, kPageInputCut);
}

void Option::on_image_layout_clicked() {
    panel::open(g_imagelayout, kPageImageLayout);
}

void Option::on_link_set_clicked() {
    panel::open(g_linkoption, kPageLinkOption);
}

void Option::on_image_quality_clicked() {
    panel::open(g_imagequality, kPageImageQuality);
}

void Option::on_test_chart_clicked() {
    panel::open(g_test_chart, kPageTestChart);
}

void Option::on_smart_mapping_clicked() {
    if (!smart_mapping_valid) return;
    panel::open(g_smartmapping, kPageSmartMapping);
}

void Option::on_AdvanceButton_clicked() {
    panel::open(g_advancedoption, kPageAdvancedOption);
}
