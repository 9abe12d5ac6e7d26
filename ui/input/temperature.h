// The colour temperature page (page 20): the preset (custom, warm, natural, cool), written when
// OK ends its edit, and the red, green and blue gains, stepped as on the picture quality page.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/input/picture_value.h"
#include "ui/shell/panel_frame.h"

namespace Ui {
class temperature;
}

class temperature : public PanelPage<QDialog, temperature> {
    Q_OBJECT

public:
    explicit temperature(QWidget* parent = nullptr);
    ~temperature() override;

    void language_changed() override;
    void syncUpdate();
    void para_init();
    void on_button_type_clicked();

    uint8_t preset = 0;        // the preset the list shows
    uint8_t saved_preset = 0;  // the preset when its edit began (Back restores it)
    Ui::temperature* ui;

public slots:
    void slot_Button_back_clicked();

protected:
    void languageRefresh() override;
    void keyLeft() override;
    void keyRight() override;
    void keyOk() override;
    void keyBack() override;

private:
    enum { kPresetRow = 0 };
    void menulist_init();
    void fillPresets();
    void showPreset();
    void turnPreset(int step);
    void endPresetEdit();
    int rowWord() const;
    QLineEdit* gainField(int row) const;

    uint8_t preset_editing = 0;
    PictureEdit edit;
};

extern temperature* g_temperature;
