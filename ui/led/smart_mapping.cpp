#include "ui/led/smart_mapping.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <algorithm>

#include "comm/comm_bridge.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "platform/box.h"
#include "ui/shell/job_gate.h"
#include "ui/shell/keypad_number.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui/shell/qround_progress_bar.h"
#include "ui_smart_mapping.h"

SmartMapping* g_smartmapping = nullptr;

namespace {

using panel_style::apply;
using panel_style::kDimmed;
using panel_style::kField;
using panel_style::kFocus;
using panel_style::kNormal;
using panel_style::kWizardItem;
using panel_style::sheet;

// clang-format off
const char* const kStyleActive = "color:rgb(255, 255, 255);border:1px solid rgb(71, 119, 255);";
const char* const kStyleSelected = "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kTileCurrent = "background-color: #212435;border:1px solid #00D65B;";
const char* const kTileOther = "background-color: #212435;border:1px solid #FFFFFF;";
// Entry styles by kind (internal, USB) and state (idle, focused, chosen).
enum EntryState { kIdle, kFocused, kChosen };
const char* const kEntryStyle[2][3] = {
    {"background-color: rgb(33, 36, 53);color: #FFFFFF",
     "background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,171,84);",
     "background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,255,255);"},
    {"background-color: rgb(33, 36, 53);color: #00FF00",
     "background-color:#4777FF;color: #00FF00;border:1px solid rgb(255,171,84);",
     "background-color:#4777FF;color: #00FF00;border:1px solid rgb(255,255,255);"},
};

const Texts kTitle = {"智能调屏", "Smart debugging screen", "Умная настройка экрана", "Điều chỉnh màn hình thông minh", "智能調屏"};
const Texts kShortcut = {"快捷点屏", "Debugging\nscreen", "Пошаговая\nнастройка", "Chạm vào màn\nhình nhanh", "快捷點屏"};
const Texts kLoadScan = {"加载扫描", "Load scan", "Загрузить\nсканирование", "Cài đặt\nquét", "加載掃描"};
const Texts kParaweld = {"参数固化", "Curing\nparameter", "Сохранение\nнастроек", "Lưu thông\nsố", "參數固化"};
const Texts kMappingItem = {"Mapping", "Mapping", "Маршрут", "Mapping", "Mapping"};
const Texts kStep1 = {"步骤1箱体设置", "Step 1 Cabinet setup", "Шаг 1. Настройка кабинета", "Bước 1: Thiết lập cabin", "步驟1箱體設置"};
const Texts kBoxWidth = {"箱体宽度", "Cabinet width", "Ширина кабинета", "Chiều rộng cabin", "箱體寬度"};
const Texts kBoxHeight = {"箱体高度", "Cabinet height", "Высота кабинета", "Chiều cao cabin", "箱體高度"};
const Texts kNext = {"下一步", "Next", "Далее", "Bước tiếp theo", "下一步"};
const Texts kPrevious = {"上一步", "Previous", "Назад", "Thao tác\nphía trước", "上一步"};
const Texts kStep2 = {"步骤2选择网口", "Step 2 Select port", "Шаг 2. Выберите сетевой порт", "Bước 2 :Chọn cổng mạng", "步驟2選擇網口"};
const Texts kGroup = {"网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2", "網口%1~%2"};
const Texts kStep3 = {"步骤3屏参设置", "Step 3 Screen parameter setting", "Шаг 3.Настройка параметров экрана", "Bước 3:Cài đặt thông số màn hình", "步驟3屏參設置"};
const Texts kBoxLine = {"箱体行数", "Number of Cabinet in rows", "Кол-во рядов", "Số lượng hàng tủ", "箱體行數"};
const Texts kBoxColumn = {"箱体列数", "Number of Cabinet in lines", "Кол-во столбцов", "Số lượng cột tủ", "箱體列數"};
const Texts kRouteWay = {"屏体走线方式", "Screen alignment mode", "Тип подключения кабинетов", "Chế độ căn chỉnh màn hình", "屏體走線方式"};
const Texts kHorizon = {"水平偏移", "Horizontal offset", "Горизонтальное\nсмещение", "Bù đắp theo\nchiều ngang", "水平偏移"};
const Texts kVert = {"垂直偏移", "Vertical offset", "Вертикальное\nсмещение", "Bù đắp theo\nchiều dọc", "垂直偏移"};
const Texts kSend = {"发送", "Send", "Отправить", "Gửi", "髮送"};
const Texts kRoutingText = {"走线%1", "Routing %1", "Путь %1", "Dấu vết%1", "走線%1"};
const Texts kScanStep1 = {"步骤1选择网口", "Step 1 Select network port", "Шаг 1. Выбор LAN-порта", "Bước 1 Chọn cổng mạng", "步驟1選擇網口"};
const Texts kScanStep2 = {"步骤2加载扫描参数", "Step 2 Upload scan parameters", "Шаг 2.Настройка сканирования", "Bước 2Tải thông số quét", "步驟2加載掃描參數"};
const Texts kDetected = {"检测到以下屏参文件", "Detected the following screen parameter\n files", "Были обнаружены следующие файлы \nпараметров экрана", "Các tập tin tham số màn hình sau đã\n được phát hiện", "檢測到以下屏參文件"};
const Texts kLoad = {"加载", "Load", "Загрузка", "Tải về", "加載"};
const Texts kCuringOp = {"参数固化操作", "Parameter curing operation", "Полное сохранение всех настроек", "Lưu thông số", "參數固化操作"};
const Texts kConfirm = {"确定", "OK", "OK", "Đồng ý", "確定"};
const Texts kMappingSwitch = {"Mapping开关", "Mapping switch", "Переключатель сопоставления", "Bật mapping", "Mapping開關"};
const Texts kNoFile = {"无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!", "無加載文件!"};
// Keypad titles by field.
const Texts kKeypadWidth = {"箱体宽度", "width", "width", "width", "箱體寬度"};
const Texts kKeypadHeight = {"箱体高度", "height", "height", "height", "箱體高度"};
const Texts kKeypadRows = {"箱体行数", "rows", "rows", "rows", "箱體行數"};
const Texts kKeypadColumns = {"箱体列数", "lines", "lines", "lines", "箱體列數"};
const Texts kKeypadHorizontal = {"水平偏移", "Horizontal", "Horizontal", "Horizontal", "水平偏移"};
const Texts kKeypadVertical = {"垂直偏移", "Vertical", "Vertical", "Vertical", "垂直偏移"};
// clang-format on

const char* const kScanSuffix = "qzfile";
const char* const kInternalDir = "/data/smartmapping";
const char* const kUsbDir = "/mnt/usb1/";
constexpr uint32_t kMappingOnValue = 9;
constexpr uint8_t kMappingBit = 0x80;
constexpr int kMappingOffset = 16;

// The number fields: keypad title and the range a typed value is held to.
struct Field {
    const char* name;
    const Texts* title;
    int min, max;
};
const Field kFields[] = {
    {"lineEdit_X", &kKeypadWidth, 1, 65535},
    {"lineEdit_Y", &kKeypadHeight, 1, 65535},
    {"lineEdit_line", &kKeypadRows, 1, 255},
    {"lineEdit_column", &kKeypadColumns, 1, 255},
    {"lineEdit_horzion", &kKeypadHorizontal, 0, 65535},
    {"lineEdit_vert", &kKeypadVertical, 0, 65535},
};
const Field* fieldNamed(const QString& name) {
    for (const Field& f : kFields)
        if (name == f.name) return &f;
    return nullptr;
}
// A field's value as a job takes it, within the field's range.
int fieldValue(const QLineEdit* field) {
    const Field* f = fieldNamed(field->objectName());
    return std::max(f->min, std::min(field->text().toInt(), f->max));
}

// The regular "qzfile" files of a folder as program paths, in directory order.
QStringList scanFilesIn(const QString& dir) {
    const QDir d(QString::fromStdString(platform::path(dir.toStdString())));
    QStringList out;
    const QString prefix = dir.endsWith('/') ? dir : dir + '/';
    for (const QFileInfo& info :
         d.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted))
        if (info.suffix() == kScanSuffix) out << prefix + info.fileName();
    return out;
}

