// The refresh hub: every thread announces a change by a refresh id; the hub runs in the main
// thread and, in a fixed order, corrects the current window, updates the keypad LEDs, applies a
// new language, refreshes the page in focus, re-texts it, handles the user-mode steps and
// persists the parameter RAM; the tips it asks for show once it has ended, so a refresh raised
// while one shows never runs inside another. A refresh asked for while one of the same id waits
// is taken in by it: however fast the workers raise, at most one waits per id.
//
// Pages live in the panel libraries, which core does not depend on. Each page's own unit tells
// the hub how to reach it: a function returning that page's global pointer (null while the page
// is closed), installed with ZEM_SYNC_PAGE next to the global's definition.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/page_table.h"
#include "core/zem_ram_para.h"

// What the hub needs of a page.
class SyncPage {
public:
    // The page's refresh, on the main thread; pages whose refresh takes no id ignore it.
    virtual void refreshPage(int id) = 0;
    // Before a new language reaches the page (its refresh, then its texts): what the old texts
    // laid out and must not outlive them.
    virtual void beforeNewLanguage() {}
    // The page's texts in the language the hub has just applied (g_language).
    virtual void retext() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {}
    // Main menu: its tip request (set after a user-mode save or recall), returned and cleared.
    virtual bool takeTipRequest() { return false; }
    // Main menu: the padlock drawn again from RAM 772, which a PC wrote.
    virtual void keyLockWritten() EXCLUDES(c331_manage::c331_mutex) {}

protected:
    ~SyncPage() = default;
};

class ZemRamPara;

class SyncUpdate : public QObject {
    Q_OBJECT

public:
    static constexpr int kPageCount = ::kPageCount;
    // A refresh of the panel alone, without file work: a PC wrote the key lock (RAM 772).
    static constexpr int kIdKeyLock = 107;
    using PageGetter = SyncPage* (*)();
    using TipFn = void (*)(int type);
    using RetextFn = void (*)();

    static SyncUpdate* pInstance();

    // How the hub reaches page id; returns true so it can run from a static initialiser.
    static bool setPage(int id, PageGetter get);
    // How the hub shows a pop-up tip (1 done, 3 USB disk in, 4 USB disk out, 5 reading).
    static bool setTip(TipFn show);
    // What re-texts the shared widgets outside the pages (the number keypad) after a new language.
    static bool setRetext(RetextFn retext);
    // The tip of a USB disk refresh id (100 plugged in, 101 removed, 102 mounted), as the USB
    // pages show it after their refresh; nothing for another id.
    static void showUsbTip(int id);

    // The store's refresh ids reach raise() on the raising thread, as the program wires them
    // at start; the panel's tests wire them the same way.
    static void connectStore(ZemRamPara* store);
    // Any thread. On the hub's thread the refresh runs at once; from another, one para_sync is
    // queued unless one of the same id already waits, which then shows this raise's change too.
    void raise(int id) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

    // Builds the keypad LED report and sends it when it differs from the last one sent.
    void update_usb_keyLed() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // The report of the current state (built, not sent); the current window's source.
    int build_key_led(uint8_t report[5]) const
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

    uint8_t keyLed[5] = {0, 0, 0, 0, 0};  // the last report the keypad took

    // ===== what only tests set =====
    struct TestHooks {
        // On the main thread, in a refresh (not 105, 106) before it copies the RAM: a test holds
        // the refresh here while frames are answered on other threads, or answers them inline.
        std::function<void(int id)> before_refresh;
        // After the page's refresh and before the parameter file's turn (where a tip's loop ran
        // further refreshes).
        std::function<void(int id)> before_file_work;
    };
    static TestHooks hooks;

public slots:
    void para_sync(int id) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

private:
    SyncUpdate() = default;
    // Ids whose refreshes merge; the firmware update's start and end keep one each.
    static bool merges(int id) { return id >= 0 && id < kIdCount && id != 105 && id != 106; }
    static constexpr int kIdCount = 256;
    void refresh_page(int id, bool new_language)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void retext() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // A tip the refresh under way asks for (type 0: none), shown after it; with a page, only
    // while that page is in front then.
    struct AskedTip {
        int type;
        int while_in_focus;
    };
    void askTip(int type, int while_in_focus = -1);
    void showAskedTips();

    // Set by raise() when it queues, cleared by para_sync() before it reads the RAM: a raise
    // after the clear queues a refresh of its own.
    std::atomic<bool> waiting_[kIdCount] = {};
    std::vector<AskedTip> asked_tips_;  // main thread only
};

#define ZEM_SYNC_PAGE_CAT2(a, b) a##b
#define ZEM_SYNC_PAGE_CAT(a, b) ZEM_SYNC_PAGE_CAT2(a, b)
// In the unit that defines a page's global pointer: ZEM_SYNC_PAGE(3, g_inputchoose);
#define ZEM_SYNC_PAGE(id, pointer)                                  \
    static const bool ZEM_SYNC_PAGE_CAT(zem_sync_page_, __LINE__) = \
        SyncUpdate::setPage(id, []() -> SyncPage* { return (pointer); })
