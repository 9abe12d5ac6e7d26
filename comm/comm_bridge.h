// Requests from the protocol threads to the panel. Worker threads never touch widgets: they
// emit these signals, and start-up connects them (queued) to the pages on the main thread.
#pragma once

#include <QObject>

class comm_bridge : public QObject {
    Q_OBJECT

public:
    static comm_bridge* pInstance();

signals:
    // Show or close the upgrade overlay (MainWindow::update_start / update_over).
    void sig_update_start();
    void sig_update_over();
    // A PC update ended because its PC had gone: the panel says it did not finish.
    void sig_update_unfinished();
    // The PC finished writing a smart-mapping file (kind 13): the smart-mapping page goes back.
    void sig_smartmapping_written();
    // The PC deleted a file of "/data/smartmapping" (0) or "/data/rcvrecovery" (1): the pages
    // that list those files go back or reload their texts.
    void sig_file_deleted(int folder);

private:
    comm_bridge() = default;
};
