// The upgrade overlay: its opening and closing, its animation by the main tick, its texts, and
// the two upgrade paths (the PC's register 9 over TCP, the USB job) each keeping the other's
// overlay up, the keys it takes and when it is raised; a PC update whose PC has gone ends. The
// animation and the ends keep their times when one call of the tick counts several ticks.
#include "ui/system/firmware_update.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QThread>
#include <QWindow>
#include <QtTest/QTest>

#include "box_links.h"
#include "comm/network_manage.h"
#include "comm/pc_update.h"
#include "comm/udpnet_manage.h"
#include "core/globals.h"
#include "page_driver.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/panel_view.h"
#include "ui/shell/tip.h"

namespace {

class Overlay : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        startPanel();
    }
    void TearDown() override {
        stopBoxLinks();
        PanelTest::TearDown();
    }
    // A PC update: register 9 written with value over TCP, then the queued requests run.
    void pcRegister9(Link& pc, uint8_t value) {
        pc.ask(writeReg(9, 0xFF, {value}));
        settle();
    }
    static QString overlayText() { return g_move_update->text_label->text(); }
    // The tick before the watch ends the PC's update keeps its overlay; the next one ends it:
    // the overlay goes, the panel's tip says so, and the console says why.
    void expectEndsAfter(int ticks, const std::string& why) {
        // Checked without running events: an update ended early has queued its tip, whose loop
        // only the session's ticks end.
        tick(ticks - 1);
        EXPECT_EQ(int(g_update_flag), int(kUpdateByPc)) << "ended before " << ticks << " ticks";
        LogTestHooks::forget();
        testing::internal::CaptureStderr();
        session({[this] { tick(1); }, Item::until([] { return g_tip->isVisible(); }),
                 [this] {
                     EXPECT_EQ(g_move_update, nullptr);
                     EXPECT_EQ(g_update_flag, 0);
                     EXPECT_EQ(g_tip->content()->findChild<QLabel*>()->text(),
                               "The update did not finish.");
                     shot("unfinished");
                     tick(TIP::kShowTicks);
                 }},
                2000);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("PC update ended unfinished: " + why), std::string::npos) << said;
    }
    // A transfer's start that starts no update.
    const Bytes kAliasStart = body(0x80, cat({{'A', 'L', 'I', 'S'}, le32(3), {0}}));
    // A frame that changes nothing: the link is alive.
    static void alive(Link& link) { EXPECT_EQ(link.ask(readRam(0, 2)).at(10), 0); }
};

// Counts the times a window is raised.
struct RaiseCounter : QObject {
    int raises = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::ZOrderChange) ++raises;
        return false;
    }
};

TEST_F(Overlay, OneOverlayForTwoStartsAndAFreshOneAfterTheEnd) {
    firmware_update_over();  // nothing to close
    EXPECT_EQ(g_move_update, nullptr);
    firmware_update_start();
    FirmwareUpdate* first = g_move_update;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->geometry(), QRect(g_mainwindow->pos(), QSize(320, 240)));
    g_update_flag = kUpdateByPc;
    tick(150);
    firmware_update_start();
    EXPECT_EQ(g_move_update, first) << "the same overlay, its animation kept";
    EXPECT_NE(first->icon_label->y(), FirmwareUpdate::kIconTop);
    g_update_flag = 0;
    firmware_update_over();
    settle();
    EXPECT_EQ(g_move_update, nullptr);
    firmware_update_start();
    EXPECT_EQ(g_move_update->icon_label->y(), FirmwareUpdate::kIconTop);
    EXPECT_EQ(g_move_update->direction, 1);
    EXPECT_EQ(overlayText(), "Updating ");
    shot("shown");
}

