#include "core/sync_update.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "core/globals.h"
#include "core/saver.h"
#include "core/zem_ram_para.h"
#include "platform/hid_keypad.h"

namespace {

// Filled by the page units' static initialisers (constant-initialised, so always ready).
std::atomic<SyncUpdate::PageGetter> g_pages[SyncUpdate::kPageCount];
std::atomic<SyncUpdate::TipFn> g_show_tip{nullptr};
std::atomic<SyncUpdate::RetextFn> g_retext_widgets{nullptr};

void showTip(int type) {
    if (const SyncUpdate::TipFn show = g_show_tip.load()) show(type);
}

SyncPage* page(int id) {
    const SyncUpdate::PageGetter get = id < SyncUpdate::kPageCount ? g_pages[id].load() : nullptr;
    return get ? get() : nullptr;
}

// The tip type of the USB disk pages after their refresh; 0 for none.
int usbTip(int id) {
    if (id == 100) {
        ZEM_DEBUG("\n yes ,got the usb in");
        return 3;
    }
    if (id == 101) {
        ZEM_DEBUG("\n yes ,got the usb out");
        return 4;
    }
    return id == 102 ? 5 : 0;
}

}  // namespace

SyncUpdate::TestHooks SyncUpdate::hooks;

SyncUpdate* SyncUpdate::pInstance() {
    static SyncUpdate* instance = new SyncUpdate();
    return instance;
}

bool SyncUpdate::setPage(int id, PageGetter get) {
    if (id < 0 || id >= kPageCount) return false;
    g_pages[id] = get;
    return true;
}

bool SyncUpdate::setTip(TipFn show) {
    g_show_tip = show;
    return true;
}

void SyncUpdate::showUsbTip(int id) {
    if (const int type = usbTip(id)) showTip(type);
}

bool SyncUpdate::setRetext(RetextFn retext) {
    g_retext_widgets = retext;
    return true;
}

