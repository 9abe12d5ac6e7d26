#include "ui/system/factoryage.h"

#include <QDateTime>
#include <QLabel>
#include <mutex>

#include "core/globals.h"
#include "core/utils.h"
#include "ui/shell/main_window.h"
#include "ui_factoryage.h"

factoryage* g_factoryage = nullptr;

namespace {

const char* const kBits[5] = {"DDR0", "DDR1", "DE", "HS", "VS"};

QString three(int v) {
    return QString("%1").arg(v, 3, 10, QChar('0'));
}

// One FPGA's line: register 42, the five status words of register 40, register 43.
QString fpgaLine(const QStringList& parts, int first) {
    QString line = three(parts[first].toInt()) + ' ';
    const int status = parts[first + 1].toInt();
    for (int bit = 0; bit < 5; ++bit) {
        const bool set = status >> bit & 1;
        line += QString("<font color = %1 >%2</font>").arg(set ? "#00FF00" : "#FF0000", kBits[bit]);
        if (bit < 4 || set) line += ' ';  // a red "VS" runs into the digits
    }
    return line + three(parts[first + 2].toInt());
}

}  // namespace

factoryage::factoryage(QWidget* parent)
    : PanelPage(kPageFactoryAge, parent), ui(new Ui::factoryage) {
    ui->setupUi(this);
    log_font.setPixelSize(10);
    focus.setItems(
        {{ui->ButtonNext, panel_style::kButton}, {ui->ButtonPriv, panel_style::kButton}});
    ageloginit();
}

factoryage::~factoryage() {
    delete ui;
}

int factoryage::pageCount() {
    return (factoryage_log.size() + kPerPage - 1) / kPerPage;
}

void factoryage::ageloginit() {
    QString now;
    {
        zem::MutexLocker lock(Utils::_system_mutex);
        now = QDateTime::currentDateTime().toString("MM-dd hh:mm");
    }
    delete log_container;
    log_container = new QWidget(ui->frame);
    log_container->setGeometry(0, 0, 280, 236);
    log_label = new QLabel(log_container);
    log_label->setObjectName("label_log");
    log_label->setGeometry(0, 0, 260, 236);
    log_label->setFont(log_font);
    log_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    log_label->setStyleSheet("background-color: #10101C;color: #FFFFFF;");
    if (factoryage_log.isEmpty()) {
        log_label->setText(now + QString::fromUtf8("  正在老化中..."));
        log_text.clear();
        showCounts();
    } else {
        update_agelog();
    }
    log_container->show();
}

void factoryage::update_agelog() {
    const int n = factoryage_log.size();
    if (n == 0) return ageloginit();
    if (page_index >= pageCount()) page_index = pageCount() - 1;  // the log only grows
    log_text.clear();
    const int first = page_index * kPerPage;
    for (int i = first; i < std::min(n, first + kPerPage); ++i) {
        if (i != first) log_text += "<br>";
        const QStringList parts = factoryage_log.at(i).split(' ');
        if (parts.size() != 8) continue;
        log_text +=
            parts[0] + ' ' + parts[1] + ' ' + fpgaLine(parts, 2) + "<br>" + fpgaLine(parts, 5);
    }
    log_label->setText(log_text);
    showCounts();
}

void factoryage::showCounts() {
    const uint32_t* fpga0[5] = {&factoryage_log_diff3, &factoryage_log_diff5,
                                &factoryage_log_diff10, &factoryage_log_diff20,
                                &factoryage_log_diffmore};
    const uint32_t* fpga1[5] = {&factoryage_log2_diff3, &factoryage_log2_diff5,
                                &factoryage_log2_diff10, &factoryage_log2_diff20,
                                &factoryage_log2_diffmore};
    const char* const buckets[5] = {"<3", "<5", "<10", "<20", ">20"};
    QLabel* rows[5] = {ui->label_3, ui->label_5, ui->label_10, ui->label_20, ui->label_more};
    for (int r = 0; r < 5; ++r)
        rows[r]->setText(QString("%1%2,%3%2").arg(*fpga0[r]).arg(buckets[r]).arg(*fpga1[r]));
    const int n = factoryage_log.size();
    ui->page_info->setText(QString::number(n));
    // An empty log has no page to show: 0/0.
    ui->label_page->setText(QString("%1/%2").arg(n ? page_index + 1 : 0).arg(pageCount()));
}

void factoryage::on_ButtonNext_clicked() {
    if (page_index >= pageCount()) return;
    if (++page_index >= pageCount()) page_index = 0;
    update_agelog();
}

void factoryage::on_ButtonPriv_clicked() {
    if (factoryage_log.isEmpty()) return;
    page_index = page_index > 0 ? page_index - 1 : pageCount() - 1;
    update_agelog();
}

void factoryage::keyBack() {
    panel::back(this);
}
