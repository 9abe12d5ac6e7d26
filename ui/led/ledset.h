// The LED set-up page (page 13): the LED screen's width and height, how the picture is split
// over the two outputs (horizontal, vertical or copy) and the first output's size. The number
// fields open the keypad by OK or touch; the splice combo is chosen in an edit mode; Apply
// writes the size, the splice and both outputs under the C331 mutex and starts the LED-size
// handshake.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "core/led_size.h"
#include "ui/shell/panel_frame.h"

class QLineEdit;
namespace Ui {
class ledset;
}

class ledset : public PanelPage<QDialog, ledset> {
    Q_OBJECT

public:
    // Focus indexes.
    enum { kLedW, kLedH, kCombo, kOut1W, kOut1H, kApply, kCancel };
    // Splice modes as RAM 1376 holds them, and the combo entries.
    enum : uint8_t {
        kModeVertical = led_size::kVertical,
        kModeHorizontal = led_size::kHorizontal,
        kModeCopy = led_size::kCopy
    };
    enum { kEntryHorizontal, kEntryVertical, kEntryCopy };
    static constexpr int kMinSize = led_size::kMinSide;
    static constexpr int kMaxSize = led_size::kMaxSide;
    static constexpr int kCopyMaxWidth = led_size::kCopyMaxWidth;
    static constexpr int32_t kMaxArea = led_size::kMaxArea;

    explicit ledset(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~ledset() override;

    void language_changed() override;
    void syncUpdate() EXCLUDES(c331_manage::c331_mutex);
    void para_init() EXCLUDES(c331_manage::c331_mutex);
    void combox_language_change();
    void out_label_changed();
    // A splice entry applied to the page: its mode and the outputs' default sizes.
    void on_comboBox_currentIndexChanged(int index);
    void on_Button_apply1_clicked() EXCLUDES(c331_manage::c331_mutex);

    QString edited_field;     // the field that last opened the keypad
    uint8_t combo_index = 0;  // the entry being chosen
    uint8_t splice_mode = kModeCopy;
    uint8_t combo_edit = 0;  // the splice combo is in edit mode
    Ui::ledset* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);

protected:
    void keyLeft() override;
    void keyRight() override;
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    struct Outputs {
        int w1, h1;          // OUT1 (at 0, 0)
        int x2, y2, w2, h2;  // OUT2
    };
    void menulist_init();
    void stepCombo(int step);
    void openKeypad(QLineEdit* field);
    void confirmSize(QLineEdit* field, QLineEdit* other, int value);
    void confirmOut1(QLineEdit* field, const QString& typed, int whole);
    // The outputs the splice mode gives for the fields' sizes, OUT1 kept inside the screen.
    Outputs outputs(int w, int h) const;
    void showOutputs(const Outputs& o);
    // The widest screen the splice takes: the copy splice's cap, else the common limit.
    int maxWidth() const;
    void showMaxNote();
    // W and H as Apply writes them: within the limits, the copy cap and the area.
    void checkedSize(int* w, int* h) const;
    void writeParameters(int w, int h, const Outputs& o) REQUIRES(c331_manage::c331_mutex);
    void writeWindows(int w, int h) REQUIRES(c331_manage::c331_mutex);
};

extern ledset* g_ledset;
