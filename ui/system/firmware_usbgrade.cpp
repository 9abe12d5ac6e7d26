#include "ui/system/firmware_usbgrade.h"

#include <QFileInfo>
#include <iterator>
#include <utility>

#include "core/globals.h"
#include "core/sync_update.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/usb_upgrade.h"
#include "ui/shell/job_gate.h"
#include "ui/shell/page_store.h"
#include "ui_firmware_usbgrade.h"

firmware_usbgrade* g_firmware_usbgrade = nullptr;

namespace {

constexpr int kDiskRemoved = 101;  // the refresh id of a disk pulled

const Texts kTitle = {"USB升级", "USB UPDATE", "Обновление через USB", "Sử dụng ổ USB để cập nhật",
                      "USB升級"};
const Texts kOk = {"确定", "OK", "OK", "Đồng ý", "確定"};
const Texts kNoFile = {"无加载文件!", "No loaded file!", "Нет файлов для загрузки!",
                       "Không có tập tin để tải!", "無加載文件!"};
// clang-format off
// Why the first package was refused or the first part failed, by UsbFault.
const Texts kFaults[] = {
    {"升级未完成", "Not all installed", "Установлено не всё", "Chưa cài đặt hết", "升級未完成"},
    {"升级包不适用于本机", "Package not for this box", "Пакет не для этого устройства", "Gói không dành cho máy này", "升級包不適用於本機"},
    {"文件损坏或不完整", "File damaged or cut short", "Файл повреждён или обрезан", "Tập tin bị hỏng hoặc thiếu", "文件損壞或不完整"},
    {"文件过大", "File too large", "Файл слишком большой", "Tập tin quá lớn", "文件過大"},
    {"写入失败", "Write failed", "Ошибка записи", "Ghi không thành công", "寫入失敗"},
    {"U盘已拔出", "The disk was removed", "USB-накопитель извлечён", "Đã rút ổ USB", "U盤已拔出"}};
const Texts kCounts = {"成功%1 失败%2 拒绝%3", "%1 installed, %2 failed, %3 refused", "успешно %1, сбой %2, отказ %3", "%1 xong, %2 lỗi, %3 bị từ chối", "成功%1 失敗%2 拒絕%3"};
const Texts kNotRead = {" 未读%1", ", %1 not read", ", не считано %1", ", %1 chưa đọc", " 未讀%1"};
// clang-format on

// The box clock as "h:m:s", no leading zeros.
QString timeText() {
    TimeRealType t{};
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage) fpga->IT8563WE_Get(&t);
    return QString("%1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
}

}  // namespace

firmware_usbgrade::firmware_usbgrade(QWidget* parent)
    : PanelPage(kPageFirmwareUsbGrade, parent), ui(new Ui::firmware_usbgrade) {
    ui->setupUi(this);
    ui->label_log->setText(QString());
    focus.setItems({{ui->Button_grade, panel_style::kButton}});
    get_file_list_smartpath();
    language_changed();
}

firmware_usbgrade::~firmware_usbgrade() {
    delete ui;
}

void firmware_usbgrade::language_changed() {
    setFittedText(ui->label_usb_update, text(kTitle));
    ui->Button_grade->setText(text(kOk));
    upgrade_file_list();  // the no-file text
    if (end_shown_) drawEnd();
}

void firmware_usbgrade::get_file_list_smartpath() {
    file_list = usbUpgradeFiles();
    package_count = font_count = 0;
    for (const QString& f : file_list) ++(f.endsWith(".ZEM") ? package_count : font_count);
    list.current_page = 0;
    upgrade_file_list();
}

void firmware_usbgrade::upgrade_file_list() {
    // Every listed file is marked: the job writes each of them.
    list.draw(
        ui->frame, file_list.size(), text(kNoFile),
        [this](int i) {
            const QString name = QFileInfo(file_list.at(i)).fileName();
            return PagedList::Entry{QString("<font color = #FFFFFF >%1</font>").arg(name), true};
        },
        [this](int k) { list.select(k); });
}

