// The home screen (page 0): shown over the main menu at start. Its contents are built by the
// panel pages.
#pragma once

#include <QDialog>

#include "core/sync_update.h"

class LockWindow : public QDialog, public SyncPage {
    Q_OBJECT

public:
    explicit LockWindow(QWidget* parent = nullptr);

    // Page 0 refresh.
    void syncUpdate();
    void refreshPage(int id) override;
};

extern LockWindow* g_lockwindow;
