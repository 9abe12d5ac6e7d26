#include "ui/shell/main_window.h"

#include <QDateTime>
#include <QDebug>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <cstring>

#include "c331/c331_manage.h"
#include "comm/pc_update.h"
#include "core/globals.h"
#include "core/led_size.h"
#include "core/link_activity.h"
#include "core/utils.h"
#include "core/zem_ram_para.h"
#include "fpga/fpga_manage.h"
#include "platform/clock.h"
#include "ui/input/custom_mode.h"
#include "ui/input/input_choose.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/machine_state.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"
#include "ui/shell/tip.h"
#include "ui_main_window.h"

MainWindow* g_mainwindow = nullptr;
QTimer* g_timer = nullptr;
QFrame* g_mode[16] = {};
uint8_t g_mode_select = 0;
uint32_t g_delay_usbserver_ticks = 0;
uint32_t G_factoryage_ticks = 0;
uint32_t factoryage_log_diff3 = 0, factoryage_log_diff5 = 0, factoryage_log_diff10 = 0,
         factoryage_log_diff20 = 0, factoryage_log_diffmore = 0;
uint32_t factoryage_log2_diff3 = 0, factoryage_log2_diff5 = 0, factoryage_log2_diff10 = 0,
         factoryage_log2_diff20 = 0, factoryage_log2_diffmore = 0;
TickHooks g_tick_hooks;

