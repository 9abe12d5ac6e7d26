// The window layout page (page 9), read-only: one output window at a time, its name, source,
// state, position and size, mirror mode and point-to-point mode. Left and Right choose the
// window shown, which becomes the window the keypad acts on.
#pragma once

#include <QDialog>
#include <cstdint>

#include "core/zem_ram_para.h"
#include "ui/shell/panel_frame.h"

namespace Ui {
class ImageLayout;
}

class ImageLayout : public PanelPage<QDialog, ImageLayout> {
    Q_OBJECT

public:
    explicit ImageLayout(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~ImageLayout() override;

    void language_changed() override EXCLUDES(c331_manage::c331_mutex);
    void syncUpdate() EXCLUDES(c331_manage::c331_mutex);
    void image_init() EXCLUDES(c331_manage::c331_mutex);
    void image_para_update() EXCLUDES(c331_manage::c331_mutex);
    void mirror_select(int mode);

    uint8_t ui_select = 0;  // the window shown
    Ui::ImageLayout* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void languageRefresh() override EXCLUDES(c331_manage::c331_mutex);
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex) { showWindow(-1); }
    void keyRight() override EXCLUDES(c331_manage::c331_mutex) { showWindow(+1); }
    void keyOk() override {}
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }
    int focusIndex() const override { return ui_select; }

private:
    void menulist_init();
    void showWindow(int step) EXCLUDES(c331_manage::c331_mutex);
    void redraw() EXCLUDES(c331_manage::c331_mutex);
    int word(int offset) const EXCLUDES(c331_manage::c331_mutex);
    int p2pShown() const
        EXCLUDES(c331_manage::c331_mutex);  // the point-to-point item of the shown window's words

    // The shown window's block as last drawn; a refresh redraws when it changed.
    uint8_t drawn[ZemRamPara::kWindowStride] = {};
};

extern ImageLayout* g_imagelayout;
