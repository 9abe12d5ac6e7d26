#include "ui/system/linkwlan.h"

#include <QStringList>

#include "core/globals.h"
#include "core/utils.h"
#include "ui/shell/keypad_number.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui/system/net_address.h"
#include "ui_linkwlan.h"

linkwlan* g_linkwlan = nullptr;

namespace {

// clang-format off
const Texts kTitle = {"网口设置", "Net connect", "Сетевое подключение", "Cài đặt cổng mạng", "網口設置"};
const Texts kIp = {"IP地址", "IP", "IP-адрес", "Địa chỉ IP", "IP地址"};
const Texts kMask = {"子网掩码", "Mask", "Маска", "Cài đặt mặt nạ con", "子網掩碼"};
const Texts kGate = {"默认网关", "Gate", "Шлюз", "Cổng vào", "默認網關"};
const Texts kApplyText = {"应用", "Apply", "OK", "Đồng ý", "應用"};
// clang-format on

panel_style::Look fieldLook(int octet) {
    return octet == 0                       ? panel_style::kAddressLeft
           : octet == linkwlan::kOctets - 1 ? panel_style::kAddressRight
                                            : panel_style::kAddressMiddle;
}

// The globals the configuration service loads; the PC's address command reloads them from its
// own thread.
QString storedAddress(int row) {
    const QString* global = row == 0 ? &g_str_ip : row == 1 ? &g_srt_mask : &g_str_gateway;
    return Utils::configValue(global);
}

}  // namespace

linkwlan::linkwlan(QWidget* parent) : PanelPage(kPageLinkWlan, parent), ui(new Ui::linkwlan) {
    ui->setupUi(this);
    My_lineEdit* const all[kRows][kOctets] = {
        {ui->lineEditIp1, ui->lineEditIp2, ui->lineEditIp3, ui->lineEditIp4},
        {ui->lineEditMask1, ui->lineEditMask2, ui->lineEditMask3, ui->lineEditMask4},
        {ui->lineEditGate1, ui->lineEditGate2, ui->lineEditGate3, ui->lineEditGate4}};
    row_labels[0] = ui->label_IpSet;
    row_labels[1] = ui->label_netmask;
    row_labels[2] = ui->label_gateway;
    for (int r = 0; r < kRows; ++r) {
        for (int o = 0; o < kOctets; ++o) {
            fields[r][o] = all[r][o];
            connect(fields[r][o], &My_lineEdit::send_show, this, &linkwlan::show_numberkeyboard_ui);
        }
        fillRow(r, storedAddress(r));
    }
    connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
            &linkwlan::confirmString);
    connect(ui->Button_apply, &QPushButton::clicked, this,
            [this] { on_Button_net_apply_clicked(); });
    connect(ui->Button_cancle, &QPushButton::clicked, this, [this] { slot_Button_back_clicked(); });
    menulist_init();
    language_changed();
}

linkwlan::~linkwlan() {
    delete ui;
}

// A stored text of four parts fills the row as it stands; anything shorter is no address and
// leaves the row empty.
void linkwlan::fillRow(int row, const QString& address) {
    const QStringList parts = address.split('.');
    for (int o = 0; o < kOctets; ++o)
        fields[row][o]->setText(parts.size() >= kOctets ? parts[o] : QString());
}

QString linkwlan::rowText(int row) const {
    QStringList parts;
    for (const My_lineEdit* f : fields[row]) parts << f->text();
    return parts.join('.');
}

void linkwlan::menulist_init() {
    std::vector<FocusRing::Item> items;
    for (int r = 0; r < kRows; ++r) {
        for (int o = 0; o < kOctets; ++o) {
            const bool bad = bad_fields >> (r * kOctets + o) & 1;
            items.push_back({fields[r][o], fieldLook(o),
                             bad ? panel_style::kWrong : panel_style::kNormal,
                             bad ? panel_style::kWrongFocus : panel_style::kFocus});
        }
    }
    items.push_back({ui->Button_apply, panel_style::kButton});
    items.push_back({ui->Button_cancle, panel_style::kButton});
    focus.setItems(items, focus.ui_select);
}

void linkwlan::markField(const QWidget* field, bool bad) {
    for (int i = 0; i < kApply; ++i) {
        if (fields[i / kOctets][i % kOctets] != field) continue;
        const uint16_t bit = uint16_t(1u << i);
        bad_fields = uint16_t(bad ? bad_fields | bit : bad_fields & ~bit);
    }
    menulist_init();
}

void linkwlan::language_changed() {
    ui->label_wlan->setText(text(kTitle));
    setFittedText(ui->label_IpSet, text(kIp));
    setFittedText(ui->label_netmask, text(kMask));
    setFittedText(ui->label_gateway, text(kGate));
    ui->Button_apply->setText(text(kApplyText));
    ui->Button_cancle->setText(text(words::kCancel));
}

void linkwlan::keyOk() {
    const int i = focus.ui_select;
    if (i < kApply)
        emit fields[i / kOctets][i % kOctets]->send_show(focus.focused()->objectName());
    else if (i == kApply)
        on_Button_net_apply_clicked();
    else
        slot_Button_back_clicked();
}

void linkwlan::show_numberkeyboard_ui(QString) {
    auto* field = qobject_cast<My_lineEdit*>(sender());
    if (!field || !g_numberkeyboard) return;
    // The netmask row is titled "Mask", the address and the gateway rows "IP".
    const bool mask = field->objectName().startsWith("lineEditMask");
    g_numberkeyboard->open_for(this, field, mask ? "Mask" : "IP", field->text());
}

// An octet is 0..255 and loses its leading zeros; anything else leaves the field as it was,
// marked red until a good value is typed into it.
void linkwlan::confirmString(QString typed) {
    if (!g_numberkeyboard || !g_numberkeyboard->opened_by(this) || !g_lineedit) return;
    int v = 0;
    const int rc = readKeypadNumber(typed, 0, 255, &v);
    markField(g_lineedit, rc != kNumberOk);
    if (rc != kNumberOk) {
        ZEM_DEBUG("\n octet \"%s\" refused (%d) \n", qPrintable(typed), rc);
        return;
    }
    g_lineedit->setText(QString::number(v));
}

void linkwlan::markRow(int row, bool bad) {
    panel_style::apply(row_labels[row], panel_style::kAddressRow,
                       bad ? panel_style::kWrong : panel_style::kNormal);
}

void linkwlan::on_Button_net_apply_clicked() {
    QString typed[kRows];
    bool valid = true, changed = false;
    for (int r = 0; r < kRows; ++r) {
        typed[r] = rowText(r);
        const bool ok = Utils::isDottedIPv4(typed[r]);
        markRow(r, !ok);
        valid = valid && ok;
        changed = changed || typed[r] != storedAddress(r);
    }
    if (!valid || !changed) return;
    net_address::store(typed[0], typed[1], typed[2]);
    store().test_signal(1);
}

void linkwlan::slot_Button_back_clicked() {
    panel::back(this);
}