namespace {

constexpr int kRamKeyLock = 772;
constexpr int kRamAudioWindow = 2112;
constexpr uint16_t kAudioOn = 0x80FF;

// clang-format off
const Texts kTitleCall = {"用户模式调用", "User mode invocation", "Загрузка настроек",
                          "Điều chỉnh chế độ", "用戶模式調用"};
const Texts kTitleSave = {"用户模式保存", "User mode save", "Сохранение настроек", "Chế độ lưu",
                          "用戶模式保存"};
// clang-format on

const char* const kGridStyle =
    "#widget_mode{background-color: rgb(255, 255, 255);border:1px groove gray;border-radius:1px;}";
const char* const kCellSaved = "background-color: #212435;border-radius:5px;";
const char* const kCellBlank = "background-color: #B2B2B2;border-radius:5px;";
const char* const kCellSelected = "background-color: #00D65B;border-radius:5px;";

// Step counters of one FPGA, from the smallest step up.
uint32_t* const kStepCounts[2][5] = {
    {&factoryage_log_diff3, &factoryage_log_diff5, &factoryage_log_diff10, &factoryage_log_diff20,
     &factoryage_log_diffmore},
    {&factoryage_log2_diff3, &factoryage_log2_diff5, &factoryage_log2_diff10,
     &factoryage_log2_diff20, &factoryage_log2_diffmore}};

// Register 42 counts modulo 256; a step of 0 counts nowhere.
void countStep(int fpga, int prev, int cur) {
    const int step = cur - prev + (prev > cur ? 256 : 0);
    if (step <= 0) return;
    const int bucket = step < 3 ? 0 : step < 5 ? 1 : step <= 9 ? 2 : step <= 19 ? 3 : 4;
    ++*kStepCounts[fpga][bucket];
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : PanelPage(kPageMain, parent),
      ui(new Ui::MainWindow),
      tick_counted_us_(platform::tickClock().nowUs()) {
    ui->setupUi(this);
    ui->widget->hide();
    grid_font_.setPointSize(9);
    mode_init();
    pointer_ = new QLabel(this);
    setPicture(pointer_, pictureOf(pic::kPointer));
    pointer_->hide();
    setPicture(ui->label_IP, pictureOf(pic::kIp));
    setIcon(ui->Button_lock, pictureOf(pic::kUnlock), 16, 16);
    setIcon(ui->tools, pictureOf(pic::kTools), 16, 16);
    setIcon(ui->toolButton3, picture(pic::kUncall), 24, 36);
    setIcon(ui->toolButton4, picture(pic::kUnsave), 24, 36);
    g_numberkeyboard = new NumberKeyboard(nullptr);
    g_numberkeyboard->setWindowFlags(g_numberkeyboard->windowFlags() | Qt::FramelessWindowHint);
    g_tip = new TIP(nullptr);
    menulist_init();
    language_changed();
}

MainWindow::~MainWindow() {
    delete ui;
}

// ---- Refresh and language ----

bool MainWindow::takeTipRequest() {
    const bool set = preset_done != 0;
    preset_done = 0;
    return set;
}

void MainWindow::syncUpdate() {
    bool changed = false;
    for (int a : {int(ZemRamPara::kRamCloseLed), audioWord(), kRamKeyLock})
        changed = changed || wordChanged(a);
    if (changed) para_init();
    ip_changed();
    if (gridOpen()) redrawChangedCells();
}

void MainWindow::language_changed() {
    setIcon(ui->machinestate, picture(pic::kMachineState), 64, 64);
    static const QSize kInputSize[kLanguageCount] = {
        {64, 64}, {90, 64}, {96, 76}, {96, 76}, {64, 64}};
    const QSize input = kInputSize[panelLanguage()];
    setIcon(ui->inputchoose, picture(pic::kInputChoose), input.width(), input.height());
    setIcon(ui->custommode, picture(pic::kCustomMode), 64, 64);
    setIcon(ui->option, picture(pic::kOption), 64, 64);
    setIcon(ui->toolButton3, picture(pic::kUncall), 24, 36);
    setIcon(ui->toolButton4, picture(pic::kUnsave), 24, 36);
    para_init();
    ip_changed();
    if (gridOpen()) showGrid();
}

void MainWindow::para_init() {
    const bool ledClosed = store().rd16_locked(ZemRamPara::kRamCloseLed) == 1;
    setIcon(ui->toolButton1, pictureOf(ledClosed ? pic::kCloseLed : pic::kUncloseLed), 24, 36);
    const bool soundOn = store().rd16_locked(audioWord()) & 0x8000;
    setIcon(ui->toolButton2, pictureOf(soundOn ? pic::kUnsilence : pic::kSilence), 24, 36);
    drawLock();
}

void MainWindow::drawLock() {
    // Drawn as the key filter reads the word: any value but 0 locks. Under the lock a PC's
    // write takes: this may run on a PC's write alone.
    l_lock_state = store().rd16_locked(kRamKeyLock) != 0;
    setIcon(ui->Button_lock, pictureOf(l_lock_state ? pic::kLock : pic::kUnlock), 16, 16);
}

void MainWindow::ip_changed() {
    ui->label_IPaddr->setText(Utils::configValue(&g_str_ip));
}

// ---- Focus and keys ----

void MainWindow::menulist_init() {
    showMenuList(0);
    grid_index = 0;
}

void MainWindow::showMenuList(int index) {
    using namespace panel_style;
    focus.setItems({{ui->machinestate, kMenuWords},
                    {ui->inputchoose, kMenuWords},
                    {ui->custommode, kMenuWords},
                    {ui->option, kMenuWords},
                    {ui->Button_lock, kSmall},
                    {ui->tools, kSmall}},
                   index);
}

bool MainWindow::barShown() const {
    return !ui->widget->isHidden();
}

void MainWindow::keyLeft() {
    if (gridOpen())
        on_usermodesel_clicked(0);
    else
        focus.move(-1);
}

void MainWindow::keyRight() {
    if (gridOpen())
        on_usermodesel_clicked(1);
    else
        focus.move(+1);
}

void MainWindow::keyOk() {
    if (gridOpen()) {
        grid_buttons[grid_index]->click();
        return;
    }
    const unsigned select = focus.ui_select, lock = l_lock_state, call = l_call_state;
    if (barShown())
        ZEM_DEBUG("\n unhidden ui_select = %#x ,l_lock_state = %#x ,l_call_state=%#x\n", select,
                  lock, call);
    else
        ZEM_DEBUG("\n ishidden ui_select = %#x ,l_lock_state = %#x l_call_state=%#x\n", select,
                  lock, call);
    PageFrame::keyOk();
}

void MainWindow::keyMode() {
    panel::modeShortcut();
}

void MainWindow::keyBack() {
    using namespace panel_style;
    if (gridOpen()) {
        on_deletewidgetmode_clicked();
        return;
    }
    if (barShown()) {
        ui->widget->hide();
        focus.clearFocus();
        showMenuList(5);
        on_toolusermode_clicked();
        return;
    }
    mode_window_close();
    g_lockwindow = new LockWindow(nullptr);
    g_page_focus = kPageHome;
    g_lockwindow->show();
}

// ---- Openers ----

void MainWindow::on_machinestate_clicked() {
    mode_window_close();
    panel::open(g_machinestate, kPageMachineState);
}

void MainWindow::on_inputchoose_clicked() {
    mode_window_close();
    panel::open(g_inputchoose, kPageInputChoose);
}

void MainWindow::on_custommode_clicked() {
    mode_window_close();
    g_custommode = new CustomMode(nullptr);
    g_page_focus = kPageCustomMode;
    g_custommode->show();
}

void MainWindow::on_option_clicked() {
    mode_window_close();
    panel::open(g_option, kPageOption);
}

// ---- Key lock and tools ----

void MainWindow::on_Button_lock_clicked() {
    // A PC may have written any non-zero lock: the touch opens it, or locks an open one.
    l_lock_state = !keyLocked();
    setIcon(ui->Button_lock, pictureOf(l_lock_state ? pic::kLock : pic::kUnlock), 16, 16);
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().user_wr16(kRamKeyLock, l_lock_state);
    }
    // The lock has no effect on the chip, but it must reach the parameter file even when
    // nothing else is refreshed before the box is switched off.
    QMetaObject::invokeMethod(SyncUpdate::pInstance(), "para_sync", Qt::QueuedConnection,
                              Q_ARG(int, 1));
}

void MainWindow::on_tools_clicked() {
    using namespace panel_style;
    if (!barShown()) {
        ui->widget->show();
        focus.clearFocus();
        grid_index = 0;
        focus.setItems({{ui->toolButton1, kSmall},
                        {ui->toolButton2, kSmall},
                        {ui->toolButton3, kSmall},
                        {ui->toolButton4, kSmall}},
                       0);
        return;
    }
    resetGridTools();
    if (widget_mode) widget_mode->hide();
    grid_index = 0;
    ui->widget->hide();
    showMenuList(5);
}

void MainWindow::on_toolButton1_clicked() {
    uint16_t closed;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        closed = (store().rd16(ZemRamPara::kRamCloseLed) + 1) & 1;
        store().user_wr16(ZemRamPara::kRamCloseLed, closed);
        c331_manage::raise_apply(1);
    }
    setIcon(ui->toolButton1, pictureOf(closed ? pic::kCloseLed : pic::kUncloseLed), 24, 36);
}

