// What the receiving-card jobs of the FPGA thread tell the pages: progress 0..100 (100: the job
// ended) for the smart-mapping page (tasks 1 to 4) and the recovery page (tasks 5 and 6), and
// the recovery page's result list or why its job failed. Emitted on the FPGA thread; the pages
// connect queued.
#pragma once

#include <QObject>
#include <QStringList>

// Why a query or a recovery ended in error.
enum RecoveryFault : int {
    kRecoveryNoFault = 0,
    kRecoveryFileFault,  // no single file in /data/rcvrecovery, or the file refused or unreadable
    kRecoveryJobFault,   // anything else: an FPGA not running, a card target gone, the time bound
    kRecoveryNoAnswer,   // a query whose nets' cards all left it unanswered
};

class rcv_job_events : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void sig_smartmapping_progress(int value);
    void sig_recovery_progress(int value);
    // The whole result list of the recovery page: empty (nothing to recover) or one entry
    // "screen/net/card/cards of the net", two digits each; and the nets of a query whose cards
    // did not answer, "screen/net", which the entries say nothing about.
    void sig_recovery_list(QStringList entries, QStringList silent_nets);
    // A query or recovery ended in error (a RecoveryFault), in place of the list; before the
    // final progress 100.
    void sig_recovery_failed(int fault);
};
