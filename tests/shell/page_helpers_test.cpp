// The helpers every page shares: the keypad number reader, the picture names (each one drawn in
// every language), the parameter-RAM reads, and the page driver's failure for what a test
// reaches for that is not there.
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <climits>
#include <cstring>
#include <utility>

#include "page_driver.h"
#include "ui/shell/keypad_number.h"
#include "ui/shell/option.h"
#include "ui/shell/page_store.h"
#include "ui/shell/panel_texts.h"

namespace {

TEST(KeypadNumber, ReadsDigitsInRangeAndNamesEachFault) {
    struct Case {
        const char* text;
        int min, max;
        int status;
        int value;  // when kNumberOk
    };
    const Case cases[] = {
        {"0", 0, 255, kNumberOk, 0},
        {"255", 0, 255, kNumberOk, 255},
        {"007", 0, 255, kNumberOk, 7},
        {"256", 0, 255, kNumberAbove, 0},
        {"5", 10, 20, kNumberBelow, 0},
        {"", 0, 255, kNumberEmpty, 0},
        {"-1", 0, 255, kNumberNotDigits, 0},
        {"1.5", 0, 255, kNumberNotDigits, 0},
        {"12a", 0, 255, kNumberNotDigits, 0},
        {"*", 0, 255, kNumberNotDigits, 0},
        // Longer than any int: above the range, not a wrapped small number.
        {"99999999999999999999999", 0, 65535, kNumberAbove, 0},
        {"4294967297", 0, INT_MAX, kNumberAbove, 0},
        {"2147483647", 0, INT_MAX, kNumberOk, INT_MAX},
        {"000000000000000000000042", 0, 100, kNumberOk, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int value = -7;
        EXPECT_EQ(readKeypadNumber(QString::fromUtf8(c.text), c.min, c.max, &value), c.status);
        EXPECT_EQ(value, c.status == kNumberOk ? c.value : -7) << "left alone on a fault";
    }
}

class PageHelpers : public PanelTest {};

// The fit test's layout check: a field over its parent's edge or over a neighbour's words is
// found; a field beside the words in a wider label, or a drawn line over the edge, is not.
TEST_F(PageHelpers, TheFitCheckFindsFieldsOverTheEdgeOrANeighboursWords) {
    struct Case {
        const char* name;
        QRect field;
        bool combo, line;  // a combo; a read-only line edit without text (a drawn line)
        bool found;
    };
    const Case cases[] = {
        {"inside, beside the words", {70, 0, 40, 20}, false, false, false},
        {"over the words", {20, 0, 40, 20}, false, false, true},
        {"over the right edge", {130, 25, 40, 20}, false, false, true},
        {"over the bottom edge", {70, 40, 40, 20}, false, false, true},
        {"a combo over the words", {20, 0, 40, 20}, true, false, true},
        {"a drawn line over the edge", {0, 30, 400, 1}, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget page;
        page.resize(160, 50);
        auto* words = new QLabel("Words", &page);
        words->setGeometry(0, 0, 120, 20);  // wider than its words, which sit on the left
        QWidget* field =
            c.combo ? static_cast<QWidget*>(new QComboBox(&page)) : new QLineEdit(&page);
        if (c.line) static_cast<QLineEdit*>(field)->setReadOnly(true);
        field->setObjectName("field");
        field->setGeometry(c.field);
        const std::vector<std::string> found = widgetsCrossing(&page);
        EXPECT_EQ(!found.empty(), c.found) << (found.empty() ? "" : found.front());
    }
}

TEST_F(PageHelpers, EveryPictureNameIsDrawnInEveryLanguage) {
    static const char* const kPrefixes[kLanguageCount] = {"", "en_", "ru_", "vn_", "tn_"};
    for (int lang = 0; lang < kLanguageCount; ++lang) {
        g_language = uint8_t(lang);
        ASSERT_EQ(panelLanguage(), lang);
        for (const PictureName& p : pic::kWorded) {
            SCOPED_TRACE(p.name);
            EXPECT_EQ(picture(p), QString(":/png/") + kPrefixes[lang] + p.name + ".png");
            EXPECT_FALSE(QImage(picture(p)).isNull()) << picture(p).toStdString();
        }
    }
    for (const PictureName& p : pic::kPlain) {
        SCOPED_TRACE(p.name);
        EXPECT_FALSE(QImage(pictureOf(p)).isNull()) << pictureOf(p).toStdString();
    }
}

// The shape a picture draws, whatever its colour.
QImage inkOf(const QString& file) {
    const QImage image = QImage(file).convertToFormat(QImage::Format_ARGB32);
    QImage ink(image.size(), QImage::Format_Mono);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink.setPixel(x, y, qAlpha(image.pixel(x, y)) > 128 ? 1 : 0);
    return ink;
}

// EXT and the four HDMI inputs share the "HDMI" picture: it names none of the inputs.
TEST_F(PageHelpers, TheSharedInputPictureIsNoNamedConnector) {
    const QImage shared = inkOf(":/png/HDMI.png");
    ASSERT_FALSE(shared.isNull());
    for (const char* named : {":/png/extlv.png", ":/png/dvilv.png", ":/png/HDMI13_lv.png",
                              ":/png/HDMI20_lv.png", ":/png/DVI.png", ":/png/HDMI13.png"}) {
        SCOPED_TRACE(named);
        const QImage other = inkOf(named);
        ASSERT_FALSE(other.isNull());
        EXPECT_FALSE(shared == other) << "drawn as " << named;
    }
}

TEST_F(PageHelpers, SharedWordsAndRamReads) {
    g_language = 1;
    EXPECT_EQ(text(words::kNoSignal), "No signal");
    EXPECT_EQ(text(words::kCancel), "Cancel");
    const int flags3 = ZemRamPara::windowAddr(3, ZemRamPara::kWinFlags);
    store().wr16_no_gen_bump(flags3, 1);
    EXPECT_TRUE(windowOn(3));
    EXPECT_TRUE(wordUnsaved(flags3));
    store().refresh_begin();
    EXPECT_TRUE(wordChanged(flags3)) << "a change the refresh sees";
    store().refresh_end();
    store().refresh_begin();
    EXPECT_FALSE(wordChanged(flags3)) << "acted on by the refresh before";
    EXPECT_EQ(store().ram_para_persist(), 1);
    EXPECT_FALSE(wordUnsaved(flags3));
    store().wr16_no_gen_bump(flags3, 0);
    EXPECT_FALSE(windowOn(3));
    EXPECT_FALSE(windowOn(ZemRamPara::kWindowCount));
    // The audio window: RAM 2112 names it; a byte past the windows means window 0.
    for (const auto& c : {std::pair<int, int>{4, 4}, {5, 5}, {6, 0}, {0xFF, 0}}) {
        store().ram[2112] = uint8_t(c.first);
        EXPECT_EQ(audioWindow(), c.second) << c.first;
        EXPECT_EQ(audioWord(), ZemRamPara::windowAddr(c.second, 20));
    }
}

// What a test reaches for that is not there, as when the key that opens a page never went in,
// fails the test there naming it and the page in front: in the body, and in a session's step,
// which ends the session instead of running on a null pointer (a crash would end the program).
TEST_F(PageHelpers, WhatIsNotThereFailsNamingThePageInFront) {
    startPanel();  // the home screen; no key opened the main menu or the options menu
    const std::string home = pageInFront();
    ASSERT_NE(home.find("LockWindow"), std::string::npos) << home;
    EXPECT_EQ(find<QLabel>("label_note_OK"), nullptr) << "find still tells absence";
    struct Case {
        const char* what;
        std::function<void()> reach;
        const char* missing;
    };
    const Case cases[] = {
        {"a widget of the options menu", [this] { widget<QLabel>("label_note_OK")->text(); },
         "no QLabel label_note_OK"},
        {"the options menu", [] { opened(g_option)->show(); }, "Option not open"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string says = std::string(c.missing) + "; page in front: " + pageInFront();
        try {
            c.reach();
            ADD_FAILURE() << "reached";
        } catch (const Missing& e) {
            EXPECT_EQ(e.what(), says);
        }
        ::testing::TestPartResultArray failures;
        bool ran_on = false;
        {
            const ::testing::ScopedFakeTestPartResultReporter keep(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &failures);
            session({[&c] { c.reach(); }, [&ran_on] { ran_on = true; }});
        }
        EXPECT_FALSE(ran_on) << "the session ends at the step";
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures.GetTestPartResult(0).fatally_failed());
        EXPECT_THAT(failures.GetTestPartResult(0).message(), ::testing::HasSubstr(says));
    }
}

}  // namespace

namespace {

TEST(LevelFocus, EachLevelKeepsItsIndexWhileALowerOneIsShown) {
    LevelFocus f;
    f.index() = 4;
    f.down();
    EXPECT_EQ(f.level, 1);
    EXPECT_EQ(f.index(), 0);
    f.index() = 2;
    f.down(1);
    EXPECT_EQ(f.level, 2);
    EXPECT_EQ(f.index(), 1);
    f.down(5);  // no level below the last
    EXPECT_EQ(f.level, 2);
    EXPECT_TRUE(f.up());
    EXPECT_EQ(f.level, 1);
    EXPECT_EQ(f.index(), 2);
    EXPECT_TRUE(f.up());
    EXPECT_EQ(f.index(), 4);
    EXPECT_FALSE(f.up());
    EXPECT_EQ(f.level, 0);
    EXPECT_EQ(f.index(), 4);
}

}  // namespace
