// What the receiving-card jobs of the FPGA thread tell the pages: progress 0..100 (100: the job
// ended) for the smart-mapping page (tasks 1 to 4) and the recovery page (tasks 5 and 6), and
// the outcome of the last query or recovery, held here so that a recovery page opened later and
// status read the same. Emitted on the FPGA thread; the pages connect queued.
#pragma once

#include <QObject>
#include <QStringList>
#include <mutex>

#include "core/thread_safety.h"

// What the recovery page shows after the last query or recovery.
struct RecoveryOutcome {
    enum Kind : int {
        kNoQueryYet,
        kNoFile,          // no file in /data/rcvrecovery
        kFileRefused,     // several files, or the one refused or unreadable
        kQueryFailed,     // no net answered, an FPGA not running, ...
        kRecoveryFailed,  // a card operation failed, or the recovery ended in error
        kList,            // the card found, or none among the nets that answered
    };
    Kind kind = kNoQueryYet;
    // The card to recover, "screen/net/card/cards of the net", two digits each: after a list
    // that found it, and after a failed recovery, which keeps it for the next.
    QStringList entries;
    // The nets, "screen/net", whose cards did not answer the last query: listed until a query
    // hears them.
    QStringList silent_nets;
};

// The name of an outcome in the five languages, for the page and status alike; a list has
// none (its entries speak).
using RecoveryOutcomeName = const char* const[5];
const RecoveryOutcomeName& recoveryOutcomeName(RecoveryOutcome::Kind kind);

class rcv_job_events : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The FPGA thread ends a query or recovery: the outcome is held, then told.
    void recoveryEnded(const RecoveryOutcome& outcome);
    RecoveryOutcome recoveryOutcome() const;  // from any thread

signals:
    void sig_smartmapping_progress(int value);
    void sig_recovery_progress(int value);
    // A new outcome is held; before the final progress 100.
    void sig_recovery_outcome();

private:
    mutable zem::Mutex mutex_;
    RecoveryOutcome outcome_ GUARDED_BY(mutex_);
};