TEST_F(Overlay, TheTickMovesTheIconWithinItsRangeAndAddsADotEachSecond) {
    firmware_update_start();
    g_update_flag = kUpdateByPc;
    std::vector<int> ys;
    for (int i = 0; i < 448; ++i) {  // two full cycles
        tick(1);
        ys.push_back(g_move_update->icon_label->y());
    }
    EXPECT_EQ(*std::min_element(ys.begin(), ys.end()), FirmwareUpdate::kIconTop);
    EXPECT_EQ(*std::max_element(ys.begin(), ys.end()), FirmwareUpdate::kIconBottom);
    EXPECT_EQ(ys[1], 61) << "one pixel per 20 ms";
    EXPECT_EQ(ys[111], 116);
    EXPECT_EQ(ys[113], 115) << "turns at the bottom";
    EXPECT_EQ(ys[223], 60);
    EXPECT_EQ(ys[225], 61) << "turns at the top";
    // G_timeTicks is 448: four text steps so far, the text at "." ...
    EXPECT_EQ(overlayText(), "Updating .");
    struct Step {
        const char* text;
        int x, w;
    };
    const Step steps[] = {{"Updating ..", 88, 143}, {"Updating ...", 82, 156}};
    for (const Step& s : steps) {
        tick(100);
        EXPECT_EQ(overlayText(), s.text);
        EXPECT_EQ(g_move_update->text_label->geometry(), QRect(s.x, 200, s.w, 17));
    }
    shot("dots");
    // With the flag clear the overlay stands still.
    g_update_flag = 0;
    const int y = g_move_update->icon_label->y();
    tick(10);
    EXPECT_EQ(g_move_update->icon_label->y(), y);
}

// A main thread kept busy counts several ticks in one call: the overlay is then where the ticks
// one by one would have put it.
TEST_F(Overlay, TicksCountedSeveralAtOnceLeaveTheAnimationWhereOneByOneWould) {
    struct Frame {
        int y;
        QString text;
        bool operator==(const Frame& o) const { return y == o.y && text == o.text; }
    };
    constexpr uint32_t kTicks = 1500;
    // A fresh overlay from tick 0, then its frame after each call of `step` ticks.
    auto run = [this](uint32_t step) {
        g_update_flag = 0;
        firmware_update_over();
        settle();
        G_timeTicks = 0;
        firmware_update_start();
        g_update_flag = kUpdateByPc;
        tickStep(step);
        std::vector<Frame> frames;
        for (uint32_t t = 0; t < kTicks; t += step) {
            tick(1);
            frames.push_back({g_move_update->icon_label->y(), overlayText()});
        }
        return frames;
    };
    const std::vector<Frame> oneByOne = run(1);
    for (uint32_t step : {2u, 3u, 7u, 100u, 113u, 250u}) {
        SCOPED_TRACE(testing::Message() << step << " ticks a call");
        const std::vector<Frame> frames = run(step);
        for (size_t call = 0; call < frames.size(); ++call) {
            const size_t tick = (call + 1) * step;
            if (tick > oneByOne.size()) break;
            ASSERT_TRUE(frames[call] == oneByOne[tick - 1])
                << "at tick " << tick << ": y " << frames[call].y << " for " << oneByOne[tick - 1].y
                << ", " << frames[call].text.toStdString() << " for "
                << oneByOne[tick - 1].text.toStdString();
        }
    }
}

// A PC update whose TCP client closed ends at the call that passes its 10 s, however many
// ticks a call counts.
TEST_F(Overlay, APcUpdateEndsAtTheCallThatPasses10sAfterItsClientClosed) {
    std::unique_ptr<Link> other = startBoxLink(Via::Tcp);
    networkManage* server = networkManage::p_networkManage;
    for (uint32_t step : {7u, 999u}) {
        SCOPED_TRACE(testing::Message() << step << " ticks a call");
        tickStep(1);
        {
            TcpLink pc(server->port);
            ASSERT_EQ(pc.ask(writeReg(9, 0xFF, {0x20})).at(10), 0);
            settle();
            ASSERT_NE(g_move_update, nullptr);
        }
        ASSERT_TRUE(eventually([&] { return server->clients == 1; }));
        tickStep(step);
        expectEndsAfter(int((pc_update::kClosedTicks + step - 1) / step),
                        "its TCP client closed, no update frame for 10 s");
    }
}

