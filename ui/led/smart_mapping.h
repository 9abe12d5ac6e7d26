// The smart-mapping wizard (page 24), opened from the option page: quick lighting of one output
// port's receiving cards (cabinet size, port, rows and columns, routing, offsets), loading a
// scan file from the box or a USB disk into the cards, saving the cards' parameters, and the
// mapping switch. Eight screens behind a top row of four items; the keys move along the top
// row (level 0) or inside the item's screen (level 1), and a touch moves the keys with the
// screen. Each action posts a task to the FPGA thread through the job gate and shows the
// progress ring; while the ring shows, the page cannot be left and keeps the job's inputs.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "fpga/fpga_globals.h"
#include "ui/shell/paged_list.h"
#include "ui/shell/panel_frame.h"

class QAbstractButton;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
namespace Ui {
class SmartMapping;
}

class SmartMapping : public PanelPage<QDialog, SmartMapping> {
    Q_OBJECT

public:
    // The screens of the stacked widget.
    enum Screen { kCabinet, kPort, kLayout, kRouting, kScanPort, kScanFiles, kCuring, kMapping };
    // The top row.
    enum TopItem { kTopShortcut, kTopLoadScan, kTopCuring, kTopMapping, kTopItems };
    static constexpr int kMaxFiles = 100;
    static constexpr int kFilesPerPage = 3;
    static constexpr int kPorts = 20;

    explicit SmartMapping(QWidget* parent = nullptr);
    ~SmartMapping() override;

    void language_changed() override;
    void syncUpdate(int id);
    // Back out of the wizard (the top row's Back, the PC's close): refused under a ring.
    void Button_back_clicked() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // The PC wrote or deleted a scan file: back, only in front and with no job running; an
    // open keypad is closed first and delivers nothing.
    void closeForPc() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // The PC's scan-file writes and deletions reach the wizard (and the option page) on the
    // main thread, for as long as context lives.
    static void connectPc(QObject* context);
    // The item under the keys: the top item at level 0, else the screen's focus index.
    int keyFocus() const { return focusIndex(); }

    // The values the next lighting job takes, and the scan file chosen for a load.
    LINE_TYPE lighting{};
    QString chosen_file;

    // Key state.
    uint8_t level = 0;
    uint8_t top_focus = kTopShortcut;
    int scan_file_count = 0;
    uint8_t shortcut_step = 0;
    uint8_t tile_mode = 0;
    uint8_t saved_port = 0;
    uint8_t route_mode = 0;
    uint8_t port_group = 0;
    uint8_t port_tile = 0;
    uint8_t loadscan_step = 0;
    uint8_t loadscan_tile_mode = 0;
    uint8_t file_page_shown = 0;

    // The scan-file list: internal files first, then the USB disk's.
    QStringList files;
    int internal_file_count = 0;
    int file_count = 0;
    PagedList list;  // its pages, and the entry chosen or under the keys
    uint8_t file_button_focus = 0;
    uint8_t file_buttons_active = 0;

    Ui::SmartMapping* ui;

signals:
    void sig_qround_bar_update(int value);

public slots:
    void on_Button_shortcut_clicked();
    void on_Button_loadscan_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_mapping_clicked();
    void on_Button_next_clicked();
    void on_Button_front_2_clicked();
    void on_Button_next_2_clicked();
    void on_Button_front_3_clicked();
    void on_Button_route_clicked();
    void on_Button_cancel_clicked();
    void on_Button_send_clicked();
    void on_Button_wlan1_clicked() { groupClicked(0, kPort); }
    void on_Button_wlan2_clicked() { groupClicked(1, kPort); }
    void on_Button_wlan3_clicked() { groupClicked(2, kPort); }
    void on_Button_wlan5_clicked() { groupClicked(0, kScanPort); }
    void on_Button_wlan6_clicked() { groupClicked(1, kScanPort); }
    void on_Button_wlan7_clicked() { groupClicked(2, kScanPort); }
    void on_Button_front_6_clicked();
    void on_Button_next_5_clicked();
    void on_Button_load_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_state_clicked();
    void zem_button_wlan_clicked();
    // Entry `slot` of the page shown is chosen (touch or OK).
    void zem_button_file_clicked(int slot);
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);

protected:
    void keyLeft() override { keyStep(-1); }
    void keyRight() override { keyStep(+1); }
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyMode() override EXCLUDES(c331_manage::c331_mutex);
    int focusIndex() const override { return level ? focus.ui_select : top_focus; }

private:
    bool ringShown() const;
    // Posts task through the job gate with the ring; false (nothing done) when refused.
    bool startJob(uint8_t task);
    void keyStep(int step);
    void keyStepTop(int step);
    void keyOkTop();
    // The screen shown, and the key state that goes with it (level 1 inside it).
    void showScreen(Screen s);
    void enterScreen(Screen s);
    void selectTop(int item);
    // Focus rings of the screens.
    void ringCabinet();
    void ringPort();
    void ringLayout();
    void ringRouting();
    void ringScanPort(bool entered);
    void ringFiles();
    // Screen 1 and 4's port tiles.
    void groupClicked(int group, Screen s);
    void buildTiles(Screen s);
    void stepTile(int step, Screen s);
    int groupTiles() const { return port_group == 2 ? 4 : 8; }
    QPushButton* groupButton(Screen s, int group) const;
    void route_clicked(int n);
    void line_select(int n);
    // The scan files.
    void collectFiles();
    void scan_file_list();
    PagedList::Entry fileEntry(int k) const;
    int keyEntry() const;
    void keyFiles(KeyAction a);
    void showMappingState();
    bool mappingOn() const;
    // Texts.
    void textsCabinet();
    void textsPort();
    void textsLayout();
    void textsRouting();
    void textsScanPort();
    void textsFiles();
    void textsCuring();
    void textsMapping();
    void textsTopRow();
    void countScanFiles();

    QString edited_field;
    QPushButton* selected_group = nullptr;
    QFrame* tile_frame = nullptr;
};

extern SmartMapping* g_smartmapping;