// The smallest font the panel still reads.
constexpr int kMinPoint = 5;

// A label's font made smaller, step by step, until its text fits the label.
void shrinkToFit(QLabel* label) {
    label->ensurePolished();
    QFont f = label->font();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect room = label->contentsRect();
    while (f.pointSize() > kMinPoint) {
        const QSize needs = QFontMetrics(f).boundingRect(room, flags, label->text()).size();
        if (needs.width() <= room.width() && needs.height() <= room.height()) break;
        f.setPointSize(f.pointSize() - 1);
    }
    label->setFont(f);
}

// A button's words on a wrapping label over it (a button draws one line only), in the font
// that fits; the label lets touches through to the button.
void setButtonWords(QAbstractButton* button, const QString& words, int pt, QRect area = {}) {
    auto* label = button->findChild<QLabel*>("words");
    if (!label) {
        label = new QLabel(button);
        label->setObjectName("words");
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setStyleSheet("background: transparent; border: none; color: rgb(255, 255, 255);");
    }
    label->setGeometry(area.isNull() ? button->rect().adjusted(2, 1, -2, -1) : area);
    QFont f = label->font();
    f.setPointSize(pt);
    label->setFont(f);
    label->setText(words);
    label->show();
    shrinkToFit(label);
}

QFont pointFont(const QFont& base, int pt) {
    QFont f(base);
    f.setPointSize(pt);
    return f;
}

}  // namespace

SmartMapping::SmartMapping(QWidget* parent)
    : PanelPage(kPageSmartMapping, parent), ui(new Ui::SmartMapping) {
    ui->setupUi(this);
    ui->Button_wlan4->hide();
    ui->Button_wlan8->hide();
    // Sizes and offsets stay from the last visit; the port and routing start over.
    lighting = line_type;
    lighting.port = 0;
    lighting.routing = 1;
    for (int n = 1; n <= 16; ++n) {
        auto* b = findChild<QToolButton*>(QString("Button_route%1").arg(n));
        setIcon(b, pictureOf(pic::kRouting[n - 1]), 36, 22);
        connect(b, &QToolButton::clicked, this, [this, n] { route_clicked(n); });
    }
    for (const Field& f : kFields)
        connect(findChild<My_lineEdit*>(f.name), &My_lineEdit::send_show, this,
                &SmartMapping::show_numberkeyboard_ui);
    if (fpga_manage::p_fpga_manage && fpga_manage::p_fpga_manage->job_events)
        connect(fpga_manage::p_fpga_manage->job_events, &rcv_job_events::sig_smartmapping_progress,
                this, &SmartMapping::sig_qround_bar_update, Qt::QueuedConnection);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
                &SmartMapping::confirmString);
    selected_group = ui->Button_wlan1;
    ui->stackedWidget->setCurrentIndex(kCabinet);
    language_changed();
    selectTop(kTopShortcut);
}