TEST_F(Overlay, ChineseWhereInForceElseEnglish) {
    struct Case {
        int language;
        uint8_t valid;
        const char* base;
        int width;
    };
    const Case cases[] = {{0, 0x1F, "升级中，请勿断电 ", 13 * 9},
                          {4, 0x1F, "升級中，請勿斷電 ", 13 * 9},
                          {0, 0x1E, "Updating ", 15 * 9},
                          {2, 0x1F, "Updating ", 15 * 9},
                          {3, 0x1F, "Updating ", 15 * 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        g_language = uint8_t(c.language);
        g_lcd_lang_valid = c.valid;
        firmware_update_start();
        EXPECT_EQ(overlayText(), QString::fromUtf8(c.base));
        EXPECT_EQ(g_move_update->text_label->width(), c.width);
        EXPECT_EQ(g_move_update->text_label->x(), (320 - c.width) / 2);
        shot(QString("language-%1").arg(c.language));
        firmware_update_over();
        settle();
    }
}

// Nothing opens a loop under the overlay: a page, a tip or the keypad asked for meanwhile stays
// shut, and the overlay stays the one modal window on top.
TEST_F(Overlay, NoPageTipOrKeypadOpensUnderIt) {
    RaiseCounter watch;
    firmware_update_start();
    g_update_flag = kUpdateByPc;
    session({[] { g_mainwindow->on_inputchoose_clicked(); }, [] { g_tip->tip_create(3); },
             [] { g_numberkeyboard->open_for(nullptr, nullptr, "key", "**********"); },
             [this] {
                 EXPECT_EQ(QThread::currentThread()->loopLevel(), 0) << "a loop opened under it";
                 EXPECT_EQ(g_page_focus, kPageHome);
                 EXPECT_FALSE(g_tip->isVisible());
                 EXPECT_FALSE(g_numberkeyboard->isVisible());
                 EXPECT_EQ(QApplication::activeModalWidget(), g_move_update);
                 shot("nothing-opened");
             }});
    EXPECT_TRUE(g_move_update->isVisible());
}

// A list a touch opened on the page closes as the overlay comes (an open list would take every
// key), and the overlay is the modal window on top.
TEST_F(Overlay, AListOpenOnThePageClosesUnderIt) {
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageImageLayout); },
             [this] {
                 auto* list = widget<QComboBox>("comboBox_P2P");
                 ASSERT_NE(list, nullptr);
                 touch(panelPoint(list));
                 settle();
                 ASSERT_NE(QApplication::activePopupWidget(), nullptr) << "the list did not open";
                 firmware_update_start();
                 g_update_flag = kUpdateByPc;
                 EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
                 EXPECT_EQ(QApplication::activeModalWidget(), g_move_update);
                 shot("list-closed");
                 g_update_flag = 0;
                 firmware_update_over();
                 settle();
                 key(kKeyBack);
             }});
}

