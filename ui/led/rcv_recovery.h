// The receiving-card self-recovery page (page 25): Query (task 5) finds the cards that differ
// from their saved files, Recovery (task 6) restores them, each under the progress ring. The
// page shows the outcome of the last query or recovery that the FPGA thread holds (a new page
// too): its list, or why the job failed; Recovery acts only on an entry the page shows. Nets
// whose cards did not answer the query are listed after its entries; the no-cards text is
// shown only after a list with every net answering. While a query runs (the mailbox says so,
// whoever posted it) the page shows its ring and no outcome: it has none yet.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>

#include "fpga/rcv_job_events.h"
#include "ui/shell/paged_list.h"
#include "ui/shell/panel_frame.h"

namespace Ui {
class rcv_recovery;
}

class rcv_recovery : public PanelPage<QDialog, rcv_recovery> {
    Q_OBJECT

public:
    explicit rcv_recovery(QWidget* parent = nullptr);
    ~rcv_recovery() override;

    // A cleared list (99) or cards the FPGA thread found to recover: the list is drawn again.
    void syncUpdate(int id);
    // The progress of task 5 or 6 from the FPGA thread, whoever posted it: to the ring, which a
    // running query has also when another posted it; 100 ends the job and draws its outcome.
    void jobProgress(int value);
    void language_changed() override;
    void rcv_self_recovery_file_list();
    void menulist_button_ok_page();
    void menulist_back_page() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // A list of entries (empty: nothing to recover) and the nets, "screen/net", whose cards did
    // not answer the query.
    void setResultList(const QStringList& entries, const QStringList& silent = {});
    // The outcome of a query or recovery: its list, or why it failed in place of the no-cards
    // text; a failed recovery's line comes before the card it keeps.
    void showOutcome(const RecoveryOutcome& outcome);
    // The outcome the FPGA thread holds (none yet without an FPGA manager).
    static RecoveryOutcome heldOutcome();

    QStringList result_list;
    QStringList silent_nets;  // drawn after the entries
    uint8_t shown_count = 0;
    uint32_t recovery_blocked = 0;  // the last drawn entry's card is past its net's cards
    PagedList list;
    Ui::rcv_recovery* ui;

signals:
    void sig_qround_bar_update(int value);

protected:
    void keyLeft() override;
    void keyRight() override;
    void keyOk() override { menulist_button_ok_page(); }
    void keyMode() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        menulist_back_page();
    }

private:
    bool startJob(uint8_t task);
    void showRing();
    // A ring while a query runs, as under the page's own.
    void ringForRunningQuery();
    // The line of a net ("screen/net") whose cards did not answer the query.
    PagedList::Entry silentNetEntry(const QString& net) const;
    QString emptyText() const;
    void takeOutcome(const RecoveryOutcome& outcome);
    int outcome_kind_ = RecoveryOutcome::kNoQueryYet;  // of the outcome shown
};

extern rcv_recovery* g_rcv_recovery;