SmartMapping::~SmartMapping() {
    delete ui;
}

bool SmartMapping::ringShown() const {
    return !g_qround_bar.isNull();
}

// ---- Jobs ----

bool SmartMapping::startJob(uint8_t task) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m || !m->job_events || !panel::jobGateOpen()) return false;
    if (task == 4) {
        const bool on = mappingOn();
        for (uint8_t fpga = 0; fpga < 2; ++fpga)
            m->write_to_register(0, kMappingBit, on ? 0 : kMappingBit, fpga);
        setIcon(ui->Button_mapping_state, pictureOf(on ? pic::kButtonOff : pic::kButtonOn), 40, 20);
        set_send_para_u32(kMappingOffset, on ? 0 : kMappingOnValue);
    }
    // The FPGA thread reads these while the task runs: they are handed over only now.
    line_type = lighting;
    g_qzfile_name = chosen_file;
    if (!panel::postJob(task)) return false;
    // The progress comes queued through the page's signal, so the ring made now sees it all.
    QRoundProgressBar::create_qround_bar(this);
    connect(this, &SmartMapping::sig_qround_bar_update, g_qround_bar.data(),
            &QRoundProgressBar::para_sync);
    return true;
}

void SmartMapping::on_Button_send_clicked() {
    if (ringShown()) return;
    lighting.rows = uint8_t(fieldValue(ui->lineEdit_line));
    lighting.columns = uint8_t(fieldValue(ui->lineEdit_column));
    lighting.x_offset = uint16_t(fieldValue(ui->lineEdit_horzion));
    lighting.y_offset = uint16_t(fieldValue(ui->lineEdit_vert));
    startJob(1);
}

void SmartMapping::on_Button_load_clicked() {
    if (chosen_file.isEmpty() || ringShown()) return;
    startJob(2);
}

void SmartMapping::on_Button_confirm_clicked() {
    if (ringShown()) return;
    startJob(3);
}

void SmartMapping::on_Button_mapping_state_clicked() {
    if (ringShown()) return;
    startJob(4);
}

bool SmartMapping::mappingOn() const {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) return false;
    bool on = true;
    for (uint8_t fpga = 0; fpga < 2; ++fpga) {
        m->read_from_register(0, fpga);
        on = on && (m->mirror(fpga, 0) & kMappingBit);
    }
    return on;
}

void SmartMapping::showMappingState() {
    setIcon(ui->Button_mapping_state, pictureOf(mappingOn() ? pic::kButtonOn : pic::kButtonOff), 40,
            20);
}

// ---- Closing ----

void SmartMapping::Button_back_clicked() {
    if (ringShown()) return;
    panel::back(this);
}

void SmartMapping::closeForPc() {
    if (g_page_focus != kPageSmartMapping || ringShown()) return;
    if (g_numberkeyboard && g_numberkeyboard->isVisible() && g_numberkeyboard->opened_by(this))
        g_numberkeyboard->on_Button_close_clicked();
    Button_back_clicked();
}

void SmartMapping::connectPc(QObject* context) {
    comm_bridge* pc = comm_bridge::pInstance();
    connect(
        pc, &comm_bridge::sig_smartmapping_written, context,
        [] {
            if (g_smartmapping) g_smartmapping->closeForPc();
        },
        Qt::QueuedConnection);
    connect(
        pc, &comm_bridge::sig_file_deleted, context,
        [](int folder) {
            if (folder != 0) return;
            if (g_smartmapping) g_smartmapping->closeForPc();
            PageFrame* option = panel::page(kPageOption);
            if (option && g_page_focus == kPageOption) option->language_changed();
        },
        Qt::QueuedConnection);
}

void SmartMapping::keyMode() {
    if (ringShown()) return;
    PageFrame::keyMode();
}

// ---- Screens and the key state that goes with them ----

void SmartMapping::showScreen(Screen s) {
    ui->stackedWidget->setCurrentIndex(s);
    using TextsOf = void (SmartMapping::*)();
    static constexpr TextsOf kTextsOf[] = {
        &SmartMapping::textsCabinet, &SmartMapping::textsPort,     &SmartMapping::textsLayout,
        &SmartMapping::textsRouting, &SmartMapping::textsScanPort, &SmartMapping::textsFiles,
        &SmartMapping::textsCuring,  &SmartMapping::textsMapping};
    (this->*kTextsOf[s])();
    // Texts too long for their place in a language get a smaller font.
    for (QLabel* l : ui->stackedWidget->currentWidget()->findChildren<QLabel*>(
             QString(), Qt::FindDirectChildrenOnly))
        shrinkToFit(l);
}

