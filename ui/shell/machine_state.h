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
    explicit MachineState(QWidget* parent = nullptr);
    ~MachineState() override;

    void language_changed() override;
    void syncUpdate(int id);
    void version_changed();
    void source_check();
    void initWlan();

    QFrame* port_strip = nullptr;  // rebuilt on every link change
    Ui::MachineState* ui;

public slots:
    void on_Button_back_clicked();

protected:
    void keyOk() override {}
    void keyBack() override;
};

extern MachineState* g_machinestate;
