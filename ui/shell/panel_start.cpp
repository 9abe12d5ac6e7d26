// The one table of page units and the panel's start. The table references every page's global
// pointer, so the linker keeps each page unit of the static UI libraries.
#include "comm/comm_bridge.h"
#include "core/sync_update.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "fpga/usb_upgrade.h"
#include "ui/input/custom_mode.h"
#include "ui/input/edid_set.h"
#include "ui/input/image_layout.h"
#include "ui/input/image_quality.h"
#include "ui/input/input_choose.h"
#include "ui/input/input_cut.h"
#include "ui/input/link_option.h"
#include "ui/input/output_set.h"
#include "ui/input/quality.h"
#include "ui/input/temperature.h"
#include "ui/led/lcdshow.h"
#include "ui/led/ledset.h"
#include "ui/led/rcv_recovery.h"
#include "ui/led/smart_mapping.h"
#include "ui/led/test_chart.h"
#include "ui/shell/advanced_option.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/machine_state.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_frame.h"
#include "ui/shell/tip.h"
#include "ui/system/factory.h"
#include "ui/system/factoryage.h"
#include "ui/system/firmware_update.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/system/linkcom.h"
#include "ui/system/linkwlan.h"
#include "ui/system/netset.h"
#include "ui/system/othersetup.h"

namespace panel {

void registerPages() {
    // The home screen and the main menu are shown, not opened.
    registerPage(kPageHome, {[]() -> PageFrame* { return g_lockwindow; },
                             [] { g_lockwindow = nullptr; }, nullptr});
    registerPage(kPageMain, {[]() -> PageFrame* { return g_mainwindow; },
                             [] { g_mainwindow = nullptr; }, nullptr});
    registerPage<kPageInputChoose, InputChoose, g_inputchoose>();
    registerPage<kPageLedSet, ledset, g_ledset>();
    registerPage<kPageLcdShow, lcdshow, g_lcdshow>();
    registerPage<kPageTestChart, test_chart, g_test_chart>();
    registerPage<kPageLinkCom, linkcom, g_linkcom>();
    // The user-mode page is shown over the main menu, without a loop of its own.
    registerPage(kPageCustomMode,
                 {[]() -> PageFrame* { return g_custommode; }, [] { g_custommode = nullptr; },
                  [] { g_mainwindow->on_custommode_clicked(); }});
    registerPage<kPageOption, Option, g_option>();
    registerPage<kPageOutputSet, OutputSet, g_outputset>();
    registerPage<kPageInputCut, InputCut, g_inputcut>();
    registerPage<kPageLinkOption, LinkOption, g_linkoption>();
    registerPage<kPageImageQuality, ImageQuality, g_imagequality>();
    registerPage<kPageMachineState, MachineState, g_machinestate>();
    registerPage<kPageImageLayout, ImageLayout, g_imagelayout>();
    registerPage<kPageEdidSet, EDIDset, g_edidset>();
    registerPage<kPageAdvancedOption, AdvancedOption, g_advancedoption>();
    registerPage<kPageQuality, quality, g_quality>();
    registerPage<kPageTemperature, temperature, g_temperature>();
    registerPage<kPageNetSet, netset, g_netset>();
    registerPage<kPageLinkWlan, linkwlan, g_linkwlan>();
    registerPage<kPageOtherSetup, othersetup, g_othersetup>();
    registerPage<kPageFactory, factory, g_factory>();
    registerPage<kPageFirmwareUsbGrade, firmware_usbgrade, g_firmware_usbgrade>();
    registerPage<kPageFactoryAge, factoryage, g_factoryage>();
    registerPage<kPageRcvRecovery, rcv_recovery, g_rcv_recovery>();
    registerPage<kPageSmartMapping, SmartMapping, g_smartmapping>();
}

namespace {

// The overlay of both upgrade paths, driven by the main tick.
void installTickHooks() {
    g_tick_hooks.overlay_step = [](uint32_t from, uint32_t ticks) {
        if (g_move_update) g_move_update->update_time_deal(from, ticks);
    };
    g_tick_hooks.overlay_start = firmware_update_start;
    g_tick_hooks.overlay_over = firmware_update_over;
    g_tick_hooks.agelog_redraw = [] {
        if (g_factoryage) g_factoryage->update_agelog();
    };
}

// What the worker threads ask of the panel arrives queued on the main thread; the main menu,
// which lives for the whole run, receives it and hands it on.
void connectWorkers() {
    constexpr auto kQueued = Qt::QueuedConnection;
    comm_bridge* bridge = comm_bridge::pInstance();
    usb_upgrade_report* usb = usb_upgrade_report::pInstance();
    QObject::connect(bridge, &comm_bridge::sig_update_start, g_mainwindow,
                     &MainWindow::update_start, kQueued);
    QObject::connect(bridge, &comm_bridge::sig_update_over, g_mainwindow, &MainWindow::update_over,
                     kQueued);
    // After the overlay's removal, queued before it.
    QObject::connect(
        bridge, &comm_bridge::sig_update_unfinished, g_mainwindow,
        [] {
            if (g_tip) g_tip->tip_create(TIP::kUpdateUnfinished);
        },
        kQueued);
    QObject::connect(usb, &usb_upgrade_report::sig_update_start, g_mainwindow,
                     &MainWindow::update_start, kQueued);
    QObject::connect(usb, &usb_upgrade_report::sig_update_over, g_mainwindow,
                     &MainWindow::update_over, kQueued);
    QObject::connect(
        usb, &usb_upgrade_report::sig_usb_upgrade_result, g_mainwindow,
        [](int installed, int failed, int refused, int fault, int files_read, int not_read) {
            if (g_firmware_usbgrade)
                g_firmware_usbgrade->upgradeResult(installed, failed, refused, fault, files_read,
                                                   not_read);
        },
        kQueued);
    QObject::connect(
        bridge, &comm_bridge::sig_file_deleted, g_mainwindow,
        [](int folder) {
            if (folder == 1 && g_rcv_recovery && g_page_focus == kPageRcvRecovery)
                g_rcv_recovery->menulist_back_page();
        },
        kQueued);
}

// The FPGA thread's receiving-card jobs report to the recovery page (the manager is made after
// the menu).
void connectCardJobs() {
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga || !fpga->job_events) return;
    QObject::connect(
        fpga->job_events, &rcv_job_events::sig_recovery_progress, g_mainwindow,
        [](int value) {
            if (g_rcv_recovery) g_rcv_recovery->jobProgress(value);
        },
        Qt::QueuedConnection);
    QObject::connect(
        fpga->job_events, &rcv_job_events::sig_recovery_outcome, g_mainwindow,
        [] {
            if (g_rcv_recovery) g_rcv_recovery->showOutcome(rcv_recovery::heldOutcome());
        },
        Qt::QueuedConnection);
}

}  // namespace

void createMenu() {
    registerPages();
    installTickHooks();
    g_mainwindow = new MainWindow(nullptr);
    connectWorkers();
    SmartMapping::connectPc(g_mainwindow);
    SyncUpdate::setTip([](int type) {
        if (g_tip) g_tip->tip_create(type);
    });
    SyncUpdate::setRetext([] {
        if (g_numberkeyboard) g_numberkeyboard->language_changed();
    });
}

void start() {
    if (!g_mainwindow) createMenu();
    connectCardJobs();
    g_mainwindow->show();
    g_lockwindow = new LockWindow(nullptr);
    g_page_focus = kPageHome;
    g_lockwindow->show();
    g_numberkeyboard->setGeometry(g_mainwindow->x() + 160, g_mainwindow->y(), 160, 240);
}

}  // namespace panel
