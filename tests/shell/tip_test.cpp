// The pop-up tip of each type in each language: its words fit the label whole, it goes after its
// 300 ticks however they are counted, and a tip shown again comes in front of a page opened since
// it was first shown.
#include "ui/shell/tip.h"

#include <QGuiApplication>
#include <QLabel>

#include "core/sync_update.h"
#include "page_driver.h"
#include "pc_link.h"
#include "ui/input/input_choose.h"
#include "ui/shell/main_window.h"

namespace {

class Tip : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        startPanel();
        key(kKeyOk);  // the main menu
    }
};

// Counts the tip's raises.
class RaiseWatch : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::ZOrderChange) ++raises;
        return false;
    }
    int raises = 0;
};

TEST_F(Tip, EveryTypeInEveryLanguageReadsWhole) {
    static const char* const kLanguageName[kLanguageCount] = {"zh_CN", "en", "ru", "vi", "zh_TW"};
    for (int type : {3, 4, 5, TIP::kUpdateUnfinished}) {
        for (int lang = 0; lang < kLanguageCount; ++lang) {
            SCOPED_TRACE(testing::Message() << "type " << type << " language " << lang);
            g_language = uint8_t(lang);
            session({[type] { g_tip->tip_create(type); },
                     [this, type, lang] {
                         auto* label = g_tip->content()->findChild<QLabel*>();
                         ASSERT_NE(label, nullptr);
                         label->ensurePolished();
                         const int flags =
                             int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
                         const QRect room = label->contentsRect();
                         const QRect used =
                             QFontMetrics(label->font()).boundingRect(room, flags, label->text());
                         EXPECT_TRUE(room.contains(used))
                             << label->text().toStdString() << ": " << used.width() << " x "
                             << used.height() << " in " << room.width() << " x " << room.height();
                         shot(QString("type%1-%2").arg(type).arg(kLanguageName[lang]));
                         tick(TIP::kShowTicks);
                     }});
        }
    }
    session({[] { g_tip->tip_create(1); },
             [this] {
                 shot("type1");
                 tick(TIP::kShowTicks);
             }});
}

// The tip's 3 s are ticks, however many a call of the tick counts.
TEST_F(Tip, ATipGoesAtTheCallThatPasses300Ticks) {
    for (uint32_t step : {1u, 7u, 150u, 299u, 1000u}) {
        SCOPED_TRACE(testing::Message() << step << " ticks a call");
        tickStep(step);
        const int calls = int((TIP::kShowTicks + step - 1) / step);
        session({[] { g_tip->tip_create(1); },
                 [this, calls] {
                     tick(calls - 1);
                     EXPECT_TRUE(g_tip->isVisible());
                     tick(1);
                     EXPECT_FALSE(g_tip->isVisible());
                     EXPECT_EQ(g_tip_flag, 0);
                 }});
    }
}

TEST_F(Tip, ATipShownAgainComesInFrontOfAPageOpenedSinceAndNotOverTheUpgrade) {
    RaiseWatch watch;
    g_tip->installEventFilter(&watch);
    session({[] { g_tip->tip_create(1); }, [this] { tick(TIP::kShowTicks); },
             [] { g_mainwindow->on_inputchoose_clicked(); },  // a newer page
             [&watch] {
                 ASSERT_NE(g_inputchoose, nullptr);
                 watch.raises = 0;
                 g_tip->tip_create(1);
             },
             [this, &watch] {
                 EXPECT_GE(watch.raises, 1);
                 const QPoint centre = g_tip->geometry().center();
                 if (QGuiApplication::platformName() == "xcb") {  // a display with stacking
                     EXPECT_EQ(QApplication::topLevelAt(centre), g_tip);
                 }
                 shot("over-newer-page");
                 // While the upgrade overlay is up the tip stays under it.
                 watch.raises = 0;
                 g_update_flag = 1;
                 g_tip->tip_create(1);
                 g_update_flag = 0;
                 EXPECT_EQ(watch.raises, 0);
                 tick(TIP::kShowTicks);
             },
             [this] { key(kKeyBack); }});
    EXPECT_EQ(g_inputchoose, nullptr);
}

// On the communication menu every refresh shows the check mark twice in a row. A PC asks for a
// mode save and applies; during the first check mark it writes the RAM again and applies. Its
// refresh runs once the first has ended, not inside it: the mode holds what the first refresh
// saw, and the second check mark follows the first for its own 300 ticks.
TEST_F(Tip, ARefreshRaisedWhileATipShowsRunsAfterTheRefreshThatShowedIt) {
    const int at = 2 + 2000 - ZemRamPara::kModePayloadStart;
    const auto pcApplies = [](const Bytes& write) {
        const std::vector<Bytes> replies = sessionSends({write, writeReg(11, 0xFF, {0})}).get();
        ASSERT_EQ(replies.size(), 2u);
        for (const Bytes& r : replies) {
            ASSERT_GT(r.size(), 10u);
            EXPECT_EQ(r[10], 0);
        }
        takeApply();
    };
    const auto savedInParameterFile = [this](uint8_t v) {
        const std::string file = readFile(ZemRamPara::kParaFile);
        return file.size() > 2 + 2000 - 768 && uint8_t(file[2 + 2000 - 768]) == v;
    };
    session({[this] {
                 keys({kKeyRight, kKeyRight, kKeyRight, kKeyOk});
             },  // the options menu
             [this] {
                 keys({kKeyRight, kKeyRight, kKeyRight, kKeyOk});
             },  // communication
             [&] {
                 ASSERT_EQ(g_page_focus, kPageLinkOption);
                 pcApplies(writeRam(2000, {0x42, 0}));
                 pcApplies(writeRam(ZemRamPara::kRamModeSaveRequest, le16(5)));
                 SyncUpdate::pInstance()->para_sync(1);  // the C331 thread's refresh
             },
             [&] {
                 ASSERT_TRUE(g_tip->isVisible());
                 shot("first-check-mark");
                 pcApplies(writeRam(2000, {0x99, 0}));
                 QMetaObject::invokeMethod(SyncUpdate::pInstance(), "para_sync",
                                           Qt::QueuedConnection, Q_ARG(int, 1));
             },
             Item::until([&] { return savedInParameterFile(0x99); }),  // the PC's refresh ran
             [this] {
                 EXPECT_TRUE(g_tip->isVisible());
                 shot("first-check-mark-after-the-pc");
                 tick(TIP::kShowTicks);
                 EXPECT_FALSE(g_tip->isVisible());
             },
             Item::until([] { return g_tip->isVisible(); }),
             [this] {
                 shot("second-check-mark");
                 tick(TIP::kShowTicks - 1);
                 EXPECT_TRUE(g_tip->isVisible());
                 tick(1);
                 EXPECT_FALSE(g_tip->isVisible());
                 key(kKeyBack);
             },
             [this] { key(kKeyBack); }});
    EXPECT_EQ(store().mode_ram[4][at], 0x42) << "the save took the later write";
    const std::string mode = readFile("/data/modes/custom_mode5");
    ASSERT_GT(mode.size(), size_t(at));
    EXPECT_EQ(uint8_t(mode[at]), 0x42);
}

}  // namespace
