#include "ui/led/smart_mapping.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <algorithm>

#include "comm/comm_bridge.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "platform/box.h"
#include "platform/mounts.h"
#include "ui/led/smart_mapping_parts.h"
#include "ui/shell/keypad_number.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/page_store.h"
#include "ui/shell/qround_progress_bar.h"
#include "ui_smart_mapping.h"

SmartMapping* g_smartmapping = nullptr;

namespace smart_mapping {

const char* const kInternalDir = "/data/smartmapping";
const char* const kUsbDir = "/mnt/usb1/";

const Field kFields[6] = {
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
int fieldValue(const QLineEdit* field) {
    const Field* f = fieldNamed(field->objectName());
    return std::max(f->min, std::min(field->text().toInt(), f->max));
}

QStringList scanFilesIn(const QString& dir) {
    const QDir d(QString::fromStdString(platform::path(dir.toStdString())));
    QStringList out;
    if (dir == kUsbDir && !platform::usbDiskMounted()) return out;
    const QString prefix = dir.endsWith('/') ? dir : dir + '/';
    for (const QFileInfo& info :
         d.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted))
        if (info.suffix() == "qzfile") out << prefix + info.fileName();
    return out;
}

namespace {

bool fits(const QLabel* label, const QFont& f) {
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect room = label->contentsRect();
    const QSize needs = QFontMetrics(f).boundingRect(room, flags, label->text()).size();
    return needs.width() <= room.width() && needs.height() <= room.height();
}

}  // namespace

void shrinkToFit(QLabel* label) {
    label->ensurePolished();
    // From the size the form gave it, each time: a text shrunk in one language grows back in
    // the next.
    QFont f = label->font();
    const QVariant designed = label->property("designed_pt");
    if (designed.isValid())
        f.setPointSize(designed.toInt());
    else
        label->setProperty("designed_pt", f.pointSize());
    // Narrower letters first: a long word keeps the height that reads.
    for (;; f.setPointSize(f.pointSize() - 1)) {
        for (int stretch : {100, 90, 80}) {
            f.setStretch(stretch);
            if (fits(label, f) || f.pointSize() <= kMinPoint) {
                label->setFont(f);
                return;
            }
        }
    }
}

void setButtonWords(QAbstractButton* button, const QString& words, int pt, QRect area) {
    auto* label = button->findChild<QLabel*>("words");
    if (!label) {
        label = new QLabel(button);
        label->setObjectName("words");
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        // The button's colour, none of its frame: its padding would shrink the words' room.
        label->setStyleSheet("background: transparent; border: none; padding: 0px;");
    }
    label->setGeometry(area.isNull() ? button->rect().adjusted(2, 1, -2, -1) : area);
    label->setProperty("designed_pt", pt);
    label->setText(words);
    label->show();
    shrinkToFit(label);
}

QFont pointFont(const QFont& base, int pt) {
    QFont f(base);
    f.setPointSize(pt);
    return f;
}

}  // namespace smart_mapping

using namespace smart_mapping;

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
        setIcon(b, pictureOf(pic::kRouting[n - 1]), kRoutingIcon.width(), kRoutingIcon.height());
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
            focus.setItems({{ui->Button_confirm, kField}});
            break;
        case kMapping:
            focus.setItems({{ui->Button_mapping_state, kField}});
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
                apply(groupButton(s, i), kField, kChosen);
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

void SmartMapping::show_numberkeyboard_ui(QString) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    const Field* f = field ? fieldNamed(field->objectName()) : nullptr;
    if (!f || !g_numberkeyboard) return;
    edited_field = field->objectName();
    g_numberkeyboard->open_for(this, field, *f->title, field->text());
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

void SmartMapping::syncUpdate(int id) {
    if (id != 101 && id != 102) return;
    countScanFiles();
    if (file_page_shown) {
        on_Button_next_5_clicked();
    } else {
        list.file_select = 0;
        textsTopRow();
    }
}