void MainWindow::on_toolButton2_clicked() {
    bool soundOn;
    {
        // A recall writes the audio window too: the check and both writes are one.
        zem::MutexLocker lock(c331_manage::c331_mutex);
        // The sound follows a window that is there: an unknown or unused one hands it to window 0.
        int w = store().rd8(kRamAudioWindow);
        if (w >= ZemRamPara::kWindowCount ||
            store().rd16(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags)) == 0) {
            store().user_wr16(kRamAudioWindow, 0);
            w = 0;
        }
        const int audio = audioWordOf(w);
        soundOn = store().rd16(audio) & 0x8000;
        c331_manage::raise_apply(1);
        store().user_wr16(audio, soundOn ? 0 : kAudioOn);
    }
    setIcon(ui->toolButton2, pictureOf(soundOn ? pic::kSilence : pic::kUnsilence), 24, 36);
}

void MainWindow::on_toolButton3_clicked() {
    openGrid(true);
}

void MainWindow::on_toolButton4_clicked() {
    openGrid(false);
}

// CALL (call true) or SAVE: the grid opens on the current slot when it is saved, else on the
// next saved one.
void MainWindow::openGrid(bool call) {
    uint8_t& own = call ? l_call_state : l_save_state;
    uint8_t& other = call ? l_save_state : l_call_state;
    own = 1;
    if (other) {
        other = 0;
        setIcon(call ? ui->toolButton4 : ui->toolButton3,
                picture(call ? pic::kUnsave : pic::kUncall), 24, 36);
    }
    focus.clearFocus();
    indexOnSavedSlot();
    showGrid();
    pointer_->setGeometry(281, call ? 148 : 188, 9, 12);
    pointer_->show();
    pointer_->raise();
}

