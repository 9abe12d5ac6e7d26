#include "ui/shell/main_window.h"

#include "core/globals.h"
#include "core/utils.h"

MainWindow* g_mainwindow = nullptr;
QTimer* g_timer = nullptr;
uint32_t g_delay_usbserver_ticks = 0;

ZEM_SYNC_PAGE(1, g_mainwindow);

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setFixedSize(320, 240);
}

void MainWindow::syncUpdate() {}

void MainWindow::refreshPage(int) {
    syncUpdate();
}

bool MainWindow::takeTipRequest() {
    const bool set = tip_request != 0;
    tip_request = 0;
    return set;
}

void MainWindow::slot_update_timer_ticks() {
    ++G_timeTicks;
    // A reboot that did not take the system down is tried again 3 s later, not on every tick.
    if (g_app_reset_flag && Utils::getTimeSpace(G_reboot_tickTicks) >= kRebootDelayTicks) {
        G_reboot_tickTicks = G_timeTicks.load();
        Utils::system_mutex("reboot");
    }
    if (!g_delay_usbserver && Utils::getTimeSpace(g_delay_usbserver_ticks) >= kUsbServerDelayTicks)
        g_delay_usbserver = 1;
}
