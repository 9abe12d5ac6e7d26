// The home screen (page 0): shown over the main menu at start and after Back on the main menu.
// OK, a touch or main_Button leads to the main menu; Mode to the user-mode page.
#pragma once

#include <QDialog>

#include "ui/shell/panel_frame.h"

namespace Ui {
class LockWindow;
}

class LockWindow : public QDialog, public PageFrame {
    Q_OBJECT

public:
    explicit LockWindow(QWidget* parent = nullptr);
    ~LockWindow() override;

    void syncUpdate();
    void refreshPage(int id) override;
    void language_changed() override;

public slots:
    void on_main_Button_clicked();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void keyOk() override;
    void keyBack() override {}

private:
    Ui::LockWindow* ui;
};

extern LockWindow* g_lockwindow;
