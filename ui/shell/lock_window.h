// The home screen (page 0): LED screen size, IP address, brightness, contrast, sound, and one
// tile per video window (number, source, signal, black, freeze, the current window). Shown
// over the main menu at start and after Back there; OK or a touch leads to the main menu,
// Mode to the user-mode page. It changes no parameter.
#pragma once

#include <QDialog>

#include "ui/shell/panel_frame.h"

class QFrame;
class QLabel;
namespace Ui {
class LockWindow;
}

class LockWindow : public PanelPage<QDialog, LockWindow> {
    Q_OBJECT

public:
    explicit LockWindow(QWidget* parent = nullptr) EXCLUDES(ZemRamPara::pInstance()->mutex);
    ~LockWindow() override;

    void syncUpdate() EXCLUDES(ZemRamPara::pInstance()->mutex);
    void language_changed() override EXCLUDES(ZemRamPara::pInstance()->mutex);
    void para_init();
    bool volume_check() const;
    void image_init() EXCLUDES(ZemRamPara::pInstance()->mutex);
    void ip_changed();

    QFrame* tiles = nullptr;  // the six window tiles, each rebuilt when what it shows changes
    Ui::LockWindow* ui;

public slots:
    void on_main_Button_clicked() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyLeft() override {}
    void keyRight() override {}
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override {}

private:
    // What a window's tile shows.
    struct TileLook {
        bool current = false, shown = false, frozen = false;
        QString name, status;
        bool operator==(const TileLook& o) const {
            return current == o.current && shown == o.shown && frozen == o.frozen &&
                   name == o.name && status == o.status;
        }
    };
    void ledSizeText();
    TileLook tileLook(int w, uint16_t closeLed) const EXCLUDES(ZemRamPara::pInstance()->mutex);
    void buildTile(int w, const TileLook& look);
    void updateTiles() EXCLUDES(ZemRamPara::pInstance()->mutex);

    TileLook tileShows[6];
    QLabel* tileLabels[6][3] = {};  // badge, name and status of each tile, in the tile frame
};

extern LockWindow* g_lockwindow;
