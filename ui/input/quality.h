// The picture quality page (page 19): brightness, sharpness, contrast and saturation, each
// 0..100 and followed by the picture as it is stepped, and the Reset row for the defaults.
#pragma once

#include <QDialog>

#include "ui/input/picture_value.h"
#include "ui/shell/panel_frame.h"

namespace Ui {
class quality;
}

class quality : public PanelPage<QDialog, quality> {
    Q_OBJECT

public:
    explicit quality(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~quality() override;

    void language_changed() override;
    void syncUpdate() EXCLUDES(c331_manage::c331_mutex);
    void para_init() EXCLUDES(c331_manage::c331_mutex);
    void on_Button_reset_clicked() EXCLUDES(c331_manage::c331_mutex);

    Ui::quality* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex);
    void keyRight() override EXCLUDES(c331_manage::c331_mutex);
    void keyOk() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

private:
    enum { kResetRow = 4 };
    void menulist_init();
    // The RAM word of the row in focus (-1 for Reset).
    int rowWord() const;
    QLineEdit* valueField(int row) const;

    PictureEdit edit;
};

extern quality* g_quality;
