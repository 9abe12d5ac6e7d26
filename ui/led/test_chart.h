// The test pattern page (page 16): eight full-screen patterns of the video processor, one tile
// each, and Close. OK on a tile puts its pattern on the wall at once; Back and Close take it
// off; the Mode key leaves it on. Keys only.
#pragma once

#include <QDialog>

class QLabel;

#include "ui/shell/panel_frame.h"

namespace Ui {
class test_chart;
}

class test_chart : public PanelPage<QDialog, test_chart> {
    Q_OBJECT

public:
    static constexpr int kTiles = 8;
    static constexpr int kClose = kTiles;  // focus index of Close

    explicit test_chart(QWidget* parent = nullptr);
    ~test_chart() override;

    void language_changed() override;
    void menulist_init();

    Ui::test_chart* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void slot_Button_on_clicked() EXCLUDES(c331_manage::c331_mutex);

protected:
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    QLabel* tile(int t) const;  // the picture of tile t (0..7)
};

extern test_chart* g_test_chart;