void SmartMapping::enterScreen(Screen s) {
    static constexpr uint8_t kItemOf[] = {kTopShortcut, kTopShortcut, kTopShortcut, kTopShortcut,
                                          kTopLoadScan, kTopLoadScan, kTopCuring,   kTopMapping};
    level = 1;
    top_focus = kItemOf[s];
    if (s != kScanFiles && s != kScanPort) loadscan_step = 0;
    showScreen(s);
    switch (s) {
        case kCabinet:
            ringCabinet();
            break;
        case kPort:
            ringPort();
            break;
        case kLayout:
            ringLayout();
            break;
        case kRouting:
            ringRouting();
            break;
        case kScanPort:
            ringScanPort(true);
            break;
        case kScanFiles:
            ringFiles();
            break;
        case kCuring:
            focus.setItems({{ui->Button_confirm, kWizardItem}});
            break;
        case kMapping:
            focus.setItems({{ui->Button_mapping_state, kWizardItem}});
            break;
    }
    textsTopRow();
}

// The top row's item under the keys, its screen shown, the keys on the row.
void SmartMapping::selectTop(int item) {
    level = 0;
    top_focus = uint8_t(item);
    tile_mode = route_mode = loadscan_tile_mode = 0;
    // The item's screen is the one shown now: a later disk change leaves it alone.
    file_page_shown = 0;
    focus.setItems({});
    switch (item) {
        case kTopShortcut:
            showScreen(kCabinet);
            break;
        case kTopLoadScan:
            ringScanPort(false);
            break;
        case kTopCuring:
            showScreen(kCuring);
            break;
        case kTopMapping:
            showMappingState();
            showScreen(kMapping);
            break;
    }
    textsTopRow();
}

void SmartMapping::on_Button_shortcut_clicked() {
    if (ringShown()) return;
    selectTop(kTopShortcut);
}

void SmartMapping::on_Button_loadscan_clicked() {
    if (ringShown()) return;
    selectTop(kTopLoadScan);
}

void SmartMapping::on_Button_paraweld_clicked() {
    if (ringShown()) return;
    selectTop(kTopCuring);
}

void SmartMapping::on_Button_mapping_clicked() {
    if (ringShown()) return;
    selectTop(kTopMapping);
}

void SmartMapping::on_Button_next_clicked() {
    lighting.cabinet_width = uint16_t(fieldValue(ui->lineEdit_X));
    lighting.cabinet_height = uint16_t(fieldValue(ui->lineEdit_Y));
    enterScreen(kPort);
}

void SmartMapping::on_Button_front_2_clicked() {
    enterScreen(kCabinet);
}

void SmartMapping::on_Button_next_2_clicked() {
    enterScreen(kLayout);
}

void SmartMapping::on_Button_front_3_clicked() {
    if (ringShown()) return;
    enterScreen(kPort);
}

void SmartMapping::on_Button_route_clicked() {
    enterScreen(kRouting);
}

void SmartMapping::on_Button_cancel_clicked() {
    enterScreen(kLayout);
    focus.select(2);  // back on the routing button
}

void SmartMapping::route_clicked(int n) {
    line_select(n);
    on_Button_cancel_clicked();
}

void SmartMapping::line_select(int n) {
    lighting.routing = uint8_t(n);
    ui->Button_route->ensurePolished();
    setIcon(ui->Button_route, pictureOf(pic::kRouting[(n - 1) % 16]), 21, 14);
    ui->Button_route->setText(text(kRoutingText).arg(n));
    QFont f = ui->Button_route->font();
    f.setPointSize(8);
    const int room = ui->Button_route->contentsRect().width() - 21 - 4;
    while (f.pointSize() > kMinPoint &&
           QFontMetrics(f).horizontalAdvance(ui->Button_route->text()) > room)
        f.setPointSize(f.pointSize() - 1);
    ui->Button_route->setFont(f);
}

void SmartMapping::on_Button_front_6_clicked() {
    if (ringShown()) return;
    enterScreen(kScanPort);
}

void SmartMapping::on_Button_next_5_clicked() {
    collectFiles();
    enterScreen(kScanFiles);
}

// ---- Focus rings ----

void SmartMapping::ringCabinet() {
    shortcut_step = 0;
    focus.setItems(
        {{ui->lineEdit_X, kField}, {ui->lineEdit_Y, kField}, {ui->Button_next, kWizardItem}});
}

void SmartMapping::ringPort() {
    shortcut_step = 1;
    tile_mode = 0;
    focus.setItems({{ui->Button_wlan1, sheet(kWizardItem, kNormal), sheet(kField, kFocus)},
                    {ui->Button_wlan2, sheet(kWizardItem, kNormal), sheet(kField, kFocus)},
                    {ui->Button_wlan3, sheet(kWizardItem, kNormal), sheet(kField, kFocus)},
                    {ui->Button_front_2, sheet(kWizardItem, kNormal), sheet(kField, kFocus)},
                    {ui->Button_next_2, sheet(kWizardItem, kNormal), sheet(kField, kFocus)}});
    groupClicked(0, kPort);
}

