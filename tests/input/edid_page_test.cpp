// The EDID settings page as a user works it from the source page: the tabs, the edit row, the
// rate choice (a stored 50 kept through level 2), SAVE with the request written and the apply
// flag raised, requests no EDID can describe refused, the keypad, and refreshes at level 0 only.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "c331/c331_manage.h"
#include "input_numbers.h"
#include "page_driver.h"
#include "ui/input/edid_set.h"
#include "ui/input/input_choose.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"

namespace {

constexpr int kExt = 0;

class EdidPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int s = 0; s < 6; ++s) setRequest(s, 1920, 1080, 60);
        setRequest(kHdmi3, 1024, 768, 50);
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        startPanel();
        key(kKeyOk);
        takeApply();
    }
    void setRequest(int s, int w, int h, int hz) {
        store().wr16_no_gen_bump(896 + 6 * s, uint16_t(w));
        store().wr16_no_gen_bump(898 + 6 * s, uint16_t(h));
        store().wr16_no_gen_bump(900 + 6 * s, uint16_t(hz));
    }
    std::vector<int> request(int s) {
        return {store().rd16(896 + 6 * s), store().rd16(898 + 6 * s), store().rd16(900 + 6 * s)};
    }
    // From the main menu through the source page's EDID button; the body runs on the page,
    // and Back leaves it and the source page in the same step.
    void onPage(const Step& body) {
        session({[] { g_mainwindow->on_inputchoose_clicked(); },
                 [this] {
                     keys({kKeyLeft, kKeyOk});
                 },
                 [this, body] {
                     ASSERT_EQ(g_page_focus, kPageEdidSet);
                     body();
                     backUntilGone([] { return g_edidset != nullptr; }, "the EDID page");
                     EXPECT_EQ(g_page_focus, kPageInputChoose);
                     backUntilGone([] { return g_inputchoose != nullptr; }, "the source page");
                 }});
    }
    QString card() { return g_edidset->source_card->findChild<QLabel*>("card_timing")->text(); }
    QString cardName() { return g_edidset->source_card->findChild<QLabel*>("card_name")->text(); }
    QString rate() { return widget<QLabel>("label_rate")->text(); }
    void type(const QString& digits) {
        for (QChar d : digits) click(QString("Button") + d);
        click("Button_ok");
    }
};

TEST_F(EdidPage, TabsWrapAndTheEditRowWraps) {
    onPage([&] {
        EXPECT_EQ(cardName(), "HDMI1");
        EXPECT_EQ(card(), "1920x1080@60Hz");
        key(kKeyLeft);
        EXPECT_EQ(cardName(), "EXT");
        EXPECT_EQ(g_edidset->source_id, kExt);
        key(kKeyRight);
        EXPECT_EQ(cardName(), "HDMI1");
        key(kKeyOk);
        EXPECT_TRUE(widget<QWidget>("frame_add")->isVisible());
        EXPECT_EQ(panel_style::stateOf(widget<QLineEdit>("lineEdit_W")), panel_style::kFocus);
        key(kKeyLeft);
        EXPECT_EQ(g_edidset->item, 5) << "Left on the width goes to SAVE";
        key(kKeyRight);
        EXPECT_EQ(g_edidset->item, 0);
        EXPECT_EQ(panel_style::stateOf(widget<QLineEdit>("lineEdit_W")), panel_style::kFocus);
        shot("edit-row");
    });
}