// The box's keys come through the platform to whichever window it gives the focus: the page's,
// a tip's shown before the upgrade, or the focus window. Modal to the panel, the overlay blocks
// them all, also after a refresh that would open the link page's tip. (QTest runs the events a
// key causes, the session's next step among them: each step after keys waits for their end.)
TEST_F(Overlay, NoKeyReachesAWindowBeneathItWhateverHasTheFocus) {
    const int keys[] = {kKeyLeft,
                        kKeyRight,
                        kKeyOk,
                        kKeyMode,
                        kKeyBack,
                        'Q',
                        'S',
                        'R',
                        'M',
                        'O',
                        'A',
                        'J',
                        'P',
                        '0',
                        '5',
                        '9',
                        Qt::Key_Escape,
                        Qt::Key_Return};
    QPointer<QWidget> page;
    // The link page's entry with the focus style.
    const auto focused = [&page]() -> QString {
        for (QWidget* w : page->findChildren<QWidget*>())
            if (panel_style::stateOf(w) == panel_style::kFocus) return w->objectName();
        return QString();
    };
    QString focusedBefore;
    const auto deliver = [&](QWindow* window, const char* which) {
        SCOPED_TRACE(which);
        ASSERT_NE(window, nullptr);
        for (int k : keys) {
            const QString text = k < Qt::Key_Escape ? QString(QChar(k)) : QString();
            QTest::sendKeyEvent(QTest::Click, window, Qt::Key(k), text, Qt::NoModifier);
        }
        settle();
        EXPECT_EQ(g_page_focus, kPageLinkOption) << "a key moved the panel";
        ASSERT_FALSE(page.isNull()) << "a key closed the page";
        EXPECT_EQ(focused(), focusedBefore) << "a key moved the page's focus";
        ASSERT_NE(g_move_update, nullptr);
        EXPECT_TRUE(g_move_update->isVisible()) << "a key closed the overlay";
        EXPECT_EQ(QApplication::activeModalWidget(), g_move_update);
    };
    bool keysDone = false;
    session({[] { panel::openRegistered(kPageLinkOption); },
             [&] {
                 ASSERT_EQ(g_page_focus, kPageLinkOption);
                 page = panel::front()->widget();
                 focusedBefore = focused();
                 g_tip->tip_create(3);  // its loop, over the page
             },
             [&] {
                 ASSERT_TRUE(g_tip->isVisible());
                 firmware_update_start();
                 g_update_flag = kUpdateByPc;
                 deliver(page->windowHandle(), "page");
                 deliver(g_tip->windowHandle(), "tip");
                 EXPECT_TRUE(g_tip->isVisible()) << "a key closed the tip";
                 deliver(QGuiApplication::focusWindow(), "focus");
                 shot("over-page-and-tip");
                 tick(TIP::kShowTicks);  // the tip's time: its loop returns
                 keysDone = true;
             },
             Item::until([&keysDone] { return keysDone; }),
             [this] { refresh(1); },  // the link page's refresh asks for its tip
             [&] {
                 EXPECT_FALSE(g_tip->isVisible()) << "a tip opened under the overlay";
                 EXPECT_EQ(g_tip_flag, 0);
                 deliver(page->windowHandle(), "page after the refresh");
                 deliver(g_tip->windowHandle(), "tip after the refresh");
                 deliver(QGuiApplication::focusWindow(), "focus after the refresh");
                 shot("after-refresh");
                 g_update_flag = 0;
                 firmware_update_over();
                 settle();
                 key(kKeyBack);
                 EXPECT_NE(g_page_focus, kPageLinkOption) << "keys reach the page again";
             }});
}

// The overlay watches no window of the others: the panel's keys are sent to it and end there,
// and it is raised over a page opened later only while it shows.
TEST_F(Overlay, TakesThePanelsKeysAndIsRaisedOnlyWhileShown) {
    RaiseCounter watch;
    firmware_update_start();
    g_update_flag = kUpdateByPc;
    EXPECT_EQ(panel::keyWindow(), g_move_update->windowHandle());
    for (int k : {int(kKeyOk), int(kKeyMode), int(Qt::Key_Escape), int(Qt::Key_Return)}) key(k);
    EXPECT_EQ(g_page_focus, kPageHome) << "a key reached the home screen under the overlay";
    EXPECT_TRUE(g_move_update->isVisible()) << "a key closed the overlay";
    g_move_update->hide();
    g_move_update->installEventFilter(&watch);
    session({[] { g_mainwindow->on_inputchoose_clicked(); },
             [] {},  // what the page's showing queued has run
             [this, &watch] {
                 EXPECT_EQ(watch.raises, 0) << "raised while hidden";
                 panel::back(panel::front());
             }});
    g_move_update->removeEventFilter(&watch);
}

