// The main menu (page 1): lies under every other page for the whole run. Four big buttons
// (status, source switch, user modes, options), the key lock, the tools bar (close LED, mute,
// CALL and SAVE) with its 4 x 4 preset grid, and the program's 10 ms tick. Its constructor
// makes the number keypad and the pop-up tip.
#pragma once

#include <QFont>
#include <QMainWindow>
#include <QString>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QFrame;
class QLabel;
class QPushButton;
class QTimer;
namespace Ui {
class MainWindow;
}

class MainWindow : public PanelPage<QMainWindow, MainWindow> {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~MainWindow() override;

    void syncUpdate() EXCLUDES(c331_manage::c331_mutex);
    bool takeTipRequest() override;
    void keyLockWritten() override EXCLUDES(c331_manage::c331_mutex) { drawLock(); }
    void language_changed() override EXCLUDES(c331_manage::c331_mutex);

    // Aging sample: the six FPGA registers into one log line and the step counts.
    void getagelog();
    // The preset grid closes (states cleared, grid and pointer hidden; the bar stays).
    void mode_window_close();

    uint8_t preset_done = 0;         // a CALL or SAVE from the grid; the next refresh shows the tip
    uint8_t l_call_state = 0;        // the grid is open for CALL
    uint8_t l_save_state = 0;        // the grid is open for SAVE
    uint8_t l_lock_state = 0;        // the key lock is shown as on
    uint8_t grid_index = 0;          // the slot with the grid focus
    QWidget* widget_mode = nullptr;  // the preset grid
    QPushButton* grid_buttons[16] = {};
    Ui::MainWindow* ui;

public slots:
    void slot_update_timer_ticks();
    // The upgrade overlay; other threads reach these queued.
    void update_start();
    void update_over();

    void on_machinestate_clicked();
    void on_inputchoose_clicked();
    void on_custommode_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_option_clicked();
    void on_Button_lock_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_tools_clicked();
    void on_toolButton1_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_toolButton2_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_toolButton3_clicked() EXCLUDES(c331_manage::c331_mutex);
    void on_toolButton4_clicked() EXCLUDES(c331_manage::c331_mutex);
    void zem_button_mode_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex);
    void keyRight() override EXCLUDES(c331_manage::c331_mutex);
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyMode() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(ZemRamPara::pInstance()->mutex);

private:
    bool barShown() const;
    bool gridOpen() const { return l_call_state || l_save_state; }
    void para_init() EXCLUDES(c331_manage::c331_mutex);
    void drawLock() EXCLUDES(c331_manage::c331_mutex);  // the padlock, from RAM 772
    void ip_changed();
    void menulist_init();
    void showMenuList(int index);
    void mode_init() EXCLUDES(c331_manage::c331_mutex);
    // What a cell of the grid shows.
    struct CellLook {
        bool saved = false;
        bool in_use = false;  // the current mode: "Using" under its icon
        bool focused = false;
        bool operator==(const CellLook& o) const {
            return saved == o.saved && in_use == o.in_use && focused == o.focused;
        }
    };
    void buildGridCell(int i);
    // Slot i's look, with `current` the current user mode (RAM 866).
    CellLook cellLook(int i, int current) const EXCLUDES(c331_manage::c331_mutex);
    void drawGridCell(int i, const CellLook& look);
    void redrawChangedCells() EXCLUDES(c331_manage::c331_mutex);
    void indexOnSavedSlot();
    void showGrid() EXCLUDES(c331_manage::c331_mutex);
    void openGrid(bool call) EXCLUDES(c331_manage::c331_mutex);
    void on_usermodesel_clicked(int direction) EXCLUDES(c331_manage::c331_mutex);
    void on_deletewidgetmode_clicked();
    void on_toolusermode_clicked();
    void resetGridTools();
    uint32_t elapsedTicks();

    QLabel* pointer_ = nullptr;
    QLabel* grid_title_ = nullptr;
    QFont grid_font_;
    QLabel* grid_icons_[16] = {};
    QLabel* grid_using_[16] = {};
    CellLook grid_looks_[16];   // as each cell was last drawn
    uint64_t tick_counted_us_;  // the tick clock's time up to which ticks were counted
};

extern MainWindow* g_mainwindow;
extern QTimer* g_timer;
extern QFrame* g_mode[16];     // the cell frames of the current grid, by slot
extern uint8_t g_mode_select;  // the slot last touched in the grid

constexpr uint64_t kTickUs = 10000;  // one tick of G_timeTicks
// Ticks of the tick-based delays owned by the main window.
constexpr uint32_t kRebootDelayTicks = 300;      // 3 s after g_app_reset_flag
constexpr uint32_t kUsbServerDelayTicks = 1000;  // 10 s after start
constexpr uint32_t kAgingPeriodTicks = 18000;    // 3 minutes
constexpr int kAgingLogMax = 3360;               // 7 days of samples
extern uint32_t g_delay_usbserver_ticks;
extern uint32_t G_factoryage_ticks;

// Steps of register 42 between two aging samples, per FPGA: 1..2, 3..4, 5..9, 10..19, 20+.
extern uint32_t factoryage_log_diff3, factoryage_log_diff5, factoryage_log_diff10,
    factoryage_log_diff20, factoryage_log_diffmore;
extern uint32_t factoryage_log2_diff3, factoryage_log2_diff5, factoryage_log2_diff10,
    factoryage_log2_diff20, factoryage_log2_diffmore;

// What the tick does for pages built elsewhere: the upgrade overlay's animation step, its
// opening and closing, and the open aging page's redraw. Null until those pages install them.
struct TickHooks {
    void (*overlay_step)(uint32_t from, uint32_t ticks) = nullptr;
    void (*overlay_start)() = nullptr;
    void (*overlay_over)() = nullptr;
    void (*agelog_redraw)() = nullptr;
};
extern TickHooks g_tick_hooks;