void SmartMapping::ringLayout() {
    shortcut_step = 2;
    route_mode = 0;
    focus.setItems({{ui->lineEdit_line, kField},
                    {ui->lineEdit_column, kField},
                    {ui->Button_route, kWizardItem},
                    {ui->lineEdit_horzion, kField},
                    {ui->lineEdit_vert, kField},
                    {ui->Button_front_3, kWizardItem},
                    {ui->Button_send, kWizardItem}});
}

void SmartMapping::ringRouting() {
    route_mode = 1;
    std::vector<FocusRing::Item> items;
    for (int n = 1; n <= 16; ++n)
        items.push_back(
            {findChild<QWidget*>(QString("Button_route%1").arg(n)),
             QString("color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);"),
             sheet(kField, kFocus)});
    items.push_back({ui->Button_cancel, kField});
    focus.setItems(items, std::max(0, lighting.routing - 1) % 16);
}

void SmartMapping::ringScanPort(bool entered) {
    loadscan_step = 0;
    loadscan_tile_mode = 0;
    showScreen(kScanPort);
    const int group = std::min(lighting.port / 8, 2);
    focus.setItems({{ui->Button_wlan5, kWizardItem},
                    {ui->Button_wlan6, kWizardItem},
                    {ui->Button_wlan7, kWizardItem},
                    {ui->Button_next_5, kWizardItem}},
                   group);
    groupClicked(group, kScanPort);
    if (entered)
        focus.select(group);
    else
        focus.clearFocus();
}

void SmartMapping::ringFiles() {
    loadscan_step = 1;
    file_focus = 0;
    file_buttons_active = 0;
    file_button_focus = file_count > 0 ? 1 : 0;
    focus.setItems({{ui->Button_front_6, kWizardItem}, {ui->Button_load, kWizardItem}},
                   file_button_focus);
    if (file_count > 0) focus.clearFocus();
}

// ---- Port tiles ----

QPushButton* SmartMapping::groupButton(Screen s, int group) const {
    QPushButton* const onPort[] = {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3};
    QPushButton* const onScan[] = {ui->Button_wlan5, ui->Button_wlan6, ui->Button_wlan7};
    return s == kPort ? onPort[group] : onScan[group];
}

void SmartMapping::groupClicked(int group, Screen s) {
    if (selected_group) apply(selected_group, kWizardItem, kNormal);
    selected_group = groupButton(s, group);
    selected_group->setStyleSheet(kStyleSelected);
    port_group = uint8_t(group);
    port_tile = 0;
    buildTiles(s);
    if (focus.focused() == selected_group) focus.select(focus.ui_select);
}

void SmartMapping::buildTiles(Screen s) {
    delete tile_frame;
    tile_frame = new QFrame(s == kPort ? ui->page_2 : ui->page_5);
    tile_frame->setGeometry(1, 59, 230, 88);
    for (int i = 0; i < groupTiles(); ++i) {
        const int c = i % 4, r = i / 4;
        const int port = port_group * 8 + i;
        auto* box = new QFrame(tile_frame);
        box->setObjectName(QString("tile%1").arg(i));
        box->setGeometry(10 + 55 * c, 2 + 45 * r, 50, 40);
        box->setStyleSheet(port == lighting.port ? kTileCurrent : kTileOther);
        auto* icon = new QLabel(tile_frame);
        icon->setGeometry(25 + 55 * c, 5 + 45 * r, 22, 15);
        setPicture(icon, pictureOf(pic::kOffline));
        auto* name = new QLabel(QString("LED%1").arg(port + 1), tile_frame);
        name->setGeometry(14 + 55 * c, 20 + 45 * r, 45, 20);
        QFont f = name->font();
        f.setPixelSize(8);
        name->setFont(f);
        name->setAlignment(Qt::AlignCenter);
        name->setStyleSheet("background-color: #212435;color: #FFFFFF");
        auto* button = new QPushButton(tile_frame);
        button->setObjectName(QString::number(i));
        button->setGeometry(11 + 55 * c, 3 + 45 * r, 48, 38);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet("background-color: transparent;");
        connect(button, &QPushButton::clicked, this, &SmartMapping::zem_button_wlan_clicked);
    }
    tile_frame->show();
}

void SmartMapping::stepTile(int step, Screen s) {
    const int n = groupTiles();
    port_tile = uint8_t((port_tile + step + n) % n);
    lighting.port = uint8_t(port_group * 8 + port_tile);
    const uint8_t tile = port_tile;
    buildTiles(s);
    port_tile = tile;
}

void SmartMapping::zem_button_wlan_clicked() {
    const int tile = sender() ? sender()->objectName().toInt() : port_tile;
    port_tile = uint8_t(std::min(tile, groupTiles() - 1));
    lighting.port = uint8_t(port_group * 8 + port_tile);
    saved_port = lighting.port;
    for (QFrame* box : tile_frame->findChildren<QFrame*>(QRegularExpression("^tile")))
        box->setStyleSheet(box->objectName() == QString("tile%1").arg(port_tile) ? kTileCurrent
                                                                                 : kTileOther);
    // The choice ends the tile mode; the keys are back on the group.
    tile_mode = loadscan_tile_mode = 0;
    focus.select(port_group);
}

