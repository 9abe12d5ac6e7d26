#include "ui/shell/machine_state.h"

#include <QLabel>

#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "ui/shell/page_store.h"
#include "ui_machine_state.h"
#include "video_io/sourceinfo.h"

MachineState* g_machinestate = nullptr;

namespace {

constexpr int kPorts = 20;
// Input columns left to right: HDMI1..HDMI4, DVI, EXT.
constexpr int kColumnSource[6] = {2, 3, 4, 5, 1, 0};
const char* const kPanelColour = "background-color: rgb(33, 36, 53);";

// clang-format off
const Texts kTitle = {"设备信息", "Devices", "Устройство", "Thiết bị", "設備信息"};
// clang-format on

// The program's own version and build date.
const QString kProgramVersion = QString("V%1.%2.%3 %4-%5-%6")
                                    .arg(11, 2, 10, QChar('0'))
                                    .arg(2, 2, 10, QChar('0'))
                                    .arg(0, 2, 10, QChar('0'))
                                    .arg(0x2025, 0, 16)
                                    .arg(0x09, 2, 16, QChar('0'))
                                    .arg(0x26, 2, 16, QChar('0'));

QString hex2(int v) {
    return QString("%1").arg(v, 2, 16, QChar('0'));
}

// Registers 28 (third version part) and 31, 30, 29 (BCD year within 2000, month, day).
QString fpgaVersion(int fpga) {
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) return "V11.00.00 2000-00-00";
    return QString("V11.00.%1 %2-%3-%4")
        .arg(hex2(m->mirror(fpga, 28)))
        .arg(0x2000 + m->mirror(fpga, 31), 0, 16)
        .arg(hex2(m->mirror(fpga, 30)))
        .arg(hex2(m->mirror(fpga, 29)));
}

bool sourceOnline(int s) EXCLUDES(ZemRamPara::pInstance()->mutex) {
    const int base = 256 + 6 * s;
    // The source thread writes the timing words under the store's own mutex.
    zem::MutexLocker lock(store().mutex);
    return store().timing16(base) && store().timing16(base + 2) && store().timing16(base + 4);
}

QLabel* cell(QWidget* parent, const QRect& r) {
    auto* l = new QLabel(parent);
    l->setGeometry(r);
    return l;
}

}  // namespace

MachineState::MachineState(QWidget* parent)
    : PanelPage(kPageMachineState, parent), ui(new Ui::MachineState) {
    ui->setupUi(this);
    const QList<QLabel*> names = {ui->sourceid0name, ui->sourceid1name, ui->sourceid2name,
                                  ui->sourceid3name, ui->sourceid4name, ui->sourceid5name};
    for (int c = 0; c < 6; ++c)
        names[c]->setText(sourceinfo::get_source_specialstyle0_by_sourceid(kColumnSource[c])
                              .arg(sourceinfo::get_source_name_by_sourceid(kColumnSource[c])));
    ui->Button_back->hide();
    setPicture(ui->label_state1, pictureOf(pic::kOutputState));
    setPicture(ui->label_state2, pictureOf(pic::kInputState));
    initWlan();
    language_changed();
    version_changed();
    source_check();
    // A single blank is the configuration's "no barcode yet".
    const QString barcode = Utils::configValue(&g_str_barcode);
    if (barcode != " ") setFittedText(ui->label_2, "SN:" + barcode);
}

MachineState::~MachineState() {
    delete ui;
}

void MachineState::version_changed() {
    ui->label_MCU->setText("MCU:" + kProgramVersion);
    ui->label_FPGA1->setText("FPGA1:" + fpgaVersion(0));
    ui->label_FPGA2->setText("FPGA2:" + fpgaVersion(1));
}

void MachineState::source_check() {
    const QList<QLabel*> icons = {ui->sourceid0pixmap, ui->sourceid1pixmap, ui->sourceid2pixmap,
                                  ui->sourceid3pixmap, ui->sourceid4pixmap, ui->sourceid5pixmap};
    for (int c = 0; c < 6; ++c) {
        const int s = kColumnSource[c];
        sourceinfo::set_sourceonline_pixmap(icons[c], uint8_t(s), sourceOnline(s) ? 1 : 0);
        icons[c]->setScaledContents(true);
    }
}

void MachineState::initWlan() {
    delete port_strip;
    port_strip = new QFrame(ui->frame);
    port_strip->setGeometry(20, 20, 288, 65);
    port_strip->setStyleSheet(kPanelColour);
    fpga_manage* m = fpga_manage::p_fpga_manage;
    const uint32_t mask = m ? m->get_wlan_state() : 0;
    for (int p = 1; p <= kPorts; ++p) {
        const int k = (p - 1) / 2;
        const int y = p % 2 ? 0 : 32;  // odd ports above even ones
        QLabel* number = cell(port_strip, QRect(15 + 26 * k, 4 + y, 12, 14));
        number->setText(QString::number(p));
        number->setStyleSheet("color: rgb(255, 255, 255);font: 10px");
        number->setObjectName(QString("port%1").arg(p));
        QLabel* icon = cell(port_strip, QRect(11 + 26 * k, 18 + y, 16, 14));
        icon->setObjectName(QString("port%1state").arg(p));
        setPicture(icon, pictureOf(mask >> (p - 1) & 1 ? pic::kOnline : pic::kOffline));
    }
    port_strip->show();
}

void MachineState::language_changed() {
    ui->label_title->setText(text(kTitle));
    setPicture(ui->label_state3, pictureOf(pic::kVersionState));
}

void MachineState::syncUpdate(int id) {
    source_check();
    if (fpga_manage::p_fpga_manage && id == 11) initWlan();
}

void MachineState::keyBack() {
    on_Button_back_clicked();
}

void MachineState::on_Button_back_clicked() {
    panel::back(this);
}
