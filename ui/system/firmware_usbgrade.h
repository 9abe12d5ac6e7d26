// The USB upgrade page (page 26): the upgrade packages and font libraries on the USB disk, four
// a page, and OK to have the FPGA thread install them under the upgrade overlay. The end line
// says whether everything was installed, and else how many parts and why; a job that read no
// file (its disk gone) draws none. A disk event while the job runs is acted on after its end;
// the end line stays through disk changes until another job starts or the page closes.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>

#include "ui/shell/paged_list.h"
#include "ui/shell/panel_frame.h"

namespace Ui {
class firmware_usbgrade;
}

class firmware_usbgrade : public PanelPage<QDialog, firmware_usbgrade> {
    Q_OBJECT

public:
    explicit firmware_usbgrade(QWidget* parent = nullptr);
    ~firmware_usbgrade() override;

    void syncUpdate(int id);
    void language_changed() override;
    // Reads the upgrade folder, then draws the list.
    void get_file_list_smartpath();
    void upgrade_file_list();
    void menulist_button_ok_page();

    QStringList file_list;
    uint8_t package_count = 0;
    uint8_t font_count = 0;
    uint8_t file_downing = 0;  // this page started an upgrade on the disk shown
    uint8_t job_running = 0;   // ... which has not ended yet
    QString start_time;        // of the upgrade, for the touch line
    PagedList list;
    Ui::firmware_usbgrade* ui;

public slots:
    void on_Button_grade_clicked();
    // The job's end: what it installed, what failed and what it refused, why (UsbFault) the
    // first package was refused or the first child failed, how many files it read and how many
    // its disk took with it unread.
    void upgradeResult(int installed, int failed, int refused, int fault, int files_read,
                       int not_read);

protected:
    void keyLeft() override {}
    void keyRight() override {}
    void keyOk() override { menulist_button_ok_page(); }
    void keyMode() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

private:
    // A disk plugged in (100), removed (101) or mounted (102); kept while the job runs.
    void diskChanged(int id);
    // The list of the disk as it is now, a new list: OK may start a job on it.
    void listFollowsDisk();
    // The end line of the job's outcome, none when it read no file; then the disk event kept
    // during the job, or the disk gone, with its tip.
    void jobEnd();
    void drawEnd();  // the end line, in the language in force
    int result_installed_ = 0;
    int result_failed_ = 0;
    int result_refused_ = 0;
    int result_fault_ = 0;
    int result_files_read_ = 0;
    int result_not_read_ = 0;
    bool result_known_ = false;
    int kept_disk_event_ = 0;  // the last disk event while the job ran, 0 none
    bool end_shown_ = false;
    QString end_times_;
};

extern firmware_usbgrade* g_firmware_usbgrade;
