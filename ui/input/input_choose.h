// The source switch page (page 3): for each enabled window, which input feeds it, a whole
// source or one of its crops. Three levels: 0 the window tabs and the two buttons, 1 the six
// sources, 2 the choices of one source (the whole source, then its crops, three a page).
// Keys only; OK at level 2 applies the choice to the current window.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QFrame;
class QLabel;
namespace Ui {
class InputChoose;
}

class InputChoose : public PanelPage<QDialog, InputChoose> {
    Q_OBJECT

public:
    explicit InputChoose(QWidget* parent = nullptr)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    ~InputChoose() override;

    void syncUpdate(int id) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void language_changed() override
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void initSource() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void crop_source_num_update() EXCLUDES(ZemRamPara::pInstance()->mutex);

    uint8_t ui_seltype = 0;    // level: 0 tabs and buttons, 1 sources, 2 crop list
    uint8_t ui_select = 0;     // focus index within the level
    uint8_t current_page = 0;  // page of the crop list, 3 entries a page
    uint8_t last_page = 0;
    uint8_t tab_count = 0;
    uint8_t tab_windows[6] = {};
    uint8_t current_window = 0;
    uint8_t saved_tab = 0;
    uint8_t source_number = 0;  // the highlighted source (its list is shown)
    uint8_t source_pos = 0;     // its position in the source row
    uint8_t source_id = 0;      // the source in use by the current window
    int16_t source_type = 0;    // 1: the current window uses a crop
    uint8_t crop_id = 0;        // the crop-table record in use
    uint8_t choice_counts[6] = {};
    QFrame* tab_bar = nullptr;
    QFrame* tab_focus = nullptr;
    QLabel* tab_sources[6] = {};
    QFrame* frame = nullptr;  // the crop area
    Ui::InputChoose* ui;

public slots:
    // Gives the current window the entry in focus; false when the page closed under its tip.
    bool zem_source_button_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyRight() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    int focusIndex() const override { return ui_select; }

private:
    enum { kButtonInputCut = 6, kButtonEdid = 7 };
    void menulist_init() EXCLUDES(c331_manage::c331_mutex);
    void initMenu() EXCLUDES(c331_manage::c331_mutex);
    QString TextCreate(int window) const;
    bool imagemenu();
    void followFocus() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void image_select() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void on_Button_source_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void para_uiselect_init() EXCLUDES(c331_manage::c331_mutex);
    int source_current_check();
    int inUsePosition() const EXCLUDES(c331_manage::c331_mutex);
    void source_name_update();
    void source_check_update() EXCLUDES(ZemRamPara::pInstance()->mutex);
    void input_source_changed(int window);
    int tabOf(int window) const;
    void placeTabFocus();
    void moveInList(int step) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    // The list entry with the focus at level 2 (0 the whole source, then the crops).
    int listEntry() const;
    void zem_button_inputcut_clicked();
    void zem_button_EDID_clicked();
};

extern InputChoose* g_inputchoose;
