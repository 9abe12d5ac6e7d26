// The Ethernet address page (page 22): eth0's address, netmask and gateway as three rows of
// four octet fields, each typed on the number keypad, applied together to the configuration
// and eth0. An octet above 255 or an empty one is refused at the keypad and its field marked
// red; Apply refuses a row that is not an address (one loaded from a configuration file changed
// by other means) and marks it red.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class My_lineEdit;
class QLabel;
namespace Ui {
class linkwlan;
}

class linkwlan : public PanelPage<QDialog, linkwlan> {
    Q_OBJECT

public:
    static constexpr int kRows = 3;  // address, netmask, gateway
    static constexpr int kOctets = 4;
    static constexpr int kApply = kRows * kOctets;  // focus index of Apply; Cancel follows

    explicit linkwlan(QWidget* parent = nullptr);
    ~linkwlan() override;

    void language_changed() override;
    void on_Button_net_apply_clicked();

    Ui::linkwlan* ui;

public slots:
    void slot_Button_back_clicked()
        EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void confirmString(QString typed);
    void show_numberkeyboard_ui(QString);

protected:
    void keyOk() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex) {
        slot_Button_back_clicked();
    }

private:
    void menulist_init();
    void fillRow(int row, const QString& address);
    QString rowText(int row) const;
    void markRow(int row, bool bad);
    void markField(const QWidget* field, bool bad);

    My_lineEdit* fields[kRows][kOctets] = {};
    QLabel* row_labels[kRows] = {};
    uint16_t bad_fields = 0;  // bit r * kOctets + o: the octet typed last was refused
};

extern linkwlan* g_linkwlan;
