// The picture quality and colour temperature pages as a user works them: steps written at once
// and clamped, OK keeping and Back putting back the value also while an apply is pending, whole
// words, Reset, words changed under the page, and the preset written only by OK or Back.
#include <QComboBox>
#include <QLineEdit>
#include <cstring>

#include "c331/c331_manage.h"
#include "page_driver.h"
#include "ui/input/quality.h"
#include "ui/input/temperature.h"

namespace {

constexpr int kBright = 2176, kContrast = 2178, kSharpness = 2180, kSaturation = 2182;
constexpr int kPreset = 2184, kRed = 2186, kGreen = 2188, kBlue = 2190;

bool applyPending() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    return c331_manage::apply_pending();
}
// The C331 thread's turn: the pending apply taken.
class PicturePages : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int a : {kBright, kContrast, kSharpness, kSaturation}) store().wr16_no_gen_bump(a, 50);
        store().wr16_no_gen_bump(kPreset, 2);
        for (int a : {kRed, kGreen, kBlue}) store().wr16_no_gen_bump(a, 64);
    }
    // Opens the page with that id and runs the steps on it, then leaves it by Back.
    // (Back in the body's step: the body's own event runs must not reach a later step.)
    void onPage(int id, const Step& body) {
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        startPanel();
        key(kKeyOk);
        takeApply();
        session({[id] { panel::openRegistered(id); },
                 [this, id, body] {
                     body();
                     backUntilGone([id] { return panel::page(id) != nullptr; },
                                   page_table::className(id));
                 }});
    }
    // Keys, each followed by the C331 thread's apply.
    void stepped(std::initializer_list<int> codes) {
        for (int c : codes) {
            key(c);
            takeApply();
        }
    }
    QString field(const char* name) { return widget<QLineEdit>(name)->text(); }
};

// Values to both clamps, words out of range with high bytes, committed: each written whole.
TEST_F(PicturePages, StepsClampAndAreWrittenWhole) {
    struct Case {
        const char* name;
        uint16_t word;
        int key;
        int steps;
        uint16_t written;
        const char* shown;
    };
    const Case cases[] = {
        {"top", 100, kKeyRight, 2, 100, "100"},
        {"bottom", 0, kKeyLeft, 2, 0, "0"},
        {"above", 150, kKeyOk, 0, 100, "100"},
        {"high byte", 356, kKeyOk, 0, 100, "100"},
        {"negative", 0xFF00, kKeyOk, 0, 0, "0"},
        {"down", 300, kKeyLeft, 1, 100, "100"},
        {"down from 150", 150, kKeyLeft, 1, 100, "100"},
        {"down from negative", 0xFF00, kKeyLeft, 1, 0, "0"},
        {"mid", 40, kKeyRight, 3, 43, "43"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store().wr16_no_gen_bump(kBright, c.word);
        onPage(kPageQuality, [&] {
            key(kKeyOk);
            for (int i = 0; i < c.steps; ++i) stepped({c.key});
            key(kKeyOk);  // commit
            EXPECT_EQ(store().rd16(kBright), c.written);
            EXPECT_EQ(field("lineEdit_bright"), c.shown);
            shot(c.name);
        });
        stopPanel();
    }
}

// A word outside 0..100 that a PC wrote shows as the signed number it is, while the RAM keeps
// it; a step from it is clamped: 100 from above, 0 from below.
TEST_F(PicturePages, WordsOutside0To100ShowAsStored) {
    const char* const fields[] = {"lineEdit_bright", "lineEdit_Contrast", "lineEdit_Sharpness",
                                  "lineEdit_Saturation"};
    const int words[] = {kBright, kContrast, kSharpness, kSaturation};
    struct Case {
        uint16_t written;
        const char* shown;
        uint16_t stepped;  // after Left
    };
    for (const Case& c : {Case{101, "101", 100}, Case{150, "150", 100}, Case{0xFF00, "-256", 0}}) {
        SCOPED_TRACE(c.shown);
        onPage(kPageQuality, [&] {
            for (int a : words) store().wr16_no_gen_bump(a, c.written);
            refresh(1);
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(field(fields[i]), c.shown) << fields[i];
                EXPECT_EQ(store().rd16(words[i]), c.written) << "the RAM keeps the word";
            }
            shot(QString("outside-%1").arg(c.written));
            key(kKeyOk);  // brightness
            stepped({kKeyLeft});
            EXPECT_EQ(store().rd16(kBright), c.stepped);
            EXPECT_EQ(field("lineEdit_bright"), QString::number(c.stepped));
            key(kKeyOk);
        });
        stopPanel();
    }
}

TEST_F(PicturePages, RevertAndCommitAreWrittenWhileAnApplyIsPending) {
    onPage(kPageQuality, [&] {
        keys({kKeyRight, kKeyRight});  // contrast
        key(kKeyOk);
        key(kKeyRight);  // 51, the apply now pending
        EXPECT_EQ(store().rd16(kContrast), 51);
        key(kKeyRight);  // dropped
        EXPECT_EQ(store().rd16(kContrast), 51);
        EXPECT_EQ(field("lineEdit_Contrast"), "51");
        key(kKeyBack);
        EXPECT_EQ(store().rd16(kContrast), 50) << "the revert is written";
        EXPECT_EQ(field("lineEdit_Contrast"), "50");
        takeApply();
        key(kKeyOk);
        key(kKeyLeft);  // 49, pending again
        key(kKeyOk);
        EXPECT_EQ(store().rd16(kContrast), 49);
        EXPECT_TRUE(applyPending());
        shot("committed");
    });
}