// The grid index as the grid opens: the slot it is on when that is saved, else the next saved
// one with wrap, else 0; the open tool's button shows its lit picture once a saved slot holds it.
void MainWindow::indexOnSavedSlot() {
    const int r = store().ZemUserModeShownIndex(grid_index, 2);
    if (r >= ZemRamPara::kModeCount) {
        grid_index = 0;
        return;
    }
    grid_index = uint8_t(r);
    setIcon(l_call_state ? ui->toolButton3 : ui->toolButton4,
            picture(l_call_state ? pic::kCall : pic::kSave), 24, 36);
}

void MainWindow::showGrid() {
    mode_init();
    widget_mode->setGeometry(11, 6, 270, 230);
    grid_title_->setText(text(l_call_state ? kTitleCall : kTitleSave));
    widget_mode->show();
    widget_mode->raise();
}

void MainWindow::on_usermodesel_clicked(int direction) {
    const int r = store().ZemUserModeShownIndex(grid_index, direction);
    if (l_save_state)
        grid_index = uint8_t((grid_index + (direction ? 1 : 15)) % 16);
    else
        grid_index = uint8_t(r < ZemRamPara::kModeCount ? r : 0);
    showGrid();
}

// ---- The preset grid ----

void MainWindow::mode_init() {
    // The old grid may be the sender of the click being handled: it goes once that is over.
    if (widget_mode) {
        widget_mode->hide();
        widget_mode->setObjectName("widget_mode_old");
        widget_mode->deleteLater();
    }
    widget_mode = new QWidget(ui->centralWidget);
    widget_mode->setObjectName("widget_mode");
    widget_mode->setStyleSheet(kGridStyle);
    widget_mode->hide();
    grid_title_ = new QLabel(widget_mode);
    grid_title_->setFont(grid_font_);
    grid_title_->setGeometry(10, 5, 210, 28);
    grid_title_->setStyleSheet("background-color: rgb(255, 255, 255);");
    for (int i = 0; i < ZemRamPara::kModeCount; ++i) buildGridCell(i);
    const int current = store().ZemGetCurrentModeIndex();
    for (int i = 0; i < ZemRamPara::kModeCount; ++i) drawGridCell(i, cellLook(i, current));
}

void MainWindow::buildGridCell(int i) {
    const QRect cell(15 + 63 * (i % 4), 33 + 45 * (i / 4), 50, 40);
    auto* frame = new QFrame(widget_mode);
    frame->setGeometry(cell);
    g_mode[i] = frame;
    auto* number = new QLabel(QString::number(i + 1), widget_mode);
    number->setGeometry(cell.x(), cell.y(), 12, 12);
    number->setAlignment(Qt::AlignCenter);
    number->setStyleSheet("background-color: #4777FF;color: #FFFFFF;border-radius:3px;font: 7px;");
    grid_icons_[i] = new QLabel(frame);
    auto* using_ = new QLabel(frame);
    using_->setAlignment(Qt::AlignCenter);
    using_->setStyleSheet("color: rgb(255, 255, 255); font: 7px;");
    using_->setGeometry(7, 23, 36, 17);
    using_->hide();
    grid_using_[i] = using_;
    auto* button = new QPushButton(widget_mode);
    button->setGeometry(cell);
    button->setFocusPolicy(Qt::NoFocus);
    button->setObjectName(QString::number(i));
    connect(button, &QPushButton::clicked, this, &MainWindow::zem_button_mode_clicked);
    grid_buttons[i] = button;
}

