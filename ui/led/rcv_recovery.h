// The receiving-card self-recovery page (page 25): Query (task 5) finds the cards that differ
// from their saved files, Recovery (task 6) restores them, each under the progress ring. The
// FPGA thread's result list, or why its job failed, arrives queued; Recovery acts only on an
// entry the page shows. Nets whose cards did not answer the query are listed after its entries;
// the no-cards text is shown only after a job that ran to its end with every net answering.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>

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
    void language_changed() override;
    void rcv_self_recovery_file_list();
    void menulist_button_ok_page();
    void menulist_back_page();
    // The FPGA thread's whole result list (empty: nothing to recover) and the nets, "screen/net",
    // whose cards did not answer the query.
    void setResultList(const QStringList& entries, const QStringList& silent = {});
    // The job ended in error (a RecoveryFault): no entry is shown, and a line says why in place
    // of the no-cards text.
    void setJobFailed(int fault);

    QStringList result_list;
    QStringList silent_nets;  // drawn after the entries, until the next job
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
    void keyMode() override;
    void keyBack() override { menulist_back_page(); }

private:
    bool startJob(uint8_t task);
    // The line of a net ("screen/net") whose cards did not answer the query.
    PagedList::Entry silentNetEntry(const QString& net) const;
    int job_fault_ = 0;  // the RecoveryFault of the last job, until another starts
};

extern rcv_recovery* g_rcv_recovery;
