// The factory aging log page (page 23): the main tick's aging log eight entries a page, oldest
// first, two lines an entry (one per FPGA) with the status bits as green or red words, and the
// step histograms of register 42. It only reads.
#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <cstdint>

#include "ui/shell/panel_frame.h"

class QLabel;
namespace Ui {
class factoryage;
}

class factoryage : public PanelPage<QDialog, factoryage> {
    Q_OBJECT

public:
    static constexpr int kPerPage = 8;

    explicit factoryage(QWidget* parent = nullptr);
    ~factoryage() override;

    void language_changed() override {}  // the same texts in every language
    void ageloginit();
    void update_agelog();
    // The number of log pages (0 for an empty log).
    static int pageCount();

    int page_index = 0;  // every page of the log can be reached
    QWidget* log_container = nullptr;
    QLabel* log_label = nullptr;
    QString log_text;
    QFont log_font;
    Ui::factoryage* ui;

public slots:
    void on_ButtonNext_clicked();
    void on_ButtonPriv_clicked();

protected:
    void keyBack() override EXCLUDES(c331_manage::c331_mutex, ZemRamPara::pInstance()->mutex);

private:
    void showCounts();
};

extern factoryage* g_factoryage;