void firmware_usbgrade::syncUpdate(int id) {
    if (id >= 100 && id <= 102) diskChanged(id);
    if (id != 104) return;
    if (file_downing)
        on_Button_grade_clicked();
    else
        jobEnd();  // a job an earlier visit of the page started
}

void firmware_usbgrade::diskChanged(int id) {
    // The job's list and lines stay until it ends; the last event is acted on then.
    if (job_running) {
        kept_disk_event_ = id;
        return;
    }
    // Another disk, or none: OK may start a job on it. The last job's end line stays until
    // another job starts or the page closes.
    file_downing = 0;
    // A disk plugged in (100) has nothing to read until it is mounted.
    if (id == 100) return;
    listFollowsDisk();
}

void firmware_usbgrade::listFollowsDisk() {
    file_downing = 0;
    list.file_select = -1;  // a new list: nothing chosen in it yet
    get_file_list_smartpath();
}

void firmware_usbgrade::menulist_button_ok_page() {
    // Once a disk, only with something to write, and only while nothing else runs.
    if (file_downing || file_list.isEmpty() || !panel::jobGateOpen()) return;
    file_downing = 1;
    job_running = 1;
    end_shown_ = false;
    ui->label_log->setText(QString());
    start_time = timeText();
    g_send_para[send_para::kStep] = 0;
    g_usb_grade = 1;
}

void firmware_usbgrade::upgradeResult(int installed, int failed, int refused, int fault,
                                      int files_read, int not_read) {
    job_running = 0;
    result_files_read_ = files_read;
    result_not_read_ = not_read;
    result_installed_ = installed;
    result_failed_ = failed;
    result_refused_ = refused;
    result_fault_ = fault;
    result_known_ = true;
}

void firmware_usbgrade::drawEnd() {
    const bool good =
        result_known_ && result_failed_ == 0 && result_refused_ == 0 && result_not_read_ == 0;
    QString line = "downing over<br>" + end_times_;
    if (result_known_ && !good) {
        const int kind = result_fault_ > kUsbFaultNone && result_fault_ < int(std::size(kFaults))
                             ? result_fault_
                             : kUsbFaultNone;
        line = text(kFaults[kind]) + "<br>" +
               text(kCounts).arg(result_installed_).arg(result_failed_).arg(result_refused_);
        if (result_not_read_ > 0) line += text(kNotRead).arg(result_not_read_);
    }
    ui->label_log->setText(QString("<font style = 'font-size:13px' color = %1 >%2</font>")
                               .arg(good ? "#51BB28" : "#FF0000", line));
    ui->label_log->show();
    end_shown_ = true;
}

void firmware_usbgrade::on_Button_grade_clicked() {
    if (!file_downing) return;  // nothing started: nothing to report
    if (job_running) {
        ui->label_log->setText(
            QString("<font style = 'font-size:12px' color = #FF0000 >%1</font>")
                .arg("downing ,Dont power off !!<br>" + start_time + "    " + timeText()));
        ui->label_log->show();
        return;
    }
    jobEnd();
}

void firmware_usbgrade::jobEnd() {
    const int kept = std::exchange(kept_disk_event_, 0);
    // A job that read no file has no outcome to tell: its disk went away.
    const bool disk_gone = result_known_ && result_files_read_ == 0;
    if (disk_gone) {
        end_shown_ = false;
        ui->label_log->setText(QString());
    } else {
        fpga_manage* fpga = fpga_manage::p_fpga_manage;
        end_times_ = fpga ? fpga->usb_upgrade_time : start_time;
        drawEnd();
    }
    if (!kept && !disk_gone) return;
    listFollowsDisk();
    // After the hub's refresh, as it shows a disk event's tip.
    const int tip_of = kept ? kept : kDiskRemoved;
    QMetaObject::invokeMethod(
        this, [tip_of] { SyncUpdate::showUsbTip(tip_of); }, Qt::QueuedConnection);
}

void firmware_usbgrade::keyMode() {
    if (!file_downing) PageFrame::keyMode();
}

void firmware_usbgrade::keyBack() {
    panel::back(this);
}
