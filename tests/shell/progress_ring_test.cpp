// The progress ring: what it draws at a value, how the job's progress moves and closes it, and
// that the one ring pointer never outlives its ring.
#include <QDialog>
#include <QImage>
#include <memory>
#include <thread>

#include "page_driver.h"
#include "ui/shell/qround_progress_bar.h"

namespace {

const QColor kTrack("#DEE3E7");
const QColor kArc("#2F8DED");

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
           std::abs(a.blue() - b.blue()) < 40;
}

class ProgressRing : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        startPanel();
        // A dialog to carry the ring, as a job page would.
        page.reset(new QDialog(nullptr));
        page->show();
        QRoundProgressBar::create_qround_bar(page.get());
        settle();
    }
    void TearDown() override {
        page.reset();
        PanelTest::TearDown();
    }
    QImage ring() const { return g_qround_bar->grab().toImage(); }
    void progress(int value) {
        g_qround_bar->para_sync(value);
        settle();
    }
    std::unique_ptr<QDialog> page;
};

// The ring's points at the right, bottom and left of its track, as the value grows clockwise
// from the top.
TEST_F(ProgressRing, ArcGrowsClockwiseFromTheTop) {
    struct Case {
        int value;
        bool right, bottom, left;
        const char* shot;
    };
    const Case cases[] = {{0, false, false, false, "0"},
                          {50, true, true, false, "50"},
                          {99, true, true, true, "99"},
                          {-7, false, false, false, "negative"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        progress(c.value);
        EXPECT_EQ(g_qround_bar->value(), std::max(0, c.value));
        const QImage img = ring();
        const QColor right = img.pixelColor(95 * img.width() / 100, img.height() / 2);
        const QColor bottom = img.pixelColor(img.width() / 2, 95 * img.height() / 100);
        const QColor left = img.pixelColor(5 * img.width() / 100, img.height() / 2);
        EXPECT_TRUE(near(right, c.right ? kArc : kTrack)) << right.name().toStdString();
        EXPECT_TRUE(near(bottom, c.bottom ? kArc : kTrack)) << bottom.name().toStdString();
        EXPECT_TRUE(near(left, c.left ? kArc : kTrack)) << left.name().toStdString();
        shot(c.shot);
        // Just left of the top stays track until the ring comes round the left side.
        if (c.left) continue;
        const QColor topLeft = img.pixelColor(40 * img.width() / 100, 5 * img.height() / 100);
        EXPECT_TRUE(near(topLeft, kTrack)) << topLeft.name().toStdString();
    }
}

TEST_F(ProgressRing, TheTextShowsThePercentInGrey) {
    progress(50);
    const QImage img = ring();
    int grey = 0;
    for (int y = 30; y < 70; ++y)
        for (int x = 20; x < 80; ++x)
            if (near(img.pixelColor(x, y), QColor("#606266"))) ++grey;
    EXPECT_GT(grey, 30) << "the percentage is drawn in the middle";
}

TEST_F(ProgressRing, AboveNinetyNineClosesAndLateValuesReachNothing) {
    QPointer<QRoundProgressBar> first = g_qround_bar;
    QRoundProgressBar::create_qround_bar(page.get());
    EXPECT_EQ(g_qround_bar, first) << "a second ring while one is shown is not made";
    EXPECT_EQ(page->findChildren<QRoundProgressBar*>().size(), 1);
    progress(40);
    progress(100);
    EXPECT_TRUE(g_qround_bar.isNull());
    ASSERT_FALSE(first.isNull()) << "a closed ring stays with its page";
    EXPECT_FALSE(first->isVisible());
    shot("closed");
    first->para_sync(60);  // late
    EXPECT_EQ(first->value(), 40);
    QRoundProgressBar::create_qround_bar(page.get());
    EXPECT_NE(g_qround_bar, first) << "the next job makes a new ring";
    EXPECT_EQ(g_qround_bar->value(), 0);
    first->para_sync(30);  // the old ring's slot moves the ring in use
    EXPECT_EQ(g_qround_bar->value(), 30);
}

TEST_F(ProgressRing, ProgressFromAWorkerArrivesQueued) {
    std::thread worker([ring = g_qround_bar.data()] {
        QMetaObject::invokeMethod(ring, "para_sync", Qt::QueuedConnection, Q_ARG(int, 70));
    });
    worker.join();
    EXPECT_EQ(g_qround_bar->value(), 0) << "nothing before the GUI thread runs its events";
    settle();
    EXPECT_EQ(g_qround_bar->value(), 70);
}

TEST_F(ProgressRing, ARingDeletedWithItsPageClearsThePointer) {
    progress(20);
    page.reset();
    EXPECT_TRUE(g_qround_bar.isNull());
    auto other = std::make_unique<QDialog>();
    QRoundProgressBar::create_qround_bar(other.get());
    EXPECT_FALSE(g_qround_bar.isNull()) << "a new page gets its ring";
}

}  // namespace
