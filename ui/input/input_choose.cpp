#include "ui/input/input_choose.h"

#include <QDebug>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>

#include "core/globals.h"
#include "core/json_files.h"
#include "core/zem_ram_para.h"
#include "ui/input/edid_set.h"
#include "ui/input/input_cut.h"
#include "ui/input/source_row.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui/shell/tip.h"
#include "ui_input_choose.h"
#include "video_io/sourceinfo.h"

InputChoose* g_inputchoose = nullptr;

namespace {

constexpr int kEntriesPerPage = 3;
constexpr int kMaxEntries = 100;
constexpr int kCropTableEnd = ZemRamPara::kRamCropTable + 10 * ZemRamPara::kCropCount;

const char* const kCellFocus = "#source_frame{border:1px solid #FFAB54;border-radius:5px;}";
const char* const kCellInUse = "#source_frame{border:1px solid #00D65B;border-radius:5px;}";
const char* const kCellOther = "#source_frame{border:1px solid #CCCCCC;border-radius:5px;}";
const char* const kBadge =
    "background-color: #00D65B;color: rgb(255, 255, 255);font: 7px;border-radius:5px;";
const char* const kCellText = "color: rgb(255, 255, 255)";
const char* const kTabColour[6] = {
    "background-color: #867AE9;font: 9px", "background-color: #005A8D;font: 9px",
    "background-color: #39A9CB;font: 9px", "background-color: #EBA83A;font: 9px",
    "background-color: #FF96AD;font: 9px", "background-color: #D5E5FF;font: 9px"};

// clang-format off
const Texts kTitle = {"信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn", "信源切換"};
const Texts kInputCut = {"输入截取", "Input intercept", "Обрезка", "Cắt", "輸入截取"};
const Texts kEdid = {"设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"};
// clang-format on

// A window gets a tab when it is window 0 or the low byte of its on/off word is exactly 1.
bool hasTab(int w) EXCLUDES(c331_manage::c331_mutex) {
    return w == 0 ||
           (store().rd16_locked(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) & 0xFF) == 1;
}

QLabel* label(QWidget* parent, const QRect& r, const QString& text, const char* style) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(r);
    l->setStyleSheet(style);
    return l;
}

}  // namespace

InputChoose::InputChoose(QWidget* parent)
    : PanelPage(kPageInputChoose, parent), ui(new Ui::InputChoose) {
    ui->setupUi(this);
    menulist_init();
    store().ZemCropSourceInit();
    crop_source_num_update();
    initMenu();
    ui_select = uint8_t(tabOf(current_window));
    saved_tab = ui_select;
    image_select();
    language_changed();
}

InputChoose::~InputChoose() {
    delete ui;
}

void InputChoose::menulist_init() {
    ui_seltype = 0;
    ui_select = 0;
    current_page = 0;
    source_id = 0;
    const uint8_t selected = g_image_current;
    current_window = selected < ZemRamPara::kWindowCount && hasTab(selected) ? selected : 0;
}

void InputChoose::language_changed() {
    ui->label_title->setText(text(kTitle));
    ui->button_inputcut->setText(text(kInputCut));
    ui->button_EDID->setText(text(kEdid));
    initSource();  // the list's words
}

int InputChoose::tabOf(int window) const {
    for (int k = 0; k < tab_count; ++k)
        if (tab_windows[k] == window) return k;
    return -1;
}

// ---- Tabs ----

QString InputChoose::TextCreate(int window) const {
    return sourceinfo::window_name(sourceinfo::window_input(window));
}

void InputChoose::initMenu() {
    delete tab_bar;
    tab_bar = new QFrame(this);
    tab_bar->setGeometry(0, 42, 320, 47);
    std::fill(std::begin(tab_sources), std::end(tab_sources), nullptr);
    int k = 0;
    for (int w = 0; w < ZemRamPara::kWindowCount; ++w) {
        if (!hasTab(w)) continue;
        auto* tab =
            label(tab_bar, QRect(10 + 50 * k, 3, 45, 40), QString::number(w + 1), kTabColour[w]);
        tab->setAlignment(Qt::AlignCenter);
        tab_sources[w] = label(tab, QRect(0, 1, 30, 12), TextCreate(w), "");
        auto* mark = new QLabel(tab);
        mark->setGeometry(33, 1, 7, 7);
        setPicture(mark, pictureOf(pic::kStateOn));
        tab_windows[k++] = uint8_t(w);
    }
    tab_count = uint8_t(k);
    tab_focus = new QFrame(tab_bar);
    placeTabFocus();
    tab_bar->show();
}

