// The communication menu (page 10): serial link, Ethernet and USB upgrade. Keys only: its
// entries are not the buttons' slots, so a touch opens nothing.
#pragma once

#include <QDialog>

#include "ui/input/sub_menu.h"

namespace Ui {
class LinkOption;
}

class LinkOption : public PanelPage<QDialog, LinkOption> {
    Q_OBJECT

public:
    explicit LinkOption(QWidget* parent = nullptr);
    ~LinkOption() override;

    void language_changed() override;
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        panel::back(this);
    }
    void on_Button_linkcom_clicked();
    void on_Button_linkwlan_clicked();
    void on_Button_firmware_usbgrade_clicked();

    Ui::LinkOption* ui;

protected:
    void keyOk() override { menu.open(focus.ui_select); }
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    SubMenu menu;
};

extern LinkOption* g_linkoption;