void SyncUpdate::connectStore(ZemRamPara* store) {
    QObject::connect(store, &ZemRamPara::sig_update_para, pInstance(), &SyncUpdate::raise,
                     Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
}

void SyncUpdate::raise(int id) {
    if (!QCoreApplication::instance() || QThread::currentThread() == thread()) {
        para_sync(id);
        return;
    }
    // Pages are widgets and only the main thread may touch them.
    if (merges(id) && waiting_[id].exchange(true)) return;
    QMetaObject::invokeMethod(this, "para_sync", Qt::QueuedConnection, Q_ARG(int, id));
}

void SyncUpdate::para_sync(int id) {
    // A worker that calls the hub directly raises the id like any other.
    if (QCoreApplication::instance() && QThread::currentThread() != thread()) {
        raise(id);
        return;
    }
    // Before the RAM is read: what a raise from here on wrote is this refresh's or its own.
    if (merges(id)) waiting_[id].exchange(false);
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    if (!store) return;
    if (g_page_focus != kPageImageLayout) {
        const uint8_t w = g_image_current;
        if (w >= ZemRamPara::kWindowCount ||
            !(store->rd16_locked(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) & 1))
            g_image_current = 0;
    }
    if (g_zem_keys) update_usb_keyLed();
    if (id == 105 || id == 106) return;
    if (id == kIdKeyLock) {
        if (SyncPage* main = page(kPageMain)) main->keyLockWritten();
        return;
    }
    if (hooks.before_refresh) hooks.before_refresh(id);
    // Every check below compares what this refresh sees with what the one before acted on; a
    // write landing from here on is the next refresh's change.
    store->refresh_begin();
    // Applied here, whatever page is in front or none: a page closed by its own refresh, or
    // one not open, would miss it, and the end of this refresh hides it from every later one.
    refresh_page(id, store->ZemLanguageChanged() == 1);
    // The page shows its change now, not after the parameter file's flush and pause below.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    if (hooks.before_file_work) hooks.before_file_work(id);
    // Requests were taken when the box answered them; the parameter file goes to the saver
    // here: the panel and its tick never wait on a sync.
    store->take_file_work();
    store->refresh_end();
    // The link menu's second check mark, if the menu is still in front after the first.
    if (g_page_focus == kPageLinkOption) askTip(1, kPageLinkOption);
    showAskedTips();
}

void SyncUpdate::askTip(int type, int while_in_focus) {
    if (type) asked_tips_.push_back({type, while_in_focus});
}

void SyncUpdate::showAskedTips() {
    // Only once the refresh has ended: a tip's loop runs the refreshes raised while it shows,
    // and each of them must run whole, never inside this one.
    const std::vector<AskedTip> tips = std::exchange(asked_tips_, {});
    for (const AskedTip& tip : tips)
        if (tip.while_in_focus < 0 || tip.while_in_focus == g_page_focus) showTip(tip.type);
}

void SyncUpdate::refresh_page(int id, bool new_language) {
    const int focus = g_page_focus;
    SyncPage* p = page(focus);
    if (p && new_language) p->beforeNewLanguage();
    if (p) p->refreshPage(id);
    if (new_language) retext();
    if (!p) return;  // page not open
    if (focus == kPageMain && p->takeTipRequest()) askTip(1);
    if (focus == kPageLinkOption) askTip(1);
    if (focus == kPageSmartMapping || focus == kPageFirmwareUsbGrade) askTip(usbTip(id));
}

void SyncUpdate::retext() {
    // The page in front now: the refresh may have closed the one it reached.
    if (SyncPage* p = page(g_page_focus)) p->retext();
    if (const RetextFn widgets = g_retext_widgets.load()) widgets();
}

int SyncUpdate::build_key_led(uint8_t report[5]) const {
    ZemRamPara* store = ZemRamPara::p_zemrampara_config;
    std::memset(report, 0, 5);
    report[0] = g_update_flag ? 0x5A : 0xA5;
    const uint8_t w = g_image_current;
    if (!store || w >= ZemRamPara::kWindowCount) return 0;
    // A PC's write or recall may land meanwhile: the report is read under its lock.
    zem::MutexLocker lock(c331_manage::c331_mutex);
    if (store->rd16(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) & 1) {
        static const uint8_t kWindowLed[6][2] = {{0x01, 0}, {0x04, 0}, {0x10, 0},
                                                 {0x40, 0}, {0, 0x01}, {0, 0x04}};
        report[1] = kWindowLed[w][0];
        report[2] = kWindowLed[w][1];
    }
    int16_t isCrop;
    char index;
    const int s = store->ZemGetRamImageSource(w, &isCrop, &index);
    if (s < ZemRamPara::kSourceCount) {
        bool signal;
        {
            zem::MutexLocker timings(store->mutex);
            signal = store->timing16(256 + 6 * s) && store->timing16(258 + 6 * s) &&
                     store->timing16(260 + 6 * s);
        }
        // {byte, LED with signal, LED without} per source.
        static const uint8_t kSourceLed[6][3] = {{2, 0x10, 0x20}, {2, 0x40, 0x80}, {3, 0x10, 0x20},
                                                 {3, 0x40, 0x80}, {3, 0x01, 0x02}, {3, 0x04, 0x08}};
        report[kSourceLed[s][0]] |= signal ? kSourceLed[s][1] : kSourceLed[s][2];
    }
    const uint16_t out = store->rd16(ZemRamPara::windowAddr(w, ZemRamPara::kWinOutFlags));
    report[4] = uint8_t((out & 0x0002 ? 0x01 : 0) | (out & 0x0001 ? 0x04 : 0));
    return s;
}

void SyncUpdate::update_usb_keyLed() {
    uint8_t report[5];
    const int source = build_key_led(report);
    if (std::memcmp(report, keyLed, sizeof report) == 0) return;
    ZEM_DEBUG("\n update_usb_keyLed ...source_id =  %#x\n", unsigned(source));
    const int n = platform::keypadWrite(report, sizeof report);
    if (n == -ENODEV)
        qDebug() << "handle error";
    else if (n < 0)
        qDebug() << "handle write error";
    // Only a report the keypad took counts as sent; a failed one is tried again next time.
    if (n == int(sizeof report)) std::memcpy(keyLed, report, sizeof report);
    ZEM_DEBUG("\n report[1] = %#x report[2] = %#x report[3] = %#x report[4] = %#x\n", report[1],
              report[2], report[3], report[4]);
    ZEM_DEBUG("\n keyLed[0] = %#x keyLed[1] = %#x keyLed[2] = %#x keyLed[3] = %#x\n", keyLed[0],
              keyLed[1], keyLed[2], keyLed[3]);
}
