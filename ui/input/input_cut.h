// The crop editor (page 7): a source's entries six a page (the whole source, then its crops in
// crop-number order) under six source tabs, with Add; the add and edit forms take X, Y, W and H
// on the number keypad. Levels: 0 the tabs, 1 the list, 2 the add form, 3 the edit form.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "core/zem_ram_para.h"
#include "ui/shell/panel_frame.h"

class QFrame;
class QLineEdit;
class QPushButton;
namespace Ui {
class InputCut;
}

class InputCut : public PanelPage<QDialog, InputCut> {
    Q_OBJECT

public:
    enum Level : uint8_t { kTabs = 0, kList = 1, kAddForm = 2, kEditForm = 3 };

    explicit InputCut(QWidget* parent = nullptr)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    ~InputCut() override;

    void syncUpdate(int id) EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void language_changed() override;
    void crop_source_num_update();

    uint8_t ui_select = 0;  // level 0: tab; level 1: list position (on page 0, 0 is Add)
    uint8_t level = kTabs;
    uint8_t saved_tab = 0;    // tab left for the list
    uint8_t saved_list = 0;   // list position left for a form
    uint8_t current_pag = 0;  // page of the list shown
    uint8_t last_page = 0;
    uint8_t current_source = 2;  // HDMI1
    uint8_t crop_number = 0;     // entry of the crop in the edit form
    int max_source_info = 1;     // entries of the current source: the whole source and its crops
    uint8_t entry_counts[6] = {};
    QString source_name = "HDMI1";
    QString form_name;
    QFrame* tab_frame = nullptr;
    QFrame* list_frame = nullptr;
    QPushButton* add_button = nullptr;
    QPushButton* cancel_button = nullptr;
    QPushButton* ok_button = nullptr;
    QPushButton* delete_button = nullptr;
    Ui::InputCut* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);

protected:
    void languageRefresh() override
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyLeft() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyRight() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    int focusIndex() const override { return ui_select; }

private:
    int source_current_check();
    void source_init() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void zem_button_input_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void menulist_init();
    void zem_button_add_clicked();
    void zem_button_source_clicked() EXCLUDES(c331_manage::c331_mutex);
    bool zem_button_ok_clicked() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void zem_button_cancel_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void zem_button_delete_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void para_changed_over();
    void openForm(bool edit);
    void afterCropChange() EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void formMessage(const QString& message);
    bool tableFull() const EXCLUDES(c331_manage::c331_mutex);
    int entryAt() const;
    void selectEntry(int entry);
    bool readField(QLineEdit* field, int min, int* value);
    void openKeypad(QLineEdit* field);
    void markFields();
    void buildCell(int k, int entry)
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    QString namePrefix() const;

    FocusRing form_focus;
    int edit_record = -1;  // the record the edit form changes, while its id word is edit_id
    uint16_t edit_id = 0;
    uint8_t bad_fields = 0;  // bit i: field i holds a value the crop cannot take
};

extern InputCut* g_inputcut;
