// The main menu (page 1): lies under every other page for the whole run and owns the program's
// 10 ms tick. Its menu contents are built by the panel pages.
#pragma once

#include <QMainWindow>
#include <cstdint>

#include "core/sync_update.h"

class QTimer;

class MainWindow : public QMainWindow, public SyncPage {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);

    // Page 1 refresh (the menu re-reads its fields here once it has them).
    void syncUpdate();
    void refreshPage(int id) override;
    bool takeTipRequest() override;

    uint8_t tip_request = 0;  // set after a user-mode save or recall; shows the "done" tip

public slots:
    // The 10 ms tick.
    void slot_update_timer_ticks();
};

extern MainWindow* g_mainwindow;
extern QTimer* g_timer;

// Ticks of the tick-based delays owned by the main window.
constexpr uint32_t kRebootDelayTicks = 300;      // 3 s after g_app_reset_flag
constexpr uint32_t kUsbServerDelayTicks = 1000;  // 10 s after start
extern uint32_t g_delay_usbserver_ticks;
