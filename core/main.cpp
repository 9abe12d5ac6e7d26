// The program: "/data/app/zemT57N -platform linuxfb" on the box; "--sim DIR" (or ZEM_SIM_ROOT)
// runs it on the simulated box with DIR as its root, the only way a build for a PC starts. Brings
// the system up in its fixed order: the configuration and the parameter store first, then the
// application and the main menu with its tick, then the hardware managers, the home screen, the
// refresh connections and the links.
#include <sys/stat.h>

#include <QApplication>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "c331/c331_manage.h"
#include "comm/comm_links.h"
#include "comm/socket_util.h"
#include "comm/usb_server.h"
#include "core/command_line.h"
#include "core/config_engine.h"
#include "core/console.h"
#include "core/globals.h"
#include "core/saver.h"
#include "core/stop_signal.h"
#include "core/sync_update.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"
#include "platform/box.h"
#include "platform/clock.h"
#include "platform/hid_keypad.h"
#include "platform/own_files.h"
#include "platform/sim/sim_box.h"
#include "simctl/sim_control.h"
#include "simctl/sim_root.h"
#include "ui/shell/main_window.h"
#include "ui/shell/panel_frame.h"
#include "video_io/raviksource.h"

namespace {

// Started without a root, a PC build would take the PC for the box and run the box's shell
// commands (ifconfig, route, hostapd, chattr) for real.
constexpr bool kNeedsSimRoot = ZEM_PC_BUILD;

// Qt keeps its runtime files in a private folder named by XDG_RUNTIME_DIR; a shell without a
// login session (a container, su, ssh as root) sets none, and Qt then warns at every start. The
// simulated box gets one under its root.
void giveRuntimeFolder() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    const std::string dir = platform::path("/sim/runtime");
    // chmod would follow a link there
    if (platform::refuseLink(dir) || platform::makeDirs(dir) != 0) return;
    if (::chmod(dir.c_str(), 0700) == 0) qputenv("XDG_RUNTIME_DIR", dir.c_str());
}

QtMessageHandler g_qt_default_handler = nullptr;

// Qt's messages are the box's traces, on the console (stdout) with the printf traces: its debug
// and info lines as they come, its warnings and critical messages by kind as the errors are (Qt
// repeats one as often as the failure it reports recurs). The terminal keeps the box's own
// errors; a fatal message still ends the program.
void traceToConsole(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        g_qt_default_handler(type, context, text);
        return;
    }
    const QString line = qFormatLogMessage(type, context, text);
    if (type == QtDebugMsg || type == QtInfoMsg)
        console::line(console::kOut, line.toStdString());
    else
        writeConsoleWarning(qPrintable(line));
}

}  // namespace

// Qt's event loop says a failed wait with perror, beside its message handler, and says it again
// as often as the wait fails: some 100,000 times a second while the descriptor limit is below
// the descriptors it waits on. The program's own perror takes every library's line of that sort
// to the console, by kind.
extern "C" void perror(const char* what) {
    const int err = errno;
    std::string line = what && *what ? std::string(what) + ": " : std::string();
    line += std::strerror(err);
    writeConsoleWarning(line.c_str());
    errno = err;
}

int main(int argc, char** argv) {
    // The box's files are 0644 and its folders 0755 whatever umask it was started with; the
    // folders it keeps to itself (sim, Qt's runtime folder) are made 0700 as they are made.
    ::umask(022);
    // Trace lines go out whole and at once, as on the box's serial console, also when the
    // console is a file; no thread of the box waits on the console.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    console::start();
    std::string simRoot;
    if (const int rc = readCommandLine(argc, argv, simRoot); rc >= 0) return rc;
    if (simRoot.empty() && kNeedsSimRoot) {
        std::fprintf(stderr,
                     "error: this build runs on the simulated box only: start it with --sim DIR "
                     "(or ZEM_SIM_ROOT=DIR)\n");
        return 1;
    }
    g_qt_default_handler = qInstallMessageHandler(traceToConsole);
    if (simRoot.empty()) {
        platform::selectLinux();
    } else {
        // A start that can't work stops here, with its one error, before it touches anything
        // under the root but its lock: the root may be a running box's, or the machine's own.
        if (sim_root_resolve(simRoot) != 0) return 1;
        platform::selectSimulatedRoot(simRoot);
        if (comm::check_port_offset() != 0 || sim_root_claim() != 0) return 1;
        platform::startSimulatedBox();
        platform::sim::buildDefaultBox();
        giveRuntimeFolder();
    }

    // Step 1: the USB front keypad.
    g_zem_keys = uint8_t(check_hiddev());
    // Step 2: configuration, device id and settings (the store keeps its file handle there).
    ConfigEngine::pInstance();
    // Step 3: the parameter store, loaded from "/data/ram_device_info".
    ZemRamPara::pInstance();
    // Step 4: the refresh hub.
    SyncUpdate::pInstance();
    // Step 5: the application. The 10 ms tick wakes the event loop 100 times a second; Qt's own
    // dispatcher does that for less than glib's.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    // Ctrl-C, SIGTERM and SIGHUP stop the program through its main thread, which says the errors
    // held back first.
    stop_signal::install();
    panelSetFont();
    // Step 6: the main menu, with its number keypad and tip.
    panel::createMenu();
    // Step 7: the 10 ms tick.
    g_timer = new QTimer();
    QObject::connect(g_timer, SIGNAL(timeout()), g_mainwindow, SLOT(slot_update_timer_ticks()));
    g_timer->start(10);
    // Step 8: the managers: raviksource, fpga_manage, c331_manage (starts the C331 thread).
    raviksource::pInstance();
    fpga_manage::pInstance();
    c331_manage::pInstance();
    // Step 9: the FPGA thread: fpga_manage::initialize_start.
    fpga_manage::pInstance()->initialize_start();
    // Step 10: the source manager and its source-check thread: raviksource::initialize.
    raviksource::pInstance()->initialize();
    // Step 11: the receivers, the video processor and the FPGAs settle.
    platform::sleepMs(4000);
    // Step 12: the home screen over the main menu.
    // Step 13: the number keypad on the right half of the main menu.
    panel::start();
    // Step 14: refresh ids reach the hub in the main thread, at most one waiting per id; the
    // saver thread takes the file work they ask for.
    ZemRamPara::p_zemrampara_config->saver.start();
    SyncUpdate::connectStore(ZemRamPara::p_zemrampara_config);
    // Step 15: the keypad's LEDs.
    if (g_zem_keys) SyncUpdate::pInstance()->update_usb_keyLed();
    // Step 16: the USB hot-plug watcher: UsbServer, its sig_usb_update to SyncUpdate::para_sync.
    QObject::connect(UsbServer::pInstance(), &UsbServer::sig_usb_update, SyncUpdate::pInstance(),
                     &SyncUpdate::para_sync);
    // The simulated box's control channel, before the links report the box ready.
    if (platform::simulated()) sim_control::pInstance()->open();
    // Step 17: the links: udpnetManage, Qz_uart_inout, networkManage, Qz_uart_inout_4G,
    // T57_WIFI_CONFIG.
    comm_start_links();
    // Step 18: the event loop.
    const int rc = app.exec();
    ZemRamPara::p_zemrampara_config->saver.stop();
    writeLogMsgFlush();
    return rc;
}
