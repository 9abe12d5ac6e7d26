// The USB-disk upgrade's report to the panel: the upgrade page and overlay (built with the
// panel) take these signals, queued, on the main thread.
#pragma once

#include <QObject>
#include <QStringList>

class usb_upgrade_report : public QObject {
    Q_OBJECT

public:
    static usb_upgrade_report* pInstance();

signals:
    // Show or close the "updating" overlay (MainWindow::update_start / update_over).
    void sig_update_start();
    void sig_update_over();
    // Progress of the job, 0..100; 100 when it has ended.
    void sig_qround_bar_update(int percent);
    // The job ended: children installed, children that failed (written wrongly or refused by
    // the flash) and packages refused whole (short or lying).
    void sig_usb_upgrade_result(int installed, int failed, int refused);

private:
    usb_upgrade_report() = default;
};

// The upgrade files on the USB disk: "ZEM" packages and "ZEMZK" font libraries (suffix as
// written) of the upgrade folder ("/mnt/usb1/" and g_usb_grade_path, " " the disk itself), in
// directory order, at most kUsbFileMax. The page lists them and the job writes them; left_out,
// when given, gets the number of upgrade files past the limit.
constexpr int kUsbFileMax = 100;
QStringList usbUpgradeFiles(int* left_out = nullptr);