TEST_F(EdidPage, SaveWritesTheRequestAndRaisesTheApplyOnce) {
    struct Case {
        const char* name;
        int tab, source;
        const char *w, *h;
        int written[3];
    };
    const Case cases[] = {{"HDMI1 720p", 0, kHdmi1, "1280", "720", {1280, 720, 60}},
                          {"HDMI3 kept 50", 2, kHdmi3, nullptr, nullptr, {1024, 768, 50}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        onPage([&] {
            for (int i = 0; i < c.tab; ++i) key(kKeyRight);
            key(kKeyOk);
            if (c.w) {
                session({[this] { key(kKeyOk); }, [&] { type(c.w); }});
                key(kKeyRight);
                session({[this] { key(kKeyOk); }, [&] { type(c.h); }});
                key(kKeyLeft);
            }
            key(kKeyLeft);  // SAVE, left of the width
            key(kKeyOk);
            EXPECT_EQ(request(c.source), std::vector<int>(c.written, c.written + 3));
            EXPECT_EQ(takeApply(), 1);
            EXPECT_EQ(card(),
                      QString("%1x%2@%3Hz").arg(c.written[0]).arg(c.written[1]).arg(c.written[2]));
            EXPECT_FALSE(widget<QWidget>("frame_add")->isVisible());
            shot(c.name);
        });
    }
}

// The keypad of the width and the height is titled with the page's words, in each language
// (also when the language changes while it is open), and the title fits.
TEST_F(EdidPage, TheKeypadIsTitledWithThePagesWords) {
    const char* const kTitles[2][kLanguageCount] = {{"宽", "W", "Шир.", "Rộng", "寬"},
                                                    {"高", "H", "Высота", "Cao", "高"}};
    const auto title = [] { return g_numberkeyboard->findChild<QLabel*>("label")->text(); };
    onPage([&] {
        key(kKeyOk);  // the edit row, on the width
        for (int field = 0; field < 2; ++field) {
            SCOPED_TRACE(field);
            session({[this] { key(kKeyOk); },
                     [&] {
                         for (int lang = 0; lang < kLanguageCount; ++lang) {
                             g_language = uint8_t(lang);
                             g_numberkeyboard->language_changed();
                             EXPECT_EQ(title(), QString::fromUtf8(kTitles[field][lang]));
                             EXPECT_EQ(textsNotFitting(g_numberkeyboard),
                                       std::vector<std::string>());
                             shot(QString("keypad-%1-%2").arg(field).arg(lang));
                         }
                         g_language = 1;
                         key(kKeyBack);  // no result
                     }});
            key(kKeyRight);  // the height
        }
    });
}

TEST_F(EdidPage, AStoredFiftyStaysFiftyThroughLevelTwo) {
    onPage([&] {
        keys({kKeyRight, kKeyRight, kKeyOk});  // HDMI3, its edit row
        EXPECT_EQ(rate(), "50");
        keys({kKeyRight, kKeyRight, kKeyOk});  // the rate, level 2
        EXPECT_EQ(panel_style::stateOf(widget<QLabel>("label_rate")), panel_style::kEdit);
        key(kKeyOk);
        EXPECT_EQ(rate(), "50") << "OK without a choice keeps it";
        key(kKeyOk);
        key(kKeyBack);
        EXPECT_EQ(rate(), "50") << "Back keeps it";
        key(kKeyOk);
        key(kKeyRight);
        EXPECT_EQ(rate(), "60");
        key(kKeyRight);
        EXPECT_EQ(rate(), "30");
        shot("level-2");
        key(kKeyBack);
        EXPECT_EQ(rate(), "50") << "Back puts back the rate level 2 began with";
        keys({kKeyRight, kKeyRight, kKeyRight, kKeyOk});  // SAVE
        EXPECT_EQ(request(kHdmi3), (std::vector<int>{1024, 768, 50}));
    });
}

TEST_F(EdidPage, RequestsNoEdidCanDescribeAreRefused) {
    const char* const widths[] = {"", "0", "9999", "abc"};
    for (const char* w : widths) {
        SCOPED_TRACE(w);
        onPage([&] {
            key(kKeyOk);
            widget<QLineEdit>("lineEdit_W")->setText(w);  // as the keypad leaves it
            keys({kKeyLeft, kKeyOk});
            EXPECT_EQ(request(kHdmi1), (std::vector<int>{1920, 1080, 60}));
            EXPECT_EQ(takeApply(), 0);
            EXPECT_EQ(panel_style::stateOf(widget<QLineEdit>("lineEdit_W")), panel_style::kEdit);
            EXPECT_TRUE(widget<QWidget>("frame_add")->isVisible()) << "the edit stays open";
            EXPECT_EQ(card(), "1920x1080@60Hz");
            shot(QString("refused-%1").arg(*w ? w : "empty"));
        });
    }
}

TEST_F(EdidPage, DeleteAndCancelWriteNothingAndTheNextEditReloads) {
    onPage([&] {
        for (int item : {3, 4}) {
            key(kKeyOk);
            widget<QLineEdit>("lineEdit_W")->setText("800");
            for (int i = 0; i < item; ++i) key(kKeyRight);
            key(kKeyOk);
            EXPECT_EQ(request(kHdmi1), (std::vector<int>{1920, 1080, 60}));
            EXPECT_EQ(takeApply(), 0);
        }
        key(kKeyOk);
        EXPECT_EQ(widget<QLineEdit>("lineEdit_W")->text(), "1920");
        key(kKeyBack);
    });
}

TEST_F(EdidPage, RefreshesRebuildTheCardAtLevelZeroOnly) {
    onPage([&] {
        setRequest(kHdmi3, 800, 600, 60);
        refresh(1);
        EXPECT_EQ(card(), "1920x1080@60Hz") << "another input's request";
        setRequest(kHdmi1, 1280, 1024, 60);
        refresh(1);
        EXPECT_EQ(card(), "1280x1024@60Hz");
        key(kKeyOk);
        widget<QLineEdit>("lineEdit_W")->setText("1600");
        setRequest(kHdmi1, 640, 480, 60);
        refresh(1);
        EXPECT_EQ(card(), "1280x1024@60Hz") << "an edit in progress stays";
        EXPECT_EQ(widget<QLineEdit>("lineEdit_W")->text(), "1600");
        key(kKeyBack);
    });
}

}  // namespace
