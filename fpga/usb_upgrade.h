// The USB-disk upgrade's report to the panel: the upgrade page and overlay (built with the
// panel) take these signals, queued, on the main thread.
#pragma once

#include <QObject>
#include <QStringList>
#include <string>
#include <vector>

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
    // the flash), packages refused whole (short, lying or for another box), the UsbFault of
    // the first package refused or child failed, how many files it read (none when the disk
    // went away before the job came to its files: 0 0 0 then tells nothing), and how many it
    // did not, their disk gone.
    void sig_usb_upgrade_result(int installed, int failed, int refused, int fault, int files_read,
                                int not_read);

private:
    usb_upgrade_report() = default;
};

// Why a package was refused or a child failed, as the owner can act on it.
enum UsbFault : int {
    kUsbFaultNone = 0,
    kUsbFaultOtherBox,  // a package for another controller type: nothing in it is for this box
    kUsbFaultDamaged,   // a file damaged or cut short: its parts don't add up
    kUsbFaultTooLarge,  // a part larger than its place on the box
    kUsbFaultWrite,     // written, but the flash or the file did not take it
    kUsbFaultDiskGone,  // its file went with the disk before it was read whole
};

// The upgrade files on the USB disk: "ZEM" packages and "ZEMZK" font libraries (suffix as
// written, any name before it, hidden or not UTF-8 too) of the upgrade folder ("/mnt/usb1/"
// and g_usb_grade_path, " " the disk itself), in directory order, at most kUsbFileMax. Their
// paths are the names' bytes, so that any name opens. The "._NAME" companions some systems
// write beside every file on a FAT disk are no packages: skipped and counted.
constexpr int kUsbFileMax = 100;
struct UsbFileList {
    std::vector<std::string> paths;
    int past_limit = 0;  // upgrade files past kUsbFileMax
    int companions = 0;  // "._NAME" companions skipped
};
UsbFileList usbPackageFiles();
// The same files for the page, their paths as text; left_out, when given, gets the number of
// upgrade files past the limit.
QStringList usbUpgradeFiles(int* left_out = nullptr);
