// The panel's single pop-up (g_tip): a check mark after an action, a line about the USB disk,
// or about a PC update that did not finish. Shown modally over the page in front; the 10 ms tick
// hides it after 300 ticks.
#pragma once

#include <QDialog>
#include <cstdint>

class QFrame;
namespace Ui {
class TIP;
}

extern uint8_t g_tip_flag;  // a tip is shown; the tick times it out

class TIP : public QDialog {
    Q_OBJECT

public:
    static constexpr int kShowTicks = 300;
    // The type a PC update that ended without its PC shows.
    static constexpr int kUpdateUnfinished = 6;

    explicit TIP(QWidget* parent = nullptr);
    ~TIP() override;

    // Builds the tip of a type (1 check mark, 3 USB disk in, 4 USB disk out, 5 reading,
    // kUpdateUnfinished) and shows it; returns once it is hidden again. Other types show nothing.
    void tip_create(int type);
    void tip_show();
    // The tick's part, with the ticks it just counted: hides the tip after kShowTicks ticks.
    void tip_outtime_deal(uint32_t ticks);

    QFrame* content() const { return frame_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void comeInFront();

    Ui::TIP* ui;
    QFrame* frame_ = nullptr;
    uint32_t ticks_ = 0;
};

extern TIP* g_tip;
