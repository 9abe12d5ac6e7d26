// The output menu (page 6): LED screen set-up and the output ports, with the LED screen size.
#pragma once

#include <QDialog>

#include "ui/input/sub_menu.h"

namespace Ui {
class OutputSet;
}

class OutputSet : public PanelPage<QDialog, OutputSet> {
    Q_OBJECT

public:
    explicit OutputSet(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~OutputSet() override;

    void language_changed() override EXCLUDES(c331_manage::c331_mutex);
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        panel::back(this);
    }

    Ui::OutputSet* ui;

public slots:
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();

protected:
    void keyOk() override { menu.open(focus.ui_select); }
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    SubMenu menu;
};

extern OutputSet* g_outputset;
