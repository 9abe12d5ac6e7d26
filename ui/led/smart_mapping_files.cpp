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
    file_focus = 0;
    file_buttons_active = 0;
    file_button_focus = file_count > 0 ? 1 : 0;
    focus.setItems({{ui->Button_front_6, kWizardItem}, {ui->Button_load, kWizardItem}},
                   file_button_focus);
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
    file_select = 0;
    current_page = 0;
    last_page = file_count % kFilesPerPage == 0 ? file_count / kFilesPerPage - 1
                                                : file_count / kFilesPerPage;
    last_page = std::max(last_page, 0);
    file_page_shown = 1;
    scan_file_list();
}

int SmartMapping::pageEntries() const {
    return std::max(0, std::min(kFilesPerPage, file_count - current_page * kFilesPerPage));
}

void SmartMapping::scan_file_list() {
    delete file_frame;
    file_frame = new QFrame(ui->page_6);
    file_frame->setObjectName("frame_file");
    file_frame->setGeometry(10, 55, 220, 90);
    file_frame->setStyleSheet(
        "#frame_file{background-color: rgb(33, 36, 53);border:1px solid "
        "#FFFFFF;}");
    chosen_file = file_count > 0 ? files.value(file_select) : QString();
    if (file_count == 0) {
        auto* empty = new QLabel(text(kNoFile), file_frame);
        empty->setObjectName("label_no_file");
        empty->setGeometry(5, 5, 200, 40);
        empty->setFont(pointFont(empty->font(), 7));
        empty->setStyleSheet("background-color: rgb(33, 36, 53);color: #FFFFFF");
    }
    for (int i = 0; i < pageEntries(); ++i) {
        const int k = current_page * kFilesPerPage + i;
        auto* label = new QLabel(file_frame);
        label->setObjectName(QString("entry%1").arg(i));
        label->setGeometry(5, 5 + 25 * i, 190, 20);
        label->setFont(pointFont(label->font(), 7));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setFittedText(label, QFileInfo(files[k]).fileName().remove('\n'));
        auto* button = new QPushButton(file_frame);
        button->setObjectName(QString::number(i));
        button->setGeometry(5, 5 + 25 * i, 190, 20);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet("background-color: transparent;");
        connect(button, &QPushButton::clicked, this, &SmartMapping::zem_button_file_clicked);
        styleEntry(k, k == file_select ? kFocused : kIdle);
    }
    const auto pager = [this](const char* name, int y, PictureName icon,
                              void (SmartMapping::*slot)()) {
        auto* b = new QPushButton(file_frame);
        b->setObjectName(name);
        b->setGeometry(200, y, 15, 20);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet("background-color: rgb(33, 36, 53);");
        setIcon(b, pictureOf(icon), 15, 20);
        connect(b, &QPushButton::clicked, this, slot);
    };
    if (current_page >= 1)
        pager("Button_previous", 5, pic::kPrevious, &SmartMapping::zem_Button_previous_clicked);
    if (current_page < last_page)
        pager("Button_next_page", 55, pic::kNext, &SmartMapping::zem_Button_next_clicked);
    file_frame->show();
}

void SmartMapping::styleEntry(int overall, int state) {
    const int i = overall - current_page * kFilesPerPage;
    if (i < 0 || i >= pageEntries()) return;
    if (auto* label = file_frame->findChild<QLabel*>(QString("entry%1").arg(i)))
        label->setStyleSheet(kEntryStyle[overall >= internal_file_count][state]);
}

void SmartMapping::showPage(int page) {
    current_page = page < 0 ? 0 : page > last_page ? 0 : page;
    scan_file_list();
}

void SmartMapping::zem_button_file_clicked() {
    if (ringShown() || !sender()) return;
    const int i = sender()->objectName().toInt();
    styleEntry(file_select, kIdle);
    file_select = current_page * kFilesPerPage + i;
    chosen_file = files.value(file_select);
    styleEntry(file_select, kChosen);
    // The keys follow the touch: on Load, with this entry under them.
    file_focus = uint8_t(i);
    file_buttons_active = 1;
    file_button_focus = 1;
    focus.select(1);
}

void SmartMapping::zem_Button_previous_clicked() {
    if (ringShown()) return;
    showPage(current_page - 1);
}

void SmartMapping::zem_Button_next_clicked() {
    if (ringShown()) return;
    showPage(current_page + 1);
}

void SmartMapping::keyFiles(KeyAction a) {
    const int e = pageEntries();
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
                return styleEntry(current_page * kFilesPerPage + file_focus, kFocused);
            default:
                if (e == 0) return on_Button_front_6_clicked();
                file_buttons_active = 0;
                focus.clearFocus();
                styleEntry(file_select, kFocused);
                return textsScanPort();
        }
    }
    switch (a) {
        case KeyAction::Right:
        case KeyAction::Left: {
            if (ringShown()) return;  // the list under a job stays as it is
            int k = current_page * kFilesPerPage + file_focus + (a == KeyAction::Right ? 1 : -1);
            if (k >= file_count) k = 0;
            if (k < 0) k = 0;
            styleEntry(file_select, kIdle);
            file_select = k;
            const int page = k / kFilesPerPage;
            if (page != current_page) showPage(page);
            file_focus = uint8_t(k % kFilesPerPage);
            chosen_file = files.value(k);
            return styleEntry(k, kFocused);
        }
        case KeyAction::Ok: {
            if (ringShown()) return;
            const QString name = QString::number(file_focus);
            if (auto* b = file_frame->findChild<QPushButton*>(name)) b->click();
            return;
        }
        default:
            return on_Button_front_6_clicked();
    }
}