// ---- Keys ----

void SmartMapping::keyStep(int step) {
    if (level == 0) return keyStepTop(step);
    const Screen s = Screen(ui->stackedWidget->currentIndex());
    switch (s) {
        case kPort:
        case kScanPort: {
            if (tile_mode || loadscan_tile_mode) return stepTile(step, s);
            const int last = focus.size() - 1;
            const bool wrapLeft = step < 0 && focus.ui_select == 0;
            focus.move(step);
            if (!wrapLeft && focus.ui_select < last - (s == kPort ? 1 : 0)) {
                const int index = focus.ui_select;
                groupClicked(index, s);
                focus.select(index);
            }
            return;
        }
        case kScanFiles:
            return keyFiles(step < 0 ? KeyAction::Left : KeyAction::Right);
        case kCuring:
        case kMapping:
            return;
        default:
            focus.move(step);
    }
}

void SmartMapping::keyStepTop(int step) {
    int item = top_focus + step;
    if (item == kTopLoadScan && scan_file_count == 0) item += step;
    item = (item + kTopItems) % kTopItems;
    // Left from Load scan skipped lands on the first item, as Right skips it forwards.
    selectTop(item);
}

void SmartMapping::keyOkTop() {
    switch (top_focus) {
        case kTopShortcut:
            return enterScreen(kCabinet);
        case kTopLoadScan:
            return enterScreen(kScanPort);
        case kTopCuring:
            return enterScreen(kCuring);
        default:
            if (ringShown()) return;
            showMappingState();
            return enterScreen(kMapping);
    }
}

void SmartMapping::keyOk() {
    if (level == 0) return keyOkTop();
    const Screen s = Screen(ui->stackedWidget->currentIndex());
    const int i = focus.ui_select;
    if (auto* field = qobject_cast<My_lineEdit*>(focus.focused()))
        return void(emit field->send_show(field->text()));
    switch (s) {
        case kPort:
        case kScanPort:
            if (tile_mode || loadscan_tile_mode) {
                const QString name = QString::number(port_tile);
                if (auto* b = tile_frame->findChild<QPushButton*>(name)) b->click();
                return;
            }
            if (i <= 2) {
                saved_port = lighting.port;
                if (s == kPort) {
                    tile_mode = 1;
                    lighting.port = uint8_t(i * 8);
                } else {
                    loadscan_tile_mode = 1;
                    if (i == 2) lighting.port = 16;
                }
                groupClicked(i, s);
                focus.clearFocus();
                groupButton(s, i)->setStyleSheet(kStyleActive);
                return;
            }
            return PageFrame::keyOk();
        case kRouting:
            if (i < 16) return route_clicked(i + 1);
            return on_Button_cancel_clicked();
        case kScanFiles:
            return keyFiles(KeyAction::Ok);
        default:
            return PageFrame::keyOk();
    }
}

void SmartMapping::keyBack() {
    if (level == 0) return Button_back_clicked();
    const Screen s = Screen(ui->stackedWidget->currentIndex());
    switch (s) {
        case kPort:
            if (tile_mode) {
                lighting.port = saved_port;
                groupClicked(port_group, kPort);
                tile_mode = 0;
                return focus.select(port_group);
            }
            return on_Button_front_2_clicked();
        case kLayout:
            return on_Button_front_3_clicked();
        case kRouting:
            return on_Button_cancel_clicked();
        case kScanPort:
            if (loadscan_tile_mode) {
                lighting.port = saved_port;  // what the keys moved over is not a choice
                groupClicked(port_group, kScanPort);
                loadscan_tile_mode = 0;
                return focus.select(port_group);
            }
            return selectTop(kTopLoadScan);
        case kScanFiles:
            return keyFiles(KeyAction::Back);
        default:
            return selectTop(top_focus);
    }
}

// ---- Keypad ----

void SmartMapping::show_numberkeyboard_ui(QString) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    const Field* f = field ? fieldNamed(field->objectName()) : nullptr;
    if (!f || !g_numberkeyboard) return;
    edited_field = field->objectName();
    g_numberkeyboard->open_for(this, field, text(*f->title), field->text());
}

void SmartMapping::confirmString(QString typed) {
    if (!g_numberkeyboard || !g_numberkeyboard->opened_by(this)) return;
    const Field* f = fieldNamed(edited_field);
    auto* field = findChild<QLineEdit*>(edited_field);
    if (!f || !field) return;
    int v = 0;
    const int rc = readKeypadNumber(typed, f->min, f->max, &v);
    if (rc == kNumberAbove) v = f->max;
    if (rc == kNumberBelow) v = f->min;
    if (rc == kNumberEmpty || rc == kNumberNotDigits) return;  // the field keeps its value
    field->setText(QString::number(v));
}

// ---- Scan files ----

void SmartMapping::countScanFiles() {
    const int internal = int(scanFilesIn(kInternalDir).size());
    scan_file_count = std::min(internal + int(scanFilesIn(kUsbDir).size()), kMaxFiles);
}