void InputChoose::placeTabFocus() {
    if (!tab_focus) return;
    const int k = ui_seltype == 0 ? ui_select : saved_tab;
    if (ui_seltype == 0 && k >= tab_count) {
        panel_style::apply(tab_focus, panel_style::kSourceTabRing, panel_style::kNormal);
        return;
    }
    panel_style::apply(tab_focus, panel_style::kSourceTabRing,
                       ui_seltype == 0 ? panel_style::kFocus : panel_style::kChosen);
    tab_focus->setGeometry(7 + 50 * k, 0, 51, 46);
    // Under the tabs: its border shows around the tab, and the page's background colour, which
    // every child takes, does not cover the tab.
    tab_focus->lower();
}

void InputChoose::input_source_changed(int window) {
    if (tab_sources[window]) tab_sources[window]->setText(TextCreate(window));
}

// ---- Source row ----

void InputChoose::crop_source_num_update() {
    for (int s = 0; s < sourceinfo::kSources; ++s)
        choice_counts[s] = uint8_t(store().ZemGetCropCount(s) + 1);
    source_name_update();
    source_check_update();
}

void InputChoose::source_name_update() {
    QLabel* const names[6] = {ui->sourcelistseq0name, ui->sourcelistseq1name,
                              ui->sourcelistseq2name, ui->sourcelistseq3name,
                              ui->sourcelistseq4name, ui->sourcelistseq5name};
    sourceRowNames(names, choice_counts);
}

void InputChoose::source_check_update() {
    QLabel* const icons[6] = {ui->sourcelistseq0pixmap, ui->sourcelistseq1pixmap,
                              ui->sourcelistseq2pixmap, ui->sourcelistseq3pixmap,
                              ui->sourcelistseq4pixmap, ui->sourcelistseq5pixmap};
    for (int p = 0; p < sourceinfo::kSources; ++p) {
        const uint8_t s = sourceinfo::get_source_id_by_listseq(uint8_t(p));
        sourceinfo::set_sourceonline_pixmap(icons[p], s, sourceinfo::has_signal(s));
    }
}

// ---- Crop area ----

int InputChoose::source_current_check() {
    const int entries = store().ZemGetCropCount(source_number) + 1;
    last_page = uint8_t((entries + kEntriesPerPage - 1) / kEntriesPerPage - 1);
    return entries;
}

// The list position of the choice in use: 0 for the whole source; for a crop, the position of
// the crop the window's record names (by its own crop number, so a table out of crop-number
// order still marks the right entry); -1 when the record names no crop of this source.
int InputChoose::inUsePosition() const {
    if (!source_type) return 0;
    if (crop_id >= ZemRamPara::kCropCount) return -1;
    const uint16_t id = store().rd16_locked(ZemRamPara::kRamCropTable + 10 * crop_id);
    if (!(id & 0x8000) || (id & 0xFF) != source_number) return -1;
    const int number = ((id >> 8) & 0x7F) + 1;
    for (int e = 1; e <= ZemRamPara::kCropCount; ++e) {
        const int c = store().ZemGetCropID(source_number, e);
        if (c == 0) break;
        if (c == number) return e;
    }
    return -1;
}

void InputChoose::initSource() {
    uint8_t inUseSource = source_id;
    if (ui_seltype == 0) {
        const WindowInput in = sourceinfo::window_input(current_window);
        source_number = in.source;
        source_type = in.crop;
        crop_id = uint8_t(in.record < 0 ? 0xFF : in.record);
        inUseSource = source_number;
    } else {
        source_number = sourceinfo::get_source_id_by_listseq(source_pos);
    }
    const int entries = source_current_check();
    const int cells =
        std::max(0, std::min(entries - kEntriesPerPage * current_page, kEntriesPerPage));
    const int inUse = source_number == inUseSource ? inUsePosition() : -1;
    delete frame;
    frame = new QFrame(this);
    frame->setObjectName("frame");
    frame->setGeometry(1, 127, 318, 70);
    panel_style::apply(frame, panel_style::kLayoutFrame,
                       ui_seltype == 1 ? panel_style::kFocus : panel_style::kChosen);
    QFont font10;
    font10.setPixelSize(10);
    const QString sourceName = sourceinfo::get_source_name_by_sourceid(source_number);
    for (int i = 0; i < cells; ++i) {
        const int e = kEntriesPerPage * current_page + i;
        auto* cell = new QFrame(frame);
        cell->setObjectName("source_frame");
        cell->setGeometry(14 + 95 * i, 10, 92, 50);
        const bool focused = ui_seltype == 2 && ui_select == i;
        cell->setStyleSheet(focused ? kCellFocus : e == inUse ? kCellInUse : kCellOther);
        auto* state = new QLabel(cell);
        state->setGeometry(3, 5, 7, 7);
        setPicture(state, pictureOf(e == inUse ? pic::kStateOn : pic::kStateOff));
        auto* input = new QLabel(cell);
        input->setGeometry(12, 5, 25, 8);
        sourceinfo::set_source_pixmap(input, source_number);
        QString name = sourceName, size;
        if (e == 0) {
            size = sourceinfo::timing_text(source_number);
        } else {
            CROP_PARA crop{};
            int record = ZemRamPara::kCropCount;
            store().ZemGetCropPara(source_number, e, &crop, &record);
            if (record < ZemRamPara::kCropCount) {
                name = aliasName("crop", record, font10, 80);
                if (name.isEmpty())
                    name = sourceName + QString("_crop%1").arg(((crop.para[0] >> 8) & 0x7F) + 1);
                size = QString("%1x%2").arg(crop.para[3]).arg(crop.para[4]);
            }
        }
        if (size.isEmpty()) size = text(words::kNoSignal);
        label(cell, QRect(3, 15, 80, 13), name, kCellText)->setFont(font10);
        label(cell, QRect(3, 30, 88, 13), size, kCellText)->setFont(font10);
        if (e == inUse) {
            auto* badge = label(cell, QRect(60, 0, 30, 12), QString(), kBadge);
            setFittedText(badge, text(words::kUsing));
            badge->setAlignment(Qt::AlignCenter);
        }
    }
    frame->lower();
    frame->show();
    ZEM_DEBUG("\n InputChoose level %d select %d page %d source %d type %d crop %d\n", ui_seltype,
              ui_select, current_page, source_number, source_type, crop_id);
}

