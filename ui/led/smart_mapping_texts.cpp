// Smart mapping's texts in the five languages, and the routines that put them on each screen.
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include "ui/led/smart_mapping.h"
#include "ui/led/smart_mapping_parts.h"
#include "ui/shell/panel_texts.h"
#include "ui_smart_mapping.h"

namespace smart_mapping {
// clang-format off
const Texts kTitle = {"智能调屏", "Smart debugging screen", "Умная настройка экрана", "Điều chỉnh màn hình thông minh", "智能調屏"};
const Texts kShortcut = {"快捷点屏", "Debugging\nscreen", "Пошаговая\nнастройка", "Gỡ lỗi\nmàn hình", "快捷點屏"};
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
const Texts kSend = {"发送", "Send", "Отправить", "Gửi", "發送"};
const Texts kRoutingText = {"走线%1", "Routing %1", "Путь %1", "Dấu vết%1", "走線%1"};
const Texts kScanStep1 = {"步骤1选择网口", "Step 1 Select network port", "Шаг 1. Выбор LAN-порта", "Bước 1 Chọn cổng mạng", "步驟1選擇網口"};
const Texts kScanStep2 = {"步骤2加载扫描参数", "Step 2 Upload scan parameters", "Шаг 2.Настройка сканирования", "Bước 2 Tải thông số quét", "步驟2加載掃描參數"};
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
}  // namespace smart_mapping

using namespace smart_mapping;

void SmartMapping::textsCabinet() {
    ui->label_step1->setText(text(kStep1));
    ui->label_boxwidth->setText(text(kBoxWidth));
    ui->label_boxheight->setText(text(kBoxHeight));
    setButtonWords(ui->Button_next, text(kNext), 8);
}

void SmartMapping::textsPort() {
    ui->label_step2->setText(text(kStep2));
    QPushButton* const groups[] = {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3,
                                   ui->Button_wlan5, ui->Button_wlan6, ui->Button_wlan7};
    static constexpr int kFirst[] = {1, 9, 17}, kLast[] = {8, 16, 20};
    for (int i = 0; i < 6; ++i)
        groups[i]->setText(text(kGroup).arg(kFirst[i % 3]).arg(kLast[i % 3]));
    setButtonWords(ui->Button_front_2, text(kPrevious), 8);
    setButtonWords(ui->Button_next_2, text(kNext), 8);
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
    setButtonWords(ui->Button_cancel, text(words::kCancel), 8);
}

void SmartMapping::textsScanPort() {
    ui->label_step1_5->setText(text(kScanStep1));
    textsPort();
    setButtonWords(ui->Button_next_5, text(kNext), 8);
}

void SmartMapping::textsFiles() {
    ui->label_step2_6->setText(text(kScanStep2));
    ui->label_step2_7->setText(text(kDetected));
    setButtonWords(ui->Button_front_6, text(kPrevious), 8);
    ui->Button_load->setText(text(kLoad));
    if (list.frame_file) {
        if (auto* empty = list.frame_file->findChild<QLabel*>("label_empty"))
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
        // Two lines of 7 points in every language but Chinese.
        const int pt = chinese ? 9 : 7;
        top[i]->setGeometry(5, chinese ? kChineseY[i] : kOtherY[i], 65, chinese ? 20 : 30);
        // Styled first: the words are fitted in the font the style leaves them.
        // Load scan dimmed while the keys are on it (its files went) still shows them there.
        if (i == kTopLoadScan && scan_file_count == 0)
            apply(top[i], kField, i == top_focus && !level ? kDimmedFocus : kDimmed);
        else if (i == top_focus && level)
            apply(top[i], kField, kChosen);
        else
            apply(top[i], kField, i == top_focus ? kFocus : kNormal);
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