void SmartMapping::collectFiles() {
    const QStringList internal = scanFilesIn(kInternalDir);
    const QStringList usb = scanFilesIn(kUsbDir);
    internal_file_count = std::min(int(internal.size()), kMaxFiles);
    file_count = std::min(internal_file_count + int(usb.size()), kMaxFiles);
    files = (internal.mid(0, internal_file_count) + usb).mid(0, file_count);
    file_select = 0;
    current_page = 0;
    last_page = file_count % kFilesPerPage == 0 ? file_count / kFilesPerPage - 1
                                                : file_count / kFilesPerPage;
    last_page = std::max(last_page, 0);
    file_page_shown = 1;
    scan_file_list();
}

int SmartMapping::pageEntries() const {
    return std::max(0, std::min(kFilesPerPage, file_count - current_page * kFilesPerPage));
}

void SmartMapping::scan_file_list() {
    delete file_frame;
    file_frame = new QFrame(ui->page_6);
    file_frame->setObjectName("frame_file");
    file_frame->setGeometry(10, 55, 220, 90);
    file_frame->setStyleSheet(
        "#frame_file{background-color: rgb(33, 36, 53);border:1px solid "
        "#FFFFFF;}");
    chosen_file = file_count > 0 ? files.value(file_select) : QString();
    if (file_count == 0) {
        auto* empty = new QLabel(text(kNoFile), file_frame);
        empty->setObjectName("label_no_file");
        empty->setGeometry(5, 5, 200, 40);
        empty->setFont(pointFont(empty->font(), 7));
        empty->setStyleSheet("background-color: rgb(33, 36, 53);color: #FFFFFF");
    }
    for (int i = 0; i < pageEntries(); ++i) {
        const int k = current_page * kFilesPerPage + i;
        auto* label = new QLabel(file_frame);
        label->setObjectName(QString("entry%1").arg(i));
        label->setGeometry(5, 5 + 25 * i, 190, 20);
        label->setFont(pointFont(label->font(), 7));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setFittedText(label, QFileInfo(files[k]).fileName().remove('\n'));
        auto* button = new QPushButton(file_frame);
        button->setObjectName(QString::number(i));
        button->setGeometry(5, 5 + 25 * i, 190, 20);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet("background-color: transparent;");
        connect(button, &QPushButton::clicked, this, &SmartMapping::zem_button_file_clicked);
        styleEntry(k, k == file_select ? kFocused : kIdle);
    }
    const auto pager = [this](const char* name, int y, PictureName icon,
                              void (SmartMapping::*slot)()) {
        auto* b = new QPushButton(file_frame);
        b->setObjectName(name);
        b->setGeometry(200, y, 15, 20);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet("background-color: rgb(33, 36, 53);");
        setIcon(b, pictureOf(icon), 15, 20);
        connect(b, &QPushButton::clicked, this, slot);
    };
    if (current_page >= 1)
        pager("Button_previous", 5, pic::kPrevious, &SmartMapping::zem_Button_previous_clicked);
    if (current_page < last_page)
        pager("Button_next_page", 55, pic::kNext, &SmartMapping::zem_Button_next_clicked);
    file_frame->show();
}

void SmartMapping::styleEntry(int overall, int state) {
    const int i = overall - current_page * kFilesPerPage;
    if (i < 0 || i >= pageEntries()) return;
    if (auto* label = file_frame->findChild<QLabel*>(QString("entry%1").arg(i)))
        label->setStyleSheet(kEntryStyle[overall >= internal_file_count][state]);
}

void SmartMapping::showPage(int page) {
    current_page = page < 0 ? 0 : page > last_page ? 0 : page;
    scan_file_list();
}

void SmartMapping::zem_button_file_clicked() {
    if (ringShown() || !sender()) return;
    const int i = sender()->objectName().toInt();
    styleEntry(file_select, kIdle);
    file_select = current_page * kFilesPerPage + i;
    chosen_file = files.value(file_select);
    styleEntry(file_select, kChosen);
    // The keys follow the touch: on Load, with this entry under them.
    file_focus = uint8_t(i);
    file_buttons_active = 1;
    file_button_focus = 1;
    focus.select(1);
}

void SmartMapping::zem_Button_previous_clicked() {
    if (ringShown()) return;
    showPage(current_page - 1);
}

void SmartMapping::zem_Button_next_clicked() {
    if (ringShown()) return;
    showPage(current_page + 1);
}

void SmartMapping::keyFiles(KeyAction a) {
    const int e = pageEntries();
    if (file_buttons_active || e == 0) {
        switch (a) {
            case KeyAction::Left:
            case KeyAction::Right:
                file_button_focus ^= 1;
                return focus.select(file_button_focus);
            case KeyAction::Ok:
                if (file_button_focus == 0) return on_Button_front_6_clicked();
                on_Button_load_clicked();
                if (e == 0) return;
                file_buttons_active = 0;
                focus.clearFocus();
                return styleEntry(current_page * kFilesPerPage + file_focus, kFocused);
            default:
                if (e == 0) return on_Button_front_6_clicked();
                file_buttons_active = 0;
                focus.clearFocus();
                styleEntry(file_select, kFocused);
                return textsScanPort();
        }
    }
    switch (a) {
        case KeyAction::Right:
        case KeyAction::Left: {
            if (ringShown()) return;  // the list under a job stays as it is
            int k = current_page * kFilesPerPage + file_focus + (a == KeyAction::Right ? 1 : -1);
            if (k >= file_count) k = 0;
            if (k < 0) k = 0;
            styleEntry(file_select, kIdle);
            file_select = k;
            const int page = k / kFilesPerPage;
            if (page != current_page) showPage(page);
            file_focus = uint8_t(k % kFilesPerPage);
            chosen_file = files.value(k);
            return styleEntry(k, kFocused);
        }
        case KeyAction::Ok: {
            if (ringShown()) return;
            const QString name = QString::number(file_focus);
            if (auto* b = file_frame->findChild<QPushButton*>(name)) b->click();
            return;
        }
        default:
            return on_Button_front_6_clicked();
    }
}