MainWindow::CellLook MainWindow::cellLook(int i, int current) const {
    CellLook look;
    look.saved = store().ZemUserModeShown(i) == 1;
    look.in_use = look.saved && i + 1 == current;
    look.focused = i == grid_index && (look.saved ? gridOpen() : l_save_state);
    return look;
}

void MainWindow::drawGridCell(int i, const CellLook& look) {
    g_mode[i]->setStyleSheet(look.saved ? kCellSaved : kCellBlank);
    setPicture(grid_icons_[i], pictureOf(look.saved ? pic::kModeExist : pic::kModeBlank));
    grid_icons_[i]->setGeometry(17, look.in_use ? 7 : 12, 16, 16);
    if (look.in_use)
        setFittedText(grid_using_[i], text(words::kUsing));
    else
        grid_using_[i]->clear();
    grid_using_[i]->setVisible(look.in_use);
    panel_style::apply(grid_buttons[i], panel_style::kGridCell,
                       look.focused ? panel_style::kFocus : panel_style::kNormal);
    grid_looks_[i] = look;
}

// A refresh draws again only the cells it changed: under a PC's saves it comes every tick, and
// building the grid anew each time (about 80 widgets) doubled the main thread's work per save.
void MainWindow::redrawChangedCells() {
    // A PC's delete or save can leave the CALL grid's index on a blank slot, which draws no
    // focus there: it moves on as when the grid opens.
    if (l_call_state && store().ZemUserModeShown(grid_index) != 1) indexOnSavedSlot();
    const int current = store().ZemGetCurrentModeIndex();
    for (int i = 0; i < ZemRamPara::kModeCount; ++i) {
        const CellLook look = cellLook(i, current);
        if (!(look == grid_looks_[i])) drawGridCell(i, look);
    }
}

void MainWindow::zem_button_mode_clicked() {
    if (g_mode_select < 16 && g_mode[g_mode_select])
        g_mode[g_mode_select]->setStyleSheet(
            store().ZemUserModeShown(g_mode_select) == 1 ? kCellSaved : kCellBlank);
    const int slot = sender() ? sender()->objectName().toInt() : grid_index;
    if (slot < 0 || slot >= ZemRamPara::kModeCount) return;
    g_mode_select = uint8_t(slot);
    if (l_save_state) {
        // Taken at the key with the RAM as it is: a PC's frame answered later is not in it.
        store().save_mode_from_panel(slot);
        l_save_state = 0;
        on_toolButton4_clicked();
        preset_done = 1;
    } else if (l_call_state && store().ZemUserModeShown(slot) == 1) {
        // Recalled as the slot is now: a PC may have changed it since the grid was drawn.
        zem::MutexLocker lock(c331_manage::c331_mutex);
        if (store().ZemUserModeSaved(slot) == 1) {
            // A user's write: the close-LED and brightness it brings count as written.
            store().ZemRamParaDeal(store().mode_ram[slot].data() + 2, ZemRamPara::kModePayloadSize,
                                   ZemRamPara::kModePayloadStart);
            // RAM 868 is the save requests' own: it reads 0 once they have ended.
            store().set_current_mode(uint16_t(slot + 1));
            led_size::take_or_refuse(&store(), "user mode");
            c331_manage::raise_apply(1);
        }
        lock.unlock();
        l_call_state = 0;
        grid_index = uint8_t(slot);
        on_toolButton3_clicked();
        preset_done = 1;
    }
    g_mode[g_mode_select]->setStyleSheet(kCellSelected);
}

void MainWindow::resetGridTools() {
    l_call_state = 0;
    l_save_state = 0;
    setIcon(ui->toolButton3, picture(pic::kUncall), 24, 36);
    setIcon(ui->toolButton4, picture(pic::kUnsave), 24, 36);
    pointer_->hide();
}

void MainWindow::on_deletewidgetmode_clicked() {
    resetGridTools();
    if (widget_mode) widget_mode->hide();
    focus.select(focus.ui_select);
}