void InputChoose::on_Button_source_clicked() {
    initSource();
    ui->frame1->setGeometry(1 + 53 * source_pos, 95, 53, 33);
    panel_style::apply(ui->frame1, panel_style::kLayoutMarker,
                       ui_seltype == 1 ? panel_style::kFocus : panel_style::kChosen);
}

// ---- Level 0 ----

bool InputChoose::imagemenu() {
    if (ui_select < tab_count) {
        current_window = tab_windows[ui_select];
        saved_tab = ui_select;
        panel_style::apply(ui->button_inputcut, panel_style::kButton, panel_style::kNormal);
        panel_style::apply(ui->button_EDID, panel_style::kButton, panel_style::kNormal);
        placeTabFocus();
        if (g_image_current == current_window) return false;
        g_image_current = current_window;
        return true;
    }
    placeTabFocus();
    panel_style::apply(ui->button_inputcut, panel_style::kButton,
                       ui_select == kButtonInputCut ? panel_style::kFocus : panel_style::kNormal);
    panel_style::apply(ui->button_EDID, panel_style::kButton,
                       ui_select == kButtonEdid ? panel_style::kFocus : panel_style::kNormal);
    return false;
}

// The focus moved at level 0: the page follows it, and only then announces a newly selected
// window (the refresh runs inside that call on the GUI thread and finds the page settled).
void InputChoose::followFocus() {
    const bool selected = imagemenu();
    image_select();
    if (selected) store().test_signal(1);
}

void InputChoose::image_select() {
    current_page = 0;
    if (ui_seltype == 0) {
        const WindowInput in = sourceinfo::window_input(current_window);
        source_pos = sourceinfo::get_listseq_by_source_id(in.source);
        source_id = in.source;
    } else if (ui_seltype == 1) {
        source_pos = ui_select;
    }
    on_Button_source_clicked();
}

void InputChoose::para_uiselect_init() {
    current_page = 0;
    ui_select = 0;
    const WindowInput in = sourceinfo::window_input(current_window);
    if (source_number != in.source || !in.crop) return;
    const int pos = inUsePosition();
    if (pos == 1 || pos == 2) ui_select = uint8_t(pos);
}

// ---- Keys ----

void InputChoose::keyLeft() {
    if (ui_seltype == 0) {
        if (ui_select == 0)
            ui_select = kButtonEdid;
        else if (ui_select == kButtonInputCut)
            ui_select = uint8_t(tab_count - 1);
        else
            --ui_select;
        followFocus();
    } else if (ui_seltype == 1) {
        ui_select = uint8_t((ui_select + 5) % 6);
        image_select();
    } else {
        moveInList(-1);
    }
}

void InputChoose::keyRight() {
    if (ui_seltype == 0) {
        ++ui_select;
        if (ui_select == tab_count) ui_select = kButtonInputCut;
        if (ui_select > kButtonEdid) ui_select = 0;
        followFocus();
    } else if (ui_seltype == 1) {
        ui_select = uint8_t((ui_select + 1) % 6);
        image_select();
    } else {
        moveInList(+1);
    }
}