void SmartMapping::syncUpdate(int id) {
    if (id != 101 && id != 102) return;
    countScanFiles();
    if (file_page_shown) {
        on_Button_next_5_clicked();
    } else {
        file_select = 0;
        textsTopRow();
    }
}

// ---- Texts ----

void SmartMapping::textsCabinet() {
    ui->label_step1->setText(text(kStep1));
    ui->label_boxwidth->setText(text(kBoxWidth));
    ui->label_boxheight->setText(text(kBoxHeight));
    ui->Button_next->setText(text(kNext));
}

void SmartMapping::textsPort() {
    ui->label_step2->setText(text(kStep2));
    QPushButton* const groups[] = {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3,
                                   ui->Button_wlan5, ui->Button_wlan6, ui->Button_wlan7};
    static constexpr int kFirst[] = {1, 9, 17}, kLast[] = {8, 16, 20};
    for (int i = 0; i < 6; ++i)
        groups[i]->setText(text(kGroup).arg(kFirst[i % 3]).arg(kLast[i % 3]));
    setButtonWords(ui->Button_front_2, text(kPrevious), 8);
    ui->Button_next_2->setText(text(kNext));
}

void SmartMapping::textsLayout() {
    ui->label_step3->setText(text(kStep3));
    ui->label_boxline->setText(text(kBoxLine));
    ui->label_boxlcolumn->setText(text(kBoxColumn));
    ui->label_routeway->setText(text(kRouteWay));
    ui->label_horizon->setText(text(kHorizon));
    ui->label_vert->setText(text(kVert));
    setButtonWords(ui->Button_front_3, text(kPrevious), 8);
    ui->Button_send->setText(text(kSend));
    line_select(lighting.routing);
}

void SmartMapping::textsRouting() {
    for (int n = 1; n <= 16; ++n) {
        findChild<QToolButton*>(QString("Button_route%1").arg(n))->setText(QString());
        setButtonWords(findChild<QToolButton*>(QString("Button_route%1").arg(n)),
                       QString::number(n), 7, QRect(1, 27, 38, 12));
    }
    ui->Button_cancel->setText(text(words::kCancel));
}

void SmartMapping::textsScanPort() {
    ui->label_step1_5->setText(text(kScanStep1));
    textsPort();
    ui->Button_next_5->setText(text(kNext));
}

void SmartMapping::textsFiles() {
    ui->label_step2_6->setText(text(kScanStep2));
    ui->label_step2_7->setText(text(kDetected));
    setButtonWords(ui->Button_front_6, text(kPrevious), 8);
    ui->Button_load->setText(text(kLoad));
    if (file_frame) {
        if (auto* empty = file_frame->findChild<QLabel*>("label_no_file"))
            empty->setText(text(kNoFile));
    }
}

void SmartMapping::textsCuring() {
    ui->label_step1_6->setText(text(kCuringOp));
    ui->Button_confirm->setText(text(kConfirm));
}

void SmartMapping::textsMapping() {
    ui->label_step1_7->setText(text(kMappingSwitch));
}

void SmartMapping::textsTopRow() {
    QPushButton* const top[] = {ui->Button_shortcut, ui->Button_loadscan, ui->Button_paraweld,
                                ui->Button_mapping};
    const Texts* const words[] = {&kShortcut, &kLoadScan, &kParaweld, &kMappingItem};
    const int lang = panelLanguage();
    const bool chinese = lang == 0 || lang == 4;
    static constexpr int kChineseY[] = {42, 77, 111, 145}, kOtherY[] = {42, 87, 132, 177};
    for (int i = 0; i < kTopItems; ++i) {
        const int pt = chinese ? 9 : (lang == 1 || i >= 2) ? 7 : 6;
        top[i]->setGeometry(5, chinese ? kChineseY[i] : kOtherY[i], 65, chinese ? 20 : 30);
        // Styled first: the words are fitted in the font the style leaves them.
        if (i == kTopLoadScan && scan_file_count == 0)
            apply(top[i], kWizardItem, kDimmed);
        else if (i == top_focus && level)
            top[i]->setStyleSheet(kStyleActive);
        else
            apply(top[i], kWizardItem, i == top_focus ? kFocus : kNormal);
        setButtonWords(top[i], text(*words[i]), pt);
    }
}

void SmartMapping::language_changed() {
    ui->label_title->setText(text(kTitle));
    showScreen(Screen(ui->stackedWidget->currentIndex()));
    if (ui->stackedWidget->currentIndex() == kRouting) textsLayout();
    countScanFiles();
    textsTopRow();
}
