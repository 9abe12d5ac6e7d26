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
    explicit temperature(QWidget* parent = nullptr) EXCLUDES(c331_manage::c331_mutex);
    ~temperature() override;

    void language_changed() override;
    void syncUpdate() EXCLUDES(c331_manage::c331_mutex);
    void para_init() EXCLUDES(c331_manage::c331_mutex);
    void on_button_type_clicked() EXCLUDES(c331_manage::c331_mutex);

    uint8_t preset = 0;        // the preset the list shows
    uint8_t saved_preset = 0;  // the preset when its edit began (Back restores it)
    Ui::temperature* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

protected:
    void languageRefresh() override EXCLUDES(c331_manage::c331_mutex);
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex);
    void keyRight() override EXCLUDES(c331_manage::c331_mutex);
    void keyOk() override EXCLUDES(c331_manage::c331_mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

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
