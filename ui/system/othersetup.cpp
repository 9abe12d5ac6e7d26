#include "ui/system/othersetup.h"

#include <QComboBox>
#include <mutex>

#include "c331/c331_manage.h"
#include "comm/wifi_config.h"
#include "core/utils.h"
#include "ui/led/no_touch.h"
#include "ui/shell/page_store.h"
#include "ui_othersetup.h"

othersetup* g_othersetup = nullptr;

namespace {

constexpr int kRamWifiOff = 774;
constexpr int kRamAudioWindow = 2112;
constexpr int kRamPointToPoint = 2114;
constexpr int kRamFadeSwitch = 2118;
constexpr int kWinAudio = 20;
constexpr int kFadeBit = 1 << 2;
constexpr uint8_t kFadeTime = 60;
constexpr int kFadeEntries = 16;

// clang-format off
const Texts kTitle = {"其它设置", "Other Settings", "Другие настройки", "Cài đặt khác", "其它設置"};
const Texts kVolumeLabel = {"音量", "Volume", "Звук", "âm thanh", "音量"};
const Texts kSwitchLabel = {"切换特效", "Switch mode", "Эффект", "Hiệu ứng", "切換特效"};
const Texts kModeLabel = {"投屏设备", "Projection", "Трансляция экрана", "Thiết bị trình chiếu", "投屏設備"};
const Texts kWifiLabel = {"WIFI状态", "Wifi state", "WiFi статус", "Trạng thái wifi", "WIFI狀態"};
const Texts kDbdLabel = {"点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"};
const Texts kWindowName = {"画面%1", "image%1", "Канал%1", "Hình ảnh%1", "畫面%1"};
const Texts kOff = {"关闭", "OFF", "Откл", "Đóng", "關閉"};
const Texts kOn = {"开启", "ON", "Вкл", "Mở", "開啟"};
const Texts kSeamless = {"无缝快切", "Seamless", "Быстро", "Chuyển đổi ngay", "無縫快切"};
const Texts kFade = {"淡入淡出", "Fade", "Плавно", "và ngoài", "淡入淡出"};
const Texts kClickOk = {"点击切换", "Click OK", "Нажмите ОК", "Đồng ý", "點擊切換"};
// clang-format on

int audioAddr(int w) {
    return ZemRamPara::windowAddr(w, kWinAudio);
}
int outFlagsAddr(int w) {
    return ZemRamPara::windowAddr(w, ZemRamPara::kWinOutFlags);
}
bool windowListed(int w) REQUIRES(c331_manage::c331_mutex) {
    return store().rd16(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) != 0;
}

void setList(QComboBox* c, std::initializer_list<const Texts*> entries, int shown) {
    c->clear();
    for (const Texts* t : entries) c->addItem(text(*t));
    c->setCurrentIndex(shown);
}

}  // namespace

othersetup::othersetup(QWidget* parent)
    : PanelPage(kPageOtherSetup, parent), ui(new Ui::othersetup) {
    ui->setupUi(this);
    // A touched combo would show a choice that is not in force: the rows are worked by keys.
    for (int i = 0; i < kItems; ++i) ignoreTouch(combo(i));
    menulist_init();
    language_changed();
    para_init();
}

othersetup::~othersetup() {
    delete ui;
}

QComboBox* othersetup::combo(int item) const {
    QComboBox* const all[kItems] = {ui->ImageVolume, ui->volume_state, ui->switch_state,
                                    ui->mode_state,  ui->wifi_state,   ui->dbd_state};
    return all[item];
}

void othersetup::menulist_init() {
    std::vector<FocusRing::Item> items;
    for (int i = 0; i < kItems; ++i) items.push_back({combo(i), panel_style::kComboNoArrow});
    focus.setItems(items, 0);
    edit_flag = edit_index = saved_index = 0;
}

void othersetup::language_changed() {
    ui->label_other->setText(text(kTitle));
    setFittedText(ui->label_name_volume, text(kVolumeLabel));
    setFittedText(ui->label_name_switch, text(kSwitchLabel));
    setFittedText(ui->label_name_mode, text(kModeLabel));
    setFittedText(ui->label_wifi, text(kWifiLabel));
    setFittedText(ui->label_name_DBD, text(kDbdLabel));
}