void MainWindow::on_toolusermode_clicked() {
    if (!gridOpen()) return;
    resetGridTools();
    widget_mode->hide();
}

void MainWindow::mode_window_close() {
    if (!widget_mode) return;
    l_call_state = 0;
    l_save_state = 0;
    widget_mode->hide();
    pointer_->hide();
}

// ---- The 10 ms tick ----

// Whole periods on the tick clock since the last one counted, to the nearest: a timer that fires
// a little early or late counts one, and a main thread kept busy for a second counts 100.
uint32_t MainWindow::elapsedTicks() {
    const int64_t since = int64_t(platform::tickClock().nowUs() - tick_counted_us_);
    if (since < int64_t(kTickUs / 2)) return 0;
    const uint64_t ticks = (uint64_t(since) + kTickUs / 2) / kTickUs;
    tick_counted_us_ += ticks * kTickUs;
    return uint32_t(ticks);
}

// The tick follows real time and may step by more than one: no rule on it waits for one exact
// value, and what runs per tick is given the ticks counted.
void MainWindow::slot_update_timer_ticks() {
    const uint32_t ticks = elapsedTicks();
    if (ticks == 0) return;
    const uint32_t from = G_timeTicks.fetch_add(ticks);
    pc_update::get().watch(from + ticks);
    link_activity::get().watch(from + ticks);
    if (g_update_flag && g_tick_hooks.overlay_step) g_tick_hooks.overlay_step(from, ticks);
    if (g_tip_flag && g_tip) g_tip->tip_outtime_deal(ticks);
    // A reboot that did not take the system down is tried again 3 s later, not on every tick.
    if (g_app_reset_flag && Utils::getTimeSpace(G_reboot_tickTicks) >= kRebootDelayTicks) {
        G_reboot_tickTicks = G_timeTicks.load();
        Utils::system_mutex("reboot");
    }
    if (Utils::getTimeSpace(G_factoryage_ticks) >= kAgingPeriodTicks) {
        G_factoryage_ticks = G_timeTicks;
        fpga_manage* fpga = fpga_manage::p_fpga_manage;
        if (fpga && !pc_cmd_valid && fpga->get_fpga_status()) getagelog();
        if (g_tick_hooks.agelog_redraw) g_tick_hooks.agelog_redraw();
        G_factoryage_ticks = G_timeTicks;
    }
    if (!g_delay_usbserver && Utils::getTimeSpace(g_delay_usbserver_ticks) >= kUsbServerDelayTicks)
        g_delay_usbserver = 1;
    if (ZemRamPara* store = ZemRamPara::p_zemrampara_config) store->say_failed_files(from + ticks);
}

void MainWindow::getagelog() {
    QString entry;
    {
        zem::MutexLocker lock(Utils::_system_mutex);
        entry = QDateTime::currentDateTime().toString("MM-dd hh:mm");
    }
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    for (uint8_t f = 0; f < 2; ++f)
        for (uint8_t reg : {40, 42, 43}) fpga->read_from_register(reg, f);
    for (uint8_t f = 0; f < 2; ++f)
        for (uint8_t reg : {42, 40, 43}) entry += ' ' + QString::number(fpga->mirror(f, reg));
    factoryage_log.append(entry);
    if (factoryage_log.size() > kAgingLogMax) factoryage_log.removeFirst();
    if (factoryage_log.size() < 2) return;
    const QStringList cur = factoryage_log.last().split(' ');
    const QStringList prev = factoryage_log.at(factoryage_log.size() - 2).split(' ');
    for (int f = 0; f < 2; ++f)
        countStep(f, prev.value(2 + 3 * f).toInt(), cur.value(2 + 3 * f).toInt());
}

void MainWindow::update_start() {
    if (g_tick_hooks.overlay_start) g_tick_hooks.overlay_start();
}

void MainWindow::update_over() {
    if (g_tick_hooks.overlay_over) g_tick_hooks.overlay_over();
}
