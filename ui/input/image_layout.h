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
    explicit ImageLayout(QWidget* parent = nullptr);
    ~ImageLayout() override;

    void language_changed() override;
    void syncUpdate();
    void image_init();
    void image_para_update();
    void mirror_select(int mode);

    uint8_t ui_select = 0;  // the window shown
    Ui::ImageLayout* ui;

public slots:
    void slot_Button_back_clicked();

protected:
    void languageRefresh() override;
    void keyLeft() override { showWindow(-1); }
    void keyRight() override { showWindow(+1); }
    void keyOk() override {}
    void keyBack() override { slot_Button_back_clicked(); }
    int focusIndex() const override { return ui_select; }

private:
    void menulist_init();
    void showWindow(int step);
    void redraw();
    int word(int offset) const;
    int p2pShown() const;  // the point-to-point item of the shown window's words

    // The shown window's block as last drawn; a refresh redraws when it changed.
    uint8_t drawn[ZemRamPara::kWindowStride] = {};
};

extern ImageLayout* g_imagelayout;
