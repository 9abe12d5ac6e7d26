// The options menu (page 5): eight picture buttons in two rows, each opening a settings page.
// It reads and writes no parameter. Smart mapping opens by OK only (its button stays disabled);
// a USB disk mounted while it is in front closes it.
#pragma once

#include <QDialog>
#include <cstdint>

#include "ui/shell/panel_frame.h"

namespace Ui {
class Option;
}

class Option : public PanelPage<QDialog, Option> {
    Q_OBJECT

public:
    explicit Option(QWidget* parent = nullptr);
    ~Option() override;

    void syncUpdate(int id) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void language_changed() override;
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

    uint8_t smart_mapping_valid = 0;  // Smart mapping may be opened
    Ui::Option* ui;

public slots:
    void on_output_set_clicked();
    void on_input_cut_clicked();
    void on_image_layout_clicked();
    void on_link_set_clicked();
    void on_image_quality_clicked();
    void on_test_chart_clicked();
    void on_smart_mapping_clicked();
    void on_AdvanceButton_clicked();

protected:
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }
};

extern Option* g_option;
