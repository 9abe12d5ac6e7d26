// The EDID settings page (page 8): per input, the width, height and refresh rate its EDID
// announces. Level 0 the input tabs, level 1 the edit row (width, height, rate, Delete, Cancel,
// SAVE), level 2 the rate choice. SAVE writes the request only when an EDID can describe it.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QFrame;
class QLineEdit;
class QPushButton;
namespace Ui {
class EDIDset;
}

class EDIDset : public PanelPage<QDialog, EDIDset> {
    Q_OBJECT

public:
    explicit EDIDset(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~EDIDset() override;

    void language_changed() override;
    void syncUpdate() EXCLUDES(c331_manage::c331_mutex);
    void source_init() EXCLUDES(c331_manage::c331_mutex);

    uint8_t list_position = 0;  // the input tab 0..5
    uint8_t item = 0;           // level 1: 0 width, 1 height, 2 rate, 3 Delete, 4 Cancel, 5 SAVE
    uint8_t level = 0;
    uint8_t refresh_choice = 0;  // 1 "60", 0 "30"
    uint8_t source_id = 2;
    QString source_name = "HDMI1";
    QFrame* source_card = nullptr;
    QPushButton* buttons[3] = {};  // Delete, Cancel, SAVE
    Ui::EDIDset* ui;

public slots:
    void zem_button_input_clicked() EXCLUDES(c331_manage::c331_mutex);
    void zem_button_source_clicked() EXCLUDES(c331_manage::c331_mutex);
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex) { keyStep(-1); }
    void keyRight() override EXCLUDES(c331_manage::c331_mutex) { keyStep(+1); }
    void keyOk() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    int focusIndex() const override { return level == 1 ? item : list_position; }

private:
    void keyStep(int step) EXCLUDES(c331_manage::c331_mutex);
    void zem_button_ok_clicked() EXCLUDES(c331_manage::c331_mutex);
    void zem_button_cancel_clicked();
    void on_Button_freq_clicked();
    void menulist_init();
    void openKeypad(QLineEdit* field);
    void styleItem(int index, bool focused);
    void levelStyles(bool editing);
    void closeEditRow();

    uint8_t saved_refresh_choice = 0;
    QString saved_rate;  // the rate shown when level 2 began (Back puts it back)
    QFrame* tab_frame = nullptr;
};

extern EDIDset* g_edidset;
