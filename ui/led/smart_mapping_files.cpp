// Smart mapping, screen 5: the scan files of the box and the USB disk, three a page.
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "ui/led/smart_mapping.h"
#include "ui/led/smart_mapping_parts.h"
#include "ui_smart_mapping.h"

using namespace smart_mapping;

void SmartMapping::on_Button_front_6_clicked() {
    if (ringShown()) return;
    enterScreen(kScanPort);
}

void SmartMapping::ringFiles() {
    loadscan_step = 1;
    file_buttons_active = 0;
    file_button_focus = file_count > 0 ? 1 : 0;
    focus.setItems({{ui->Button_front_6, kField}, {ui->Button_load, kField}}, file_button_focus);
    if (file_count > 0) focus.clearFocus();
}

void SmartMapping::countScanFiles() {
    const int internal = int(scanFilesIn(kInternalDir).size());
    scan_file_count = std::min(internal + int(scanFilesIn(kUsbDir).size()), kMaxFiles);
}

void SmartMapping::collectFiles() {
    const QStringList internal = scanFilesIn(kInternalDir);
    const QStringList usb = scanFilesIn(kUsbDir);
    internal_file_count = std::min(int(internal.size()), kMaxFiles);
    file_count = std::min(internal_file_count + int(usb.size()), kMaxFiles);
    files = (internal.mid(0, internal_file_count) + usb).mid(0, file_count);
    list.file_select = 0;
    list.select_state = kFocus;
    list.current_page = 0;
    file_page_shown = 1;
    scan_file_list();
}

// Entry k: its name in its kind's colour (white on the box, green on the disk), which an
// ellipsis keeps.
PagedList::Entry SmartMapping::fileEntry(int k) const {
    const bool usb = k >= internal_file_count;
    const QString name = QFileInfo(files.value(k)).fileName().remove('\n').toHtmlEscaped();
    return {QString("<font color = %1 >%2</font>").arg(usb ? "#00FF00" : "#FFFFFF", name), false};
}

void SmartMapping::scan_file_list() {
    chosen_file = file_count > 0 ? files.value(list.file_select) : QString();
    PagedList::Layout& at = list.layout;
    at.frame = QRect(10, 55, 220, 90);
    at.per_page = kFilesPerPage;
    at.row_step = 25;  // three rows fill the frame, the third beside the next arrow
    at.entry_width = 190;
    at.empty = QRect(5, 5, 200, 40);
    at.arrow_x = 200;
    at.arrow = QSize(15, 20);
    at.next_arrow_y = 55;
    at.look = panel_style::kScanEntry;
    list.may_page = [this] { return !ringShown(); };
    list.draw(
        ui->page_6, file_count, text(kNoFile), [this](int k) { return fileEntry(k); },
        [this](int slot) { zem_button_file_clicked(slot); });
}

// The entry under the keys: the selection where the page shows it, else the page's first.
int SmartMapping::keyEntry() const {
    return list.slotOf(list.file_select) >= 0 ? list.file_select : list.firstShown();
}

void SmartMapping::zem_button_file_clicked(int slot) {
    if (ringShown()) return;
    list.select(slot);
    chosen_file = files.value(list.file_select);
    // The keys follow the touch: on Load, with this entry under them.
    file_buttons_active = 1;
    file_button_focus = 1;
    focus.select(1);
}

void SmartMapping::keyFiles(KeyAction a) {
    const int e = list.shownCount();
    if (file_buttons_active || e == 0) {
        switch (a) {
            case KeyAction::Left:
            case KeyAction::Right:
                file_button_focus ^= 1;
                return focus.select(file_button_focus);
            case KeyAction::Ok:
                if (file_button_focus == 0) return on_Button_front_6_clicked();
                on_Button_load_clicked();
                if (e == 0) return;
                file_buttons_active = 0;
                focus.clearFocus();
                return list.selectEntry(keyEntry(), kFocus);
            default:
                if (e == 0) return on_Button_front_6_clicked();
                file_buttons_active = 0;
                focus.clearFocus();
                list.selectEntry(keyEntry(), kFocus);
                return textsScanPort();
        }
    }
    switch (a) {
        case KeyAction::Right:
        case KeyAction::Left: {
            if (ringShown()) return;  // the list under a job stays as it is
            // From the entry under the keys; onto the page's first where the arrows paged away.
            const bool shown = list.slotOf(list.file_select) >= 0;
            int k = shown ? list.file_select + (a == KeyAction::Right ? 1 : -1) : list.firstShown();
            if (k >= file_count) k = 0;
            if (k < 0) k = 0;
            list.selectEntry(k, kFocus);
            chosen_file = files.value(k);
            return;
        }
        case KeyAction::Ok:
            return zem_button_file_clicked(keyEntry() - list.firstShown());
        default:
            return on_Button_front_6_clicked();
    }
}
