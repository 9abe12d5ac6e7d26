// The serial link page (page 21): the serial port's fixed settings, 115200 baud, 8 data bits,
// 1 stop bit. Read-only: only Back and Mode act.
#pragma once

#include <QDialog>

#include "ui/shell/panel_frame.h"

namespace Ui {
class linkcom;
}

class linkcom : public PanelPage<QDialog, linkcom> {
    Q_OBJECT

public:
    explicit linkcom(QWidget* parent = nullptr);
    ~linkcom() override;

    void language_changed() override;

    Ui::linkcom* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }
};

extern linkcom* g_linkcom;
