#include "ui/shell/lock_window.h"

#include <QKeyEvent>

#include "core/zem_ram_para.h"
#include "ui/shell/main_window.h"
#include "ui_lock_window.h"

LockWindow* g_lockwindow = nullptr;

ZEM_PANEL_PAGE(kPageHome, g_lockwindow);

LockWindow::LockWindow(QWidget* parent)
    : QDialog(parent), PageFrame(this, "LockWindow"), ui(new Ui::LockWindow) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFixedSize(320, 240);
    language_changed();
}

LockWindow::~LockWindow() {
    delete ui;
}

void LockWindow::syncUpdate() {
    if (ZemRamPara::p_zemrampara_config->ZemLanguageChanged() == 1) language_changed();
}

void LockWindow::refreshPage(int) {
    syncUpdate();
}

void LockWindow::language_changed() {}

void LockWindow::keyPressEvent(QKeyEvent* e) {
    tracePress(e->key());
}

void LockWindow::keyReleaseEvent(QKeyEvent* e) {
    dispatchKey(e->key());
}

void LockWindow::keyOk() {
    on_main_Button_clicked();
}

// The home screen goes and the main menu, re-texted, comes to the front.
void LockWindow::on_main_Button_clicked() {
    panel::back(this, kPageHome, kPageMain);
}