// Level 2: three entries a page; Right past the last entry goes to the first, Left from the
// first to the last.
void InputChoose::moveInList(int step) {
    const int max = std::min(source_current_check(), kMaxEntries);
    if (step > 0) {
        ++ui_select;
        if (kEntriesPerPage * current_page + ui_select >= max) {
            current_page = 0;
            ui_select = 0;
        } else if (ui_select >= kEntriesPerPage) {
            if (current_page < last_page) ++current_page;
            ui_select = 0;
        }
    } else {
        if (ui_select == 0) {
            if (current_page > 0) {
                --current_page;
                ui_select = kEntriesPerPage;
            } else {
                current_page = last_page;
                ui_select = uint8_t(max - kEntriesPerPage * last_page);
            }
        }
        --ui_select;
    }
    on_Button_source_clicked();
}

void InputChoose::keyOk() {
    if (ui_seltype == 0) {
        if (ui_select == kButtonInputCut) return zem_button_inputcut_clicked();
        if (ui_select == kButtonEdid) return zem_button_EDID_clicked();
        ui_seltype = 1;
        placeTabFocus();
        ui_select = source_pos;
        current_page = 0;
        on_Button_source_clicked();
    } else if (ui_seltype == 1) {
        ui_seltype = 2;
        para_uiselect_init();
        on_Button_source_clicked();
    } else {
        if (zem_source_button_clicked()) input_source_changed(current_window);
    }
}

void InputChoose::keyBack() {
    if (ui_seltype == 0) return slot_Button_back_clicked();
    if (ui_seltype == 1) {
        // Back to the tabs re-reads the current window's source, as a move there does.
        ui_seltype = 0;
        ui_select = saved_tab;
        followFocus();
        return;
    }
    ui_seltype = 1;
    ui_select = source_pos;
    current_page = 0;
    on_Button_source_clicked();
}

// ---- Actions ----

int InputChoose::listEntry() const {
    return kEntriesPerPage * current_page + ui_select;
}

bool InputChoose::zem_source_button_clicked() {
    const int e = listEntry();
    // A list a refresh shortened, or a crop the table no longer holds, is refused: the window
    // would otherwise fall back to EXT.
    if (e >= source_current_check()) return true;
    int record = 0;
    if (e > 0) {
        CROP_PARA crop{};
        record = ZemRamPara::kCropCount;
        store().ZemGetCropPara(source_number, e, &crop, &record);
        if (record >= ZemRamPara::kCropCount) return true;
    }
    source_type = e > 0;
    crop_id = uint8_t(record);
    store().ZemSetImageSource(e, source_number, current_window);
    source_id = source_number;
    initSource();
    return !g_tip || staysOpen([] { g_tip->tip_create(1); });
}

void InputChoose::zem_button_inputcut_clicked() {
    panel::open(g_inputcut, kPageInputCut);
}

void InputChoose::zem_button_EDID_clicked() {
    panel::open(g_edidset, kPageEdidSet);
}

void InputChoose::slot_Button_back_clicked() {
    panel::back(this);
}

// ---- Refresh ----

void InputChoose::syncUpdate(int id) {
    bool rebuild = false;
    for (int w = 0; w < ZemRamPara::kWindowCount; ++w) {
        const int source = ZemRamPara::windowAddr(w, ZemRamPara::kWinSource);
        if (tab_sources[w] && wordChanged(source)) input_source_changed(w);
        rebuild = rebuild || wordChanged(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) ||
                  (w == current_window && wordChanged(source));
    }
    bool timing = false, anyTiming = false;
    for (int s = 0; s < sourceinfo::kSources; ++s) {
        const bool changed =
            wordChanged(256 + 6 * s) || wordChanged(258 + 6 * s) || wordChanged(260 + 6 * s);
        anyTiming = anyTiming || changed;
        timing = timing || (changed && s == source_number);
    }
    const bool crops = bytesChanged(ZemRamPara::kRamCropTable, kCropTableEnd);

    if (rebuild) {
        // The current window stays while it still has a tab (after this page's own apply too).
        if (!hasTab(current_window)) {
            current_window = 0;
            saved_tab = 0;
            if (ui_seltype == 0 && ui_select < kButtonInputCut) ui_select = 0;
        }
        // In the list (after this page's own apply too) the page and cell stay while their
        // entry is still there, so a second OK applies the same choice.
        if (ui_seltype == 2 && listEntry() < source_current_check())
            on_Button_source_clicked();
        else
            image_select();
        initMenu();
    } else if (ui_seltype == 0 && g_image_current != current_window) {
        current_window = g_image_current;
        const int k = tabOf(current_window);
        if (k >= 0) ui_select = uint8_t(k);
        saved_tab = ui_select;
        placeTabFocus();
        image_select();
    } else if (timing) {
        initSource();
    }
    // An input plugged or unplugged changes its online icon at once.
    if (anyTiming) source_check_update();
    if (id == 103 || crops) {
        store().ZemCropSourceInit();
        initSource();
        crop_source_num_update();
    }
}
