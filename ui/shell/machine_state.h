// The device status page (page 2), read-only: the serial number, the program's and each FPGA's
// version, the signal of the six inputs and the link of the 20 LED output ports.
#pragma once

#include <QDialog>

#include "ui/shell/panel_frame.h"

class QFrame;
namespace Ui {
class MachineState;
}

class MachineState : public PanelPage<QDialog, MachineState> {
    Q_OBJECT

public:
    explicit MachineState(QWidget* parent = nullptr) EXCLUDES(ZemRamPara::pInstance()->mutex);
    ~MachineState() override;

    void language_changed() override;
    void syncUpdate(int id) EXCLUDES(ZemRamPara::pInstance()->mutex);
    void version_changed();
    void source_check() EXCLUDES(ZemRamPara::pInstance()->mutex);
    void initWlan();

    QFrame* port_strip = nullptr;  // rebuilt on every link change
    Ui::MachineState* ui;

public slots:
    void on_Button_back_clicked() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyOk() override {}
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
};

extern MachineState* g_machinestate;