TEST_F(Overlay, APcUpdateOverTcpShowsAndRemovesItsOverlayButNotAUsbOne) {
    std::unique_ptr<Link> pc = startBoxLink(Via::Tcp);
    pcRegister9(*pc, 0x20);
    ASSERT_NE(g_move_update, nullptr);
    EXPECT_EQ(g_update_flag, kUpdateByPc);
    tick(4);
    EXPECT_EQ(g_move_update->icon_label->y(), 62) << "the tick animates it";
    pcRegister9(*pc, 15);
    EXPECT_EQ(g_move_update, nullptr);
    EXPECT_EQ(g_update_flag, 0);

    // A USB upgrade's overlay: the PC's start and end leave it.
    g_update_flag |= kUpdateByUsb;
    firmware_update_start();
    FirmwareUpdate* usb = g_move_update;
    pcRegister9(*pc, 0x20);
    pcRegister9(*pc, 3);
    EXPECT_EQ(g_move_update, usb);
    EXPECT_EQ(g_update_flag, kUpdateByUsb);
    pcRegister9(*pc, 3);  // an end with no PC update running
    EXPECT_EQ(g_move_update, usb);
    shot("usb-kept");
}

// The PC that started an update is watched on its own link: 60 s without a frame from it end
// the update, whatever other links send; each of its frames starts the 60 s again. Two UDP
// peers are two links.
TEST_F(Overlay, APcUpdateEndsWhenItsLinkIsSilentFor60s) {
    std::unique_ptr<Link> tcp = startBoxLink(Via::Tcp);
    std::unique_ptr<Link> udp = startBoxLink(Via::Udp);
    TcpLink tcp2(networkManage::p_networkManage->port, "127.0.0.2");
    UdpLink udp2(udpnetManage::p_udpnetManage->port);
    struct Case {
        const char* name;
        Link* starter;
        Link* other;
    };
    const Case cases[] = {{"TCP", tcp.get(), &tcp2}, {"UDP", udp.get(), &udp2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.starter->ask(writeReg(10, 0xFF, {0x01})).at(10), 0);
        settle();
        ASSERT_NE(g_move_update, nullptr);
        tick(5999);
        EXPECT_EQ(int(g_update_flag), int(kUpdateByPc)) << "ended after 59.99 s of silence";
        alive(*c.starter);  // the 60 s start again
        tick(3000);
        alive(*c.other);
        // Update frames, but not of the starting link (a transfer that is closed again).
        EXPECT_EQ(c.other->ask(kAliasStart).at(10), 0);
        EXPECT_EQ(c.other->ask(body(0x82, Bytes(16, 0))).at(10), 1);
        expectEndsAfter(3000, "its link sent nothing for 60 s");
    }
}

// A PC update whose TCP client closed ends 10 s after the close, or after the last update frame
// of any link; nothing of a program half received is installed.
TEST_F(Overlay, APcUpdateEnds10sAfterItsTcpClientClosed) {
    std::unique_ptr<Link> other = startBoxLink(Via::Tcp);
    networkManage* server = networkManage::p_networkManage;
    const Bytes piece = body(0x81, cat({le32(0), le16(4), {1, 2, 3, 4}}));
    struct Case {
        const char* name;
        std::vector<Bytes> frames;  // of the PC that closes
        int lateFrame;              // ticks after the close to another link's piece, 0 none
    };
    const Case cases[] = {
        {"half a program", {body(0x80, cat({{'F', 'M', 'C', 'U'}, le32(8), {0}})), piece}, 0},
        {"register 9", {writeReg(9, 0xFF, {0x20})}, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            TcpLink pc(server->port);
            for (const Bytes& f : c.frames) ASSERT_EQ(pc.ask(f).at(10), 0);
            settle();
            ASSERT_NE(g_move_update, nullptr);
        }
        ASSERT_TRUE(eventually([&] { return server->clients == 1; }));
        if (c.lateFrame) {
            tick(c.lateFrame);
            alive(*other);      // not an update frame
            other->ask(piece);  // refused (not its transfer), yet the update goes on
        }
        expectEndsAfter(1000, "its TCP client closed, no update frame for 10 s");
        EXPECT_FALSE(exists("/data/app/zemT57N2"));
        EXPECT_EQ(other->ask(writeReg(12, 0xFF, {0x01})).at(10), 1) << "nothing to install";
    }
}

}  // namespace
