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
    explicit quality(QWidget* parent = nullptr);
    ~quality() override;

    void language_changed() override;
    void syncUpdate();
    void para_init();
    void on_Button_reset_clicked();

    Ui::quality* ui;

public slots:
    void slot_Button_back_clicked();

protected:
    void keyLeft() override;
    void keyRight() override;
    void keyOk() override;
    void keyBack() override;

private:
    enum { kResetRow = 4 };
    void menulist_init();
    // The RAM word of the row in focus (-1 for Reset).
    int rowWord() const;
    QLineEdit* valueField(int row) const;

    PictureEdit edit;
};

extern quality* g_quality;
