// The picture menu (page 11): picture quality and colour temperature.
#pragma once

#include <QDialog>

#include "ui/input/sub_menu.h"

namespace Ui {
class ImageQuality;
}

class ImageQuality : public PanelPage<QDialog, ImageQuality> {
    Q_OBJECT

public:
    explicit ImageQuality(QWidget* parent = nullptr);
    ~ImageQuality() override;

    void language_changed() override;
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        panel::back(this);
    }

    Ui::ImageQuality* ui;

public slots:
    void on_Button_quality_clicked();
    void on_Button_temperature_clicked();

protected:
    void keyOk() override { menu.open(focus.ui_select); }
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    SubMenu menu;
};

extern ImageQuality* g_imagequality;
