#include "ui/shell/lock_window.h"

LockWindow* g_lockwindow = nullptr;

ZEM_SYNC_PAGE(0, g_lockwindow);

LockWindow::LockWindow(QWidget* parent) : QDialog(parent) {
    setFixedSize(320, 240);
}

void LockWindow::syncUpdate() {}

void LockWindow::refreshPage(int) {
    syncUpdate();
}
