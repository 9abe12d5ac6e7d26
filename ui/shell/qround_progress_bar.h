// The progress ring a page shows while a long job of the FPGA thread runs. One ring at a time,
// held in g_qround_bar; the job's progress reaches para_sync through the page's queued signal,
// and a value above 99 closes the ring.
#pragma once

#include <QPointer>
#include <QWidget>

class QDialog;

class QRoundProgressBar : public QWidget {
    Q_OBJECT

public:
    enum BarStyle { StyleDonut = 0 };

    QRoundProgressBar(QWidget* parent, BarStyle style);

    // Shows a new ring on the page unless one is shown already.
    static void create_qround_bar(QDialog* page);
    void setValue(int value);
    double value() const { return value_; }

public slots:
    // The job's progress 0..99 moves the ring named by g_qround_bar; above 99 closes it.
    void para_sync(int progress);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    static constexpr double kMinimum = 0;
    static constexpr double kMaximum = 100;
    static constexpr double kStartAngle = 90;  // the top of the ring
    static constexpr int kDecimals = 0;
    double value_ = 0;
    BarStyle style_;
};

// Clears itself when the page deletes its ring.
extern QPointer<QRoundProgressBar> g_qround_bar;