TEST_F(PicturePages, BackBeforeAnyStepWritesTheStartingValueAgain) {
    onPage(kPageQuality, [&] {
        key(kKeyRight);  // sharpness
        key(kKeyOk);
        stepped({kKeyRight, kKeyRight, kKeyRight});
        EXPECT_EQ(store().rd16(kSharpness), 53);
        key(kKeyBack);
        EXPECT_EQ(store().rd16(kSharpness), 50);
        EXPECT_EQ(panel_style::stateOf(widget<QLineEdit>("lineEdit_Sharpness")),
                  panel_style::kFocus)
            << "Back ends the edit, not the page";
    });
    EXPECT_EQ(g_page_focus, kPageImageQuality);
}

// The brightness the reset and the step write are the user's: its write generation grows, so a
// brightness the FPGA side echoes meanwhile does not overwrite them.
TEST_F(PicturePages, ResetRedrawsSoTheNextStepStartsFromTheDefault) {
    store().wr16_no_gen_bump(kBright, 30);
    store().wr16_no_gen_bump(kPreset, 0);
    const auto brightGen = [this] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return store().word_gen(kBright);
    };
    onPage(kPageQuality, [&] {
        const uint32_t before = brightGen();
        key(kKeyLeft);  // Reset
        key(kKeyOk);
        EXPECT_TRUE(applyPending());
        takeApply();
        EXPECT_GT(brightGen(), before) << "the reset not counted as the user's write";
        EXPECT_EQ(store().rd16(kBright), 100);
        EXPECT_EQ(store().rd16(kSharpness), 10);
        EXPECT_EQ(store().rd16(kPreset), 2);
        EXPECT_EQ(store().rd16(kBlue), 64);
        EXPECT_EQ(field("lineEdit_bright"), "100");
        EXPECT_EQ(field("lineEdit_Sharpness"), "10");
        shot("reset");
        key(kKeyRight);  // brightness
        key(kKeyOk);
        const uint32_t reset = brightGen();
        stepped({kKeyLeft});
        EXPECT_EQ(store().rd16(kBright), 99);
        EXPECT_GT(brightGen(), reset) << "the step not counted as the user's write";
        key(kKeyOk);
    });
}

TEST_F(PicturePages, AWordChangedUnderThePageIsReadAgainBeforeTheNextStep) {
    onPage(kPageQuality, [&] {
        store().wr16_no_gen_bump(kBright, 80);  // the PC or the keypad's brightness
        refresh(1);
        EXPECT_EQ(field("lineEdit_bright"), "80");
        key(kKeyOk);
        stepped({kKeyRight});
        EXPECT_EQ(store().rd16(kBright), 81);
        store().wr16_no_gen_bump(kBright, 20);
        refresh(1);
        EXPECT_EQ(field("lineEdit_bright"), "81") << "an edit in progress stays";
        key(kKeyOk);
    });
}

TEST_F(PicturePages, PresetIsWrittenByOkAndRestoredByBack) {
    store().wr16_no_gen_bump(kPreset, 3);
    onPage(kPageTemperature, [&] {
        auto* list = widget<QComboBox>("comboBox_type");
        EXPECT_EQ(list->currentIndex(), 3);
        key(kKeyOk);
        key(kKeyRight);
        EXPECT_EQ(list->currentIndex(), 0) << "cool turns to custom";
        EXPECT_EQ(store().rd16(kPreset), 3) << "nothing written while turning";
        EXPECT_FALSE(applyPending());
        shot("turning");
        key(kKeyOk);
        EXPECT_EQ(store().rd16(kPreset), 0);
        EXPECT_TRUE(applyPending());
        key(kKeyOk);
        keys({kKeyLeft, kKeyLeft});
        EXPECT_EQ(list->currentIndex(), 2);
        key(kKeyBack);  // written again, pending flag or not
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_EQ(store().rd16(kPreset), 0);
        store().wr16_no_gen_bump(kPreset, 1);
        key(kKeyOk);
        key(kKeyBack);
        EXPECT_EQ(store().rd16(kPreset), 0) << "Back writes the preset the edit began with";
    });
}

TEST_F(PicturePages, AnUnknownPresetShowsCustomAndIsWrittenWholeOnlyByOk) {
    store().wr16_no_gen_bump(kPreset, 258);
    onPage(kPageTemperature, [&] {
        EXPECT_EQ(widget<QComboBox>("comboBox_type")->currentIndex(), 0);
        keys({kKeyRight, kKeyLeft});
        EXPECT_EQ(store().rd16(kPreset), 258) << "browsing writes nothing";
        keys({kKeyOk, kKeyOk});
        EXPECT_EQ(store().rd16(kPreset), 0) << "no high byte left";
    });
}

TEST_F(PicturePages, GainsStepLikeThePictureValues) {
    store().wr16_no_gen_bump(kGreen, 100);
    store().wr16_no_gen_bump(kBlue, 0);
    onPage(kPageTemperature, [&] {
        keys({kKeyRight, kKeyRight});  // green
        key(kKeyOk);
        stepped({kKeyRight});
        key(kKeyOk);
        EXPECT_EQ(store().rd16(kGreen), 100);
        key(kKeyRight);  // blue
        key(kKeyOk);
        key(kKeyLeft);
        key(kKeyRight);  // dropped while the step before waits for its apply
        key(kKeyOk);
        EXPECT_EQ(store().rd16(kBlue), 0);
        EXPECT_EQ(panel_style::stateOf(widget<QLineEdit>("lineEdit_name_blue")),
                  panel_style::kFocus);
        key(kKeyOk);
        stepped({kKeyRight, kKeyRight});
        key(kKeyBack);
        EXPECT_EQ(store().rd16(kBlue), 0);
        store().wr16_no_gen_bump(kRed, 70);
        refresh(1);
        EXPECT_EQ(widget<QLineEdit>("lineEdit_name_red")->text(), "70");
        shot("gains");
    });
}

}  // namespace
