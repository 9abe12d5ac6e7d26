// What the receiving-card jobs of the FPGA thread tell the pages: progress 0..100 (100: the job
// ended) for the smart-mapping page (tasks 1 to 4) and the recovery page (tasks 5 and 6), and
// the recovery page's result list. Emitted on the FPGA thread; the pages connect queued.
#pragma once

#include <QObject>
#include <QStringList>

class rcv_job_events : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void sig_smartmapping_progress(int value);
    void sig_recovery_progress(int value);
    // The whole result list of the recovery page: empty (nothing to recover) or one entry
    // "screen/net/card/cards of the net", two digits each.
    void sig_recovery_list(QStringList entries);
};
