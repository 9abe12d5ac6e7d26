#include "ui/led/rcv_recovery.h"

#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "ui/shell/job_gate.h"
#include "ui/shell/qround_progress_bar.h"
#include "ui_rcv_recovery.h"

rcv_recovery* g_rcv_recovery = nullptr;

namespace {

const Texts kTitle = {"接收卡自恢复", "Receiving card self recovery",
                      "Самовосстановление приемной карты", "Thẻ nhận tự phục hồi", "接收卡自恢復"};
const Texts kUpdate = {"接收卡更新", "Receiving card update", "Обновление приемных карт",
                       "Cập nhật thẻ nhận", "接收卡更新"};
const Texts kQuery = {"查询", "Query", "Считать", "Tìm hiểu", "查詢"};
const Texts kRecovery = {"恢复", "Recovery", "Восстановить", "Phục hồi", "恢復"};
const Texts kNoCards = {"暂无接收卡需要更新!", "No receiving cards that need to be updated!",
                        "Обновление принимающих карт не требуется!",
                        "Chưa có thẻ nhận nào để cập nhật!", "暫無接收卡需要更新!"};
// The entry words: Chinese where in force, English in every other language.
const Texts kFound = {"发现", "Find", "Find", "Find", "發現"};
const Texts kScreen = {"屏幕", "Screen", "Screen", "Screen", "屏幕"};
const Texts kPort = {"网口LED", "LED", "LED", "LED", "網口LED"};
const Texts kCard = {"接收卡", "Rcv", "Rcv", "Rcv", "接收卡"};
// A net whose cards did not answer the query.
const Texts kNoAnswer = {"无应答", "No answer", "Нет ответа", "Không phản hồi", "無應答"};

QString red(const QString& words) {
    return QString("<font color = #FF0000 >%1</font>").arg(words);
}

}  // namespace

rcv_recovery::rcv_recovery(QWidget* parent)
    : PanelPage(kPageRcvRecovery, parent), ui(new Ui::rcv_recovery) {
    ui->setupUi(this);
    focus.setItems(
        {{ui->Button_check, panel_style::kButton}, {ui->Button_self_covery, panel_style::kButton}});
    // A touch works a button as OK on it does; under the ring, as the keys, it does nothing.
    int item = 0;
    for (QPushButton* button : {ui->Button_check, ui->Button_self_covery})
        connect(button, &QPushButton::clicked, this, [this, index = item++] {
            if (!g_qround_bar.isNull()) return;
            focus.select(index);
            menulist_button_ok_page();
        });
    takeOutcome(heldOutcome());
    language_changed();
    ringForRunningQuery();
}

rcv_recovery::~rcv_recovery() {
    delete ui;
}

void rcv_recovery::language_changed() {
    setShrunkText(ui->label_title, text(kTitle));
    setShrunkText(ui->label_rcv_update, text(kUpdate));
    setShrunkText(ui->Button_check, text(kQuery));
    setShrunkText(ui->Button_self_covery, text(kRecovery));
    rcv_self_recovery_file_list();
}

void rcv_recovery::rcv_self_recovery_file_list() {
    // A query that runs has no outcome yet.
    if (fpga_manage::query_running()) return list.draw(ui->frame, 0, QString(), nullptr, nullptr);
    // A failed recovery says so on the line before the card it keeps.
    const int head = outcome_kind_ == RecoveryOutcome::kRecoveryFailed ? 1 : 0;
    list.draw(
        ui->frame, head + shown_count + silent_nets.size(), emptyText(),
        [this, head](int i) {
            if (i < head)
                return PagedList::Entry{
                    red(text(recoveryOutcomeName(RecoveryOutcome::Kind(outcome_kind_)))), false};
            i -= head;
            if (i >= shown_count) return silentNetEntry(silent_nets.value(i - shown_count));
            const QStringList p = result_list.value(i).split('/');
            if (p.size() < 4) return PagedList::Entry{};
            const bool red = p[2].toInt() > p[3].toInt();
            recovery_blocked = red;  // the last drawn entry decides
            const QString card =
                QString("<font color = %1 >%2</font>").arg(red ? "#FF0000" : "#FFFFFF", p[2]);
            return PagedList::Entry{text(kFound) + ' ' + text(kScreen) + p[0] + ", " + text(kPort) +
                                        p[1] + ", " + text(kCard) + card,
                                    false};
        },
        [this, head](int k) {
            const int i = list.firstShown() + k - head;
            if (i >= 0 && i < shown_count) list.select(k);
        });
}