void othersetup::para_init() {
    ui->ImageVolume->clear();
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        const uint16_t a = store().rd16(kRamAudioWindow);
        if (a >= ZemRamPara::kWindowCount || !windowListed(a))
            store().user_wr16(kRamAudioWindow, 0);
    }
    const int audio = store().rd16_locked(kRamAudioWindow);
    int count = 0, shown = 0;
    for (int w = 0; w < ZemRamPara::kWindowCount; ++w) {
        if (!store().rd16_locked(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags))) continue;
        if (w == audio) shown = count;
        listed_windows[count++] = uint8_t(w);
        ui->ImageVolume->addItem(text(kWindowName).arg(w + 1));
    }
    ui->ImageVolume->setCurrentIndex(count ? shown : -1);
    item_count[kWindow] = uint8_t(count);
    setList(ui->volume_state, {&kOff, &kOn},
            store().rd16_locked(audioAddr(audio)) & 0x8000 ? 1 : 0);
    setList(ui->switch_state, {&kSeamless, &kFade}, store().rd16_locked(kRamFadeSwitch) ? 1 : 0);
    setList(ui->mode_state, {&kClickOk}, 0);
    setList(ui->wifi_state, {&kOn, &kOff}, store().rd16_locked(kRamWifiOff) ? 1 : 0);
    bool pointToPoint = false;
    for (int w = 0; w < ZemRamPara::kWindowCount; ++w)
        pointToPoint = pointToPoint || ((store().rd8_locked(ZemRamPara::windowAddr(w, 0)) != 0) &&
                                        store().rd8_locked(outFlagsAddr(w) + 1) != 0);
    setList(ui->dbd_state, {&kOff, &kOn},
            pointToPoint || store().rd16_locked(kRamPointToPoint) ? 1 : 0);
}

void othersetup::languageRefresh() {
    language_changed();
    if (edit_flag) {
        edit_flag = 0;
        focus.select(focus.ui_select);
    }
    para_init();
}

void othersetup::step(int by) {
    if (!edit_flag) return focus.move(by);
    const int n = item_count[focus.ui_select];
    edit_index = uint8_t((edit_index + n + by) % n);
    combo(focus.ui_select)->setCurrentIndex(edit_index);
}

void othersetup::keyOk() {
    const int item = focus.ui_select;
    if (edit_flag || item == kProjection) {
        edit_flag = 0;
        focus.select(item);
        on_button_box_clicked();
        return;
    }
    // With no window listed the Volume rows have nothing to act on.
    if ((item == kWindow || item == kVolume) && item_count[kWindow] == 0) return;
    edit_flag = 1;
    edit_index = saved_index = uint8_t(combo(item)->currentIndex());
    panel_style::apply(combo(item), panel_style::kComboNoArrow, panel_style::kEdit);
}

void othersetup::keyBack() {
    if (!edit_flag) return slot_Button_back_clicked();
    edit_flag = 0;
    const int item = focus.ui_select;
    combo(item)->setCurrentIndex(saved_index < item_count[item] ? saved_index : 0);
    focus.select(item);
}

void othersetup::on_button_box_clicked() {
    switch (focus.ui_select) {
        case kVolume:
            setVolume();
            break;
        case kSwitch:
            setSwitchEffect();
            break;
        case kWifi:
            setWifi();
            break;
        case kPointToPoint:
            setPointToPoint();
            break;
        default:  // the window list and the projection row only show
            break;
    }
}

void othersetup::setVolume() {
    const int i = ui->ImageVolume->currentIndex();
    if (i < 0 || i >= item_count[kWindow]) return;
    const int w = listed_windows[i];
    zem::MutexLocker lock(c331_manage::c331_mutex);
    const bool on = store().rd16(audioAddr(w)) & 0x8000;
    if (on != (edit_index == 1)) {
        store().user_wr16(kRamAudioWindow, uint16_t(w));
        store().user_wr16(audioAddr(w), edit_index == 1 ? 0x80FF : 0);
    }
    c331_manage::raise_apply(1);
}

void othersetup::setSwitchEffect() {
    const bool fade = edit_index == 1;
    ZEM_DEBUG("fade temp = %d\n", edit_index);
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().ram[kRamFadeSwitch] = fade ? 1 : 0;
        if (fade) {
            for (int k = 0; k < kFadeEntries; ++k) {
                store().ram[ZemRamPara::kRamFade + 4 * k] = kFadeTime;
                store().ram[ZemRamPara::kRamFade + 4 * k + 2] = kFadeTime;
            }
        }
        for (int w = 0; w < ZemRamPara::kWindowCount; ++w) {
            const uint16_t flags = store().rd16(outFlagsAddr(w));
            store().user_wr16(outFlagsAddr(w),
                              uint16_t(fade ? flags | kFadeBit : flags & ~kFadeBit));
        }
        c331_manage::raise_apply(1);
    }
    store().ram_para_save();
}

void othersetup::setWifi() {
    const bool off = edit_index == 1;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().ram[kRamWifiOff] = off ? 1 : 0;
        c331_manage::raise_apply(1);
    }
    if (off) {
        Utils::system_mutex("kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`");
        Utils::system_mutex("kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`");
    } else if (T57_WIFI_CONFIG::p_wifi) {
        T57_WIFI_CONFIG::p_wifi->set_wifi_reset_flag();
    }
}

void othersetup::setPointToPoint() {
    const uint8_t on = edit_index == 1 ? 1 : 0;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().ram[kRamPointToPoint] = on;
        for (int w = 0; w < ZemRamPara::kWindowCount; ++w) store().ram[outFlagsAddr(w) + 1] = on;
        c331_manage::raise_apply(1);
    }
    store().ram_para_save();
}

void othersetup::slot_Button_back_clicked() {
    panel::back(this);
}
