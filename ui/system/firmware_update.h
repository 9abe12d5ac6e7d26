// The upgrade overlay: a full-panel window over every page while the program, the kernel or the
// firmware is being upgraded, by the PC or from a USB disk. A picture moves up and down and the
// text under it gains a dot each second; the main tick drives both while g_update_flag is set.
#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
namespace Ui {
class FirmwareUpdate;
}

class FirmwareUpdate : public QDialog {
    Q_OBJECT

public:
    explicit FirmwareUpdate(QWidget* parent);
    ~FirmwareUpdate() override;

    // The base text alone, placed for its language.
    void language_changed();
    // The tick counted `ticks` ticks after `from`: the icon steps at every even one, the text at
    // every 100th, then one repaint.
    void update_time_deal(uint32_t from, uint32_t ticks);
    void handleTimerID1();  // one icon step
    void handleTimerID2();  // one text step

    static constexpr int kIconTop = 60;
    static constexpr int kIconBottom = 116;

    Ui::FirmwareUpdate* ui;
    QLabel* icon_label = nullptr;
    QLabel* text_label = nullptr;
    int icon_x = 0;
    int icon_y = 0;
    int text_steps = 0;
    uint8_t direction = 1;  // 1 moving down, 0 moving up

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
};

extern FirmwareUpdate* g_move_update;

// Shows the overlay (a new one, or the one shown already).
void firmware_update_start();
// Closes the overlay, unless an update of another path still runs (its bit of g_update_flag).
void firmware_update_over();