QString rcv_recovery::emptyText() const {
    // The no-cards text under a list; else why none is shown.
    const auto kind = RecoveryOutcome::Kind(outcome_kind_);
    if (kind == RecoveryOutcome::kList) return text(kNoCards);
    const QString name = text(recoveryOutcomeName(kind));
    return kind == RecoveryOutcome::kNoQueryYet ? name : red(name);
}

PagedList::Entry rcv_recovery::silentNetEntry(const QString& net) const {
    const QStringList p = net.split('/');
    if (p.size() < 2) return {};
    return {red(text(kNoAnswer) + ": " + text(kScreen) + p[0] + ", " + text(kPort) + p[1]), false};
}

void rcv_recovery::syncUpdate(int id) {
    const uint16_t cards = send_para_u16(send_para::kCardToRecover);
    if (id == 99 || (cards != 255 && cards != 65535)) rcv_self_recovery_file_list();
}

void rcv_recovery::setResultList(const QStringList& entries, const QStringList& silent) {
    showOutcome({RecoveryOutcome::kList, entries, silent});
}

RecoveryOutcome rcv_recovery::heldOutcome() {
    const fpga_manage* m = fpga_manage::p_fpga_manage;
    return m && m->job_events ? m->job_events->recoveryOutcome() : RecoveryOutcome{};
}

void rcv_recovery::takeOutcome(const RecoveryOutcome& outcome) {
    outcome_kind_ = outcome.kind;
    result_list = outcome.entries;
    silent_nets = outcome.silent_nets;
    list.file_select = -1;  // a new list: nothing chosen in it yet
    shown_count = uint8_t(std::min(outcome.entries.size(), 255));
}

void rcv_recovery::showOutcome(const RecoveryOutcome& outcome) {
    takeOutcome(outcome);
    rcv_self_recovery_file_list();
}

bool rcv_recovery::startJob(uint8_t task) {
    // The ring closes the gate: post first.
    if (!panel::postJob(task)) return false;
    showRing();
    return true;
}

void rcv_recovery::showRing() {
    QRoundProgressBar::create_qround_bar(this);
    // Emitted on this thread, in the order the FPGA thread told: a 100 closes the ring before a
    // later job's progress comes.
    connect(this, &rcv_recovery::sig_qround_bar_update, g_qround_bar.data(),
            &QRoundProgressBar::para_sync, Qt::DirectConnection);
}

void rcv_recovery::ringForRunningQuery() {
    // The FPGA thread makes the mailbox idle before it tells the 100: a query that runs now
    // closes this ring with a 100 still to come.
    if (!g_qround_bar.isNull() || !fpga_manage::query_running()) return;
    showRing();
    rcv_self_recovery_file_list();
}

void rcv_recovery::jobProgress(int value) {
    if (value < 100) ringForRunningQuery();
    emit sig_qround_bar_update(value);
    if (value >= 100) rcv_self_recovery_file_list();
}

void rcv_recovery::menulist_button_ok_page() {
    if (!panel::jobGateOpen()) return;
    if (focus.ui_select == 0) {
        if (!startJob(5)) return;
        // Nothing under the ring until the query's outcome comes; the list shown before stays
        // stored meanwhile.
        rcv_self_recovery_file_list();
        return;
    }
    // Recovery acts only on a shown entry that does not block it.
    if (recovery_blocked) return;
    if (shown_count == 0) {
        focus.select(0);
        return;
    }
    startJob(6);
}

void rcv_recovery::keyLeft() {
    if (g_qround_bar.isNull()) focus.move(-1);
}

void rcv_recovery::keyRight() {
    if (g_qround_bar.isNull()) focus.move(+1);
}

void rcv_recovery::keyMode() {
    if (g_qround_bar.isNull()) PageFrame::keyMode();
}

void rcv_recovery::menulist_back_page() {
    // The ring keeps the page open while the FPGA thread may still report to it.
    if (g_qround_bar.isNull()) panel::back(this);
}
