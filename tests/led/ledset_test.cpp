// The LED set-up page as a user works it: the size and OUT1 entries on the keypad with their
// limits, the splice choice in the combo's edit mode, Apply (the unchanged case, the changed
// case with and without both FPGAs up, a refresh while its check mark shows, a page opened
// over outputs that no longer fit), the refresh of a size changed elsewhere, a touched combo,
// Back, Cancel and Mode, five languages, and Apply reaching the simulated C331's panel.
#include "ui/led/ledset.h"

#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <cstring>

#include "c331/c331_manage.h"
#include "combo_fit.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "pc_link.h"
#include "platform/clock.h"
#include "platform/sim/sim_box.h"
#include "program_fixture.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/tip.h"
#include "ui_ledset.h"

namespace {

constexpr int kHorizontal = 3, kVertical = 2, kCopy = 4;
constexpr int kKeypadOk = 13;

// The six number fields as the page shows them.
struct Fields {
    int w, h, w1, h1, w2, h2;
    bool operator==(const Fields& o) const {
        return w == o.w && h == o.h && w1 == o.w1 && h1 == o.h1 && w2 == o.w2 && h2 == o.h2;
    }
};
std::ostream& operator<<(std::ostream& os, const Fields& f) {
    return os << f.w << "x" << f.h << " OUT1 " << f.w1 << "x" << f.h1 << " OUT2 " << f.w2 << "x"
              << f.h2;
}

struct EntryCase {
    const char* what;
    int w, h;  // the screen before
    int field;
    const char* digits;
    Fields after;
};

class LedSetPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        led_size_handshake::get().clear();
        for (int w = 0; w < ZemRamPara::kWindowCount; ++w)
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, ZemRamPara::kWinFlags), 1);
        setScreen(1920, 1080, kHorizontal, 960, 1080);
    }
    // The screen in the parameter RAM; OUT2 as the splice gives it.
    void setScreen(int w, int h, int mode, int w1, int h1) {
        store().wr16_no_gen_bump(1376, uint16_t(mode));
        store().wr16_no_gen_bump(1378, uint16_t(w));
        store().wr16_no_gen_bump(1380, uint16_t(h));
        store().wr16_no_gen_bump(1412, uint16_t(w1));
        store().wr16_no_gen_bump(1414, uint16_t(h1));
        store().wr16_no_gen_bump(1420, uint16_t(mode == kHorizontal ? w - w1
                                                : mode == kVertical ? w1
                                                                    : w));
        store().wr16_no_gen_bump(1422, uint16_t(mode == kVertical     ? h - h1
                                                : mode == kHorizontal ? h1
                                                                      : h));
    }
    // Saved and refreshed as the box does: both records equal the RAM.
    void persist() {
        // A C331 thread the fixture started may be writing the RAM, under this mutex.
        zem::MutexLocker c331(c331_manage::c331_mutex);
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        std::memcpy(store().persisted.data(), store().ram.data(), sizeof store().ram);
    }
    void onPage(std::vector<Item> steps) {
        persist();
        takeApply();
        startPanel();
        steps.insert(steps.begin(), [this] {
            at_ = 0;
            panel::open(g_ledset, kPageLedSet);
        });
        steps.push_back([this] {
            if (g_ledset) key(kKeyBack);
        });
        session(steps);
    }
    void moveTo(int item) {
        while (at_ != item) {
            key(kKeyRight);
            at_ = (at_ + 1) % 7;
        }
    }
    // Two steps: OK on a field (the keypad's loop), then the digits and OK there.
    std::vector<Item> entry(int item, const QString& digits) {
        return {[this, item] {
                    moveTo(item);
                    key(kKeyOk);
                },
                [this, digits] { typeOnKeypad(digits); }};
    }
    // Each case on a fresh page of its screen (OUT1 the left half, or the whole screen in copy):
    // the digits typed show as after, and an entry writes nothing.
    template <size_t N>
    void typeEach(const EntryCase (&cases)[N], int mode) {
        for (const EntryCase& c : cases) {
            SCOPED_TRACE(c.what);
            const bool copy = mode == kCopy;
            setScreen(c.w, c.h, mode, copy ? c.w : std::min(960, c.w),
                      copy ? c.h : std::min(1080, c.h));
            onPage(join(entry(c.field, c.digits), {[&] {
                            EXPECT_EQ(shown(), c.after);
                            EXPECT_EQ(takeApply(), 0) << "an entry writes nothing";
                        }}));
            stopPanel();
        }
    }
    // OK on the combo, Left or Right n times in its edit mode, OK.
    void chooseSplice(int steps) {
        moveTo(ledset::kCombo);
        key(kKeyOk);
        for (int i = 0; i < std::abs(steps); ++i) key(steps > 0 ? kKeyRight : kKeyLeft);
        key(kKeyOk);
    }
    static Fields shown() {
        Ui::ledset* ui = g_ledset->ui;
        return {ui->lineEdit_ledw->text().toInt(),       ui->lineEdit_ledh->text().toInt(),
                ui->lineEdit_out1_width->text().toInt(), ui->lineEdit_out1_height->text().toInt(),
                ui->lineEdit_out2_width->text().toInt(), ui->lineEdit_out2_height->text().toInt()};
    }
    Fields written() const {
        const ZemRamPara& s = store();
        return {s.rd16(1378), s.rd16(1380), s.rd16(1412), s.rd16(1414), s.rd16(1420), s.rd16(1422)};
    }
    static QString keypadTitle() { return g_numberkeyboard->findChild<QLabel*>("label")->text(); }
    void setLanguage(int lang) {
        store().ram[ZemRamPara::kRamLanguage] = uint8_t(lang);
        store().test_signal(1);
    }
    static std::vector<Item> join(std::vector<Item> a, const std::vector<Item>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    int at_ = 0;  // the focus index the keys have moved to
};

// ---- Entries ----

TEST_F(LedSetPage, EntriesKeepTheSizeLimitsAndTheArea) {
    // clang-format off
    const EntryCase cases[] = {
        {"width past the range", 1920, 1080, ledset::kLedW, "20000", {16376, 800, 960, 800, 15416, 800}},
        {"width into the area", 800, 16376, ledset::kLedW, "1000", {1000, 13107, 800, 1080, 200, 1080}},
        {"height into the area", 1000, 1080, ledset::kLedH, "16376", {800, 16376, 800, 1080, 0, 1080}},
        {"height past the range", 1000, 1080, ledset::kLedH, "20000", {800, 16376, 800, 1080, 0, 1080}},
        {"height under the range", 1920, 1080, ledset::kLedH, "300", {1920, 512, 960, 512, 960, 512}},
        {"width under the range", 800, 16376, ledset::kLedW, "300", {512, 16376, 512, 1080, 0, 1080}},
        {"eleven digits", 1920, 1080, ledset::kLedW, "20000000000", {16376, 800, 960, 800, 15416, 800}},
        {"OUT1 above W", 1920, 1080, ledset::kOut1W, "5000", {1920, 1080, 1920, 1080, 0, 1080}},
        {"OUT1 under the range", 1920, 1080, ledset::kOut1H, "100", {1920, 1080, 960, 512, 960, 512}},
        {"OUT1 within", 1920, 1080, ledset::kOut1W, "1000", {1920, 1080, 1000, 1080, 920, 1080}},
    };
    // clang-format on
    typeEach(cases, kHorizontal);
}

TEST_F(LedSetPage, KeypadTitlesAndAResultForAnotherPage) {
    struct Title {
        int lang, field;
        const char* title;
    };
    // The page's own words for width and height.
    const Title titles[] = {{0, ledset::kLedW, "宽"},     {0, ledset::kOut1H, "高"},
                            {4, ledset::kOut1W, "寬"},    {4, ledset::kLedH, "高"},
                            {1, ledset::kLedW, "W"},      {1, ledset::kOut1H, "H"},
                            {2, ledset::kLedW, "Ширина"}, {2, ledset::kLedH, "Высота"},
                            {3, ledset::kOut1W, "Rộng"},  {3, ledset::kOut1H, "Cao"}};
    for (const Title& t : titles) {
        SCOPED_TRACE(t.title);
        store().ram[ZemRamPara::kRamLanguage] = uint8_t(t.lang);
        g_language = uint8_t(t.lang);
        onPage({[&] {
                    moveTo(t.field);
                    key(kKeyOk);
                },
                [&] {
                    EXPECT_EQ(keypadTitle(), QString::fromUtf8(t.title));
                    EXPECT_EQ(textsNotFitting(g_numberkeyboard), std::vector<std::string>());
                    if (t.lang == 2 && t.field == ledset::kLedW) shot("keypad-ru");
                    if (t.lang == 0 && t.field == ledset::kLedW) shot("keypad");
                    key(kKeyBack);  // closes the keypad without a result
                }});
        stopPanel();
    }
    // A keypad result that another page asked for changes nothing here.
    onPage({[this] {
                const Fields before = shown();
                QLineEdit other;
                g_numberkeyboard->open_for(&other, &other, "W", "700");
                EXPECT_EQ(shown(), before);
            },
            [this] { pressKeypad(kKeypadOk); }});
}

// In copy splice the width entry stops at the copy cap as it is typed, so the area rule works
// from the width the screen gets; the note under the fields names that cap, and fits.
TEST_F(LedSetPage, InCopySpliceTheWidthEntryStopsAtTheCopyCap) {
    // clang-format off
    const EntryCase cases[] = {
        {"past the cap", 1920, 1080, ledset::kLedW, "10000", {8188, 1080, 8188, 1080, 8188, 1080}},
        {"past the range, into the area", 1920, 16376, ledset::kLedW, "20000", {8188, 1600, 8188, 1600, 8188, 1600}},
        {"the cap itself", 1920, 1601, ledset::kLedW, "8188", {8188, 1600, 8188, 1600, 8188, 1600}},
        {"under the cap", 1920, 1080, ledset::kLedW, "8000", {8000, 1080, 8000, 1080, 8000, 1080}},
    };
    // clang-format on
    typeEach(cases, kCopy);
    const char* notes[5] = {"可设LED屏最大点数:8188(宽),16376(高)", "LED max:8188(w),16376(h)",
                            "Макс.: 8188(ш), 16376(в)", "Điểm ảnh lớn nhất:8188(ngang),16376(dọc)",
                            "可設LED屏最大點數:8188(寬),16376(高)"};
    setScreen(1920, 1080, kHorizontal, 960, 1080);
    onPage({[&] {
        chooseSplice(+2);  // horizontal to copy
        for (int lang = 0; lang < 5; ++lang) {
            SCOPED_TRACE(lang);
            setLanguage(lang);
            EXPECT_EQ(g_ledset->ui->label_tip->text(), QString::fromUtf8(notes[lang]));
            for (const std::string& t : textsNotFitting(g_ledset)) ADD_FAILURE() << t;
            if (lang == 1) shot("copy-note");
        }
        chooseSplice(+1);  // back to horizontal: the common limit again
        EXPECT_EQ(g_ledset->ui->label_tip->text(),
                  QString::fromUtf8("可設LED屏最大點數:16376(寬),16376(高)"));
    }});
}

// ---- Splice ----

struct SpliceCase {
    int w, h, mode;
    int steps;  // Left (-) or Right (+) in the combo's edit mode
    Fields after;
    int picture;
};

TEST_F(LedSetPage, SpliceChoicesFillTheOutputs) {
    const SpliceCase cases[] = {
        {1920, 1080, kCopy, +1, {1920, 1080, 960, 1080, 960, 1080}, 0},
        {1921, 1080, kCopy, +1, {1921, 1080, 968, 1080, 953, 1080}, 0},
        {1000, 1080, kCopy, +1, {1000, 1080, 504, 1080, 496, 1080}, 0},
        {1920, 1080, kCopy, -1, {1920, 1080, 1920, 542, 1920, 538}, 1},
        {1920, 1081, kHorizontal, +1, {1920, 1081, 1920, 540, 1920, 541}, 1},
        {10000, 1080, kHorizontal, -1, {8188, 1080, 8188, 1080, 8188, 1080}, 2},
        {1920, 1080, kVertical, +4, {1920, 1080, 1920, 1080, 1920, 1080}, 2},
    };
    for (const SpliceCase& c : cases) {
        SCOPED_TRACE(c.w);
        setScreen(c.w, c.h, c.mode, c.w / 2, c.h);
        onPage({[&] {
            const Fields before = shown();
            moveTo(ledset::kCombo);
            key(kKeyOk);
            EXPECT_EQ(panel_style::stateOf(g_ledset->ui->comboBox), panel_style::kEdit);
            for (int i = 0; i < std::abs(c.steps); ++i) key(c.steps > 0 ? kKeyRight : kKeyLeft);
            EXPECT_EQ(g_ledset->ui->comboBox->currentIndex(), c.picture);
            EXPECT_EQ(shown(), before) << "nothing changes before the second OK";
            if (c.w == 1920 && c.steps == -1) shot("combo-edit");
            key(kKeyOk);
            EXPECT_EQ(shown(), c.after);
            const QImage want = QImage(pictureOf(pic::kSplice[c.picture])).scaled(70, 20);
            EXPECT_EQ(g_ledset->ui->out_label->pixmap(Qt::ReturnByValue).toImage().size(),
                      QSize(70, 20));
            EXPECT_FALSE(want.isNull());
            key(kKeyRight);  // out of edit mode: the focus moves on
            EXPECT_EQ(panel_style::stateOf(g_ledset->ui->lineEdit_out1_width), panel_style::kFocus);
            ++at_;
        }});
        stopPanel();
    }
}

// ---- Apply ----

TEST_F(LedSetPage, ApplyOfUnchangedValuesRaisesOnlyTheFlag) {
    onPage({[this] {
        const uint16_t window0w = store().rd16(ZemRamPara::windowAddr(0, 14));
        moveTo(ledset::kApply);
        key(kKeyOk);
        EXPECT_EQ(takeApply(), 1);
        EXPECT_FALSE(g_tip && g_tip->isVisible());
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(0, 14)), window0w);
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(3, 0)), 1) << "windows stay on";
        EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kIdle);
    }});
}

class LedSetApply : public LedSetPage {
protected:
    void TearDown() override {
        setFpgas(0, 0);
        LedSetPage::TearDown();
    }
    // The FPGA manager's mirror of register 80 (3: the FPGA runs), reached as the program
    // reaches it once its links start; the FPGA thread stays off.
    static void setFpgas(uint8_t f0, uint8_t f1) {
        fpga_manage* f = fpga_manage::pInstance();
        f->stop_thread();
        comm_hooks::wire();
        zem::MutexLocker lock(f->mirror_mutex);
        f->MCU_REG_func[0][80] = f0;
        f->MCU_REG_func[1][80] = f1;
    }
    // A new width of 1280 entered and applied; the check mark's loop runs `inTip`.
    void applyNewWidth(const std::function<void()>& inTip) {
        onPage(join(entry(ledset::kLedW, "1280"), {[this] {
                                                       moveTo(ledset::kApply);
                                                       key(kKeyOk);
                                                   },
                                                   [&] {
                                                       ASSERT_TRUE(g_tip->isVisible());
                                                       inTip();
                                                       tick(TIP::kShowTicks);
                                                   },
                                                   [this] {
                                                       EXPECT_FALSE(g_tip->isVisible());
                                                       key(kKeyLeft);  // the page is live
                                                       key(kKeyBack);
                                                       EXPECT_EQ(g_page_focus, kPageOutputSet);
                                                   }}));
    }
    void expectWritten() {
        EXPECT_EQ(written(), (Fields{1280, 1080, 960, 1080, 320, 1080}));
        EXPECT_EQ(store().rd16(1416), 960);
        EXPECT_EQ(store().rd16(1418), 0);
        EXPECT_EQ(store().rd16(1376), kHorizontal);
        const int win0 = ZemRamPara::windowAddr(0, 0);
        EXPECT_EQ(store().rd16(win0 + 10), 0);
        EXPECT_EQ(store().rd16(win0 + 12), 0);
        EXPECT_EQ(store().rd16(win0 + 14), 1280);
        EXPECT_EQ(store().rd16(win0 + 16), 1080);
        for (int w = 1; w < ZemRamPara::kWindowCount; ++w)
            EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(w, 0)), 0) << "window " << w;
        EXPECT_EQ(store().rd16(ZemRamPara::windowAddr(0, 0)), 1);
    }
};

TEST_F(LedSetApply, ChangedValuesWriteTheScreenAndStartTheHandshakeWithBothFpgasUp) {
    setFpgas(3, 3);
    applyNewWidth([this] {
        expectWritten();
        EXPECT_EQ(takeApply(), 1) << "raised before the check mark shows";
        EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kBlanking);
        shot("tip");
    });
}

// The check mark is modal: a touch on a field beside it opens no keypad inside its loop, and a
// touch on the tip does nothing.
TEST_F(LedSetApply, TouchesWhileTheCheckMarkShowsReachNothingBeneath) {
    setFpgas(3, 3);
    applyNewWidth([this] {
        touch(panelPoint(g_ledset->ui->lineEdit_ledh));
        touch(panelPoint(g_tip));
        EXPECT_FALSE(g_numberkeyboard->isVisible()) << "the keypad opened under the tip";
        EXPECT_TRUE(g_tip->isVisible());
        shot("touched");
    });
}

TEST_F(LedSetApply, ASpliceChangeAloneStartsTheHandshake) {
    setFpgas(3, 3);
    onPage({[this] {
                moveTo(ledset::kCombo);
                keys({kKeyOk, kKeyRight, kKeyOk});  // the next splice, committed
                moveTo(ledset::kApply);
                key(kKeyOk);
            },
            [this] {
                ASSERT_TRUE(g_tip->isVisible());
                EXPECT_NE(store().rd16(1376), kHorizontal);
                EXPECT_EQ(store().rd16(1378), 1920) << "the size as it was";
                EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kBlanking);
                tick(TIP::kShowTicks);
            },
            [this] {
                EXPECT_FALSE(g_tip->isVisible());
                key(kKeyBack);
            }});
}

TEST_F(LedSetApply, OneFpgaDownLeavesTheHandshakeAlone) {
    for (const auto& state : {std::make_pair(3, 1), std::make_pair(0, 3)}) {
        setFpgas(uint8_t(state.first), uint8_t(state.second));
        applyNewWidth([this] {
            expectWritten();
            EXPECT_EQ(led_size_handshake::get().state(), led_size_handshake::kIdle);
        });
        stopPanel();
        setScreen(1920, 1080, kHorizontal, 960, 1080);
        for (int w = 0; w < ZemRamPara::kWindowCount; ++w)
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), 1);
    }
}

// The refresh saves the parameters under the C331 mutex: it must find the mutex free while
// the check mark shows.
TEST_F(LedSetApply, ARefreshWhileTheCheckMarkShowsSavesAndThePageStaysLive) {
    for (int id : {1, 2, 12}) {
        SCOPED_TRACE(id);
        applyNewWidth([this, id] {
            store().test_signal(id);
            EXPECT_EQ(store().persisted16(1378), 1280) << "saved";
            EXPECT_EQ(shown().w, 1280);
        });
        stopPanel();
        setScreen(1920, 1080, kHorizontal, 960, 1080);
    }
}

// ---- Outputs that no longer fit ----

TEST_F(LedSetPage, AFreshPageOverANarrowScreenNeverWritesOutputsPastIt) {
    // OUT1 left at 1920 by an older screen, the screen now 1000 x 1080.
    setScreen(1000, 1080, kHorizontal, 1920, 1080);
    store().wr16_no_gen_bump(1420, 64616);
    onPage({[this] {
                EXPECT_EQ(shown(), (Fields{1000, 1080, 1000, 1080, 0, 1080}));
                moveTo(ledset::kApply);
                key(kKeyOk);
            },
            [this] {
                tick(TIP::kShowTicks);
                EXPECT_EQ(written(), (Fields{1000, 1080, 1000, 1080, 0, 1080}));
            }});
    // Consistent outputs are shown as they are.
    stopPanel();
    setScreen(1000, 1080, kHorizontal, 504, 1080);
    onPage({[this] { EXPECT_EQ(shown(), (Fields{1000, 1080, 504, 1080, 496, 1080})); }});
}

TEST_F(LedSetPage, ASizeCutBelowOut1TakesTheOutputsAlong) {
    struct Cut {
        int mode, w1, h1, field;
        const char* digits;
        Fields after;
    };
    const Cut cuts[] = {
        {kHorizontal, 960, 1080, ledset::kLedW, "800", {800, 1080, 800, 1080, 0, 1080}},
        {kVertical, 1920, 542, ledset::kLedH, "600", {1920, 600, 1920, 542, 1920, 58}},
        {kVertical, 1920, 542, ledset::kLedH, "512", {1920, 512, 1920, 512, 1920, 0}},
    };
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.digits);
        setScreen(1920, 1080, c.mode, c.w1, c.h1);
        onPage(join(entry(c.field, c.digits), {[&] {
                                                   EXPECT_EQ(shown(), c.after);
                                                   moveTo(ledset::kApply);
                                                   key(kKeyOk);
                                               },
                                               [&] {
                                                   tick(TIP::kShowTicks);
                                                   EXPECT_EQ(written(), c.after);
                                               }}));
        stopPanel();
    }
}

// A size stored by other means past the page's limits: Apply holds it to them once more.
TEST_F(LedSetPage, ApplyHoldsAStoredSizeToTheCopyWidthAndTheArea) {
    struct Stored {
        int mode, w, h;
        int want_w, want_h;
    };
    const Stored cases[] = {
        {kCopy, 10000, 1080, ledset::kCopyMaxWidth, 1080},
        {kHorizontal, ledset::kMaxSize, ledset::kMaxSize, ledset::kMaxSize,
         ledset::kMaxArea / ledset::kMaxSize},
    };
    for (const Stored& c : cases) {
        SCOPED_TRACE(c.w);
        setScreen(c.w, c.h, c.mode, c.w / 2, c.h);
        onPage({[this] {
                    moveTo(ledset::kApply);
                    key(kKeyOk);
                },
                [&] {
                    tick(TIP::kShowTicks);
                    EXPECT_EQ(store().rd16(1378), c.want_w);
                    EXPECT_EQ(store().rd16(1380), c.want_h);
                    EXPECT_EQ(shown().w, c.want_w) << "the fields show what was written";
                }});
        stopPanel();
    }
}

// ---- Refresh, touch, leaving ----

TEST_F(LedSetPage, ANewSizeFromElsewhereRefillsTheFields) {
    onPage({[this] {
        key(kKeyRight);
        ++at_;
        {
            zem::MutexLocker lock(c331_manage::c331_mutex);
            setScreen(2560, 1440, kVertical, 2560, 722);  // as the PC writes it
        }
        store().test_signal(1);
        EXPECT_EQ(shown(), (Fields{2560, 1440, 2560, 722, 2560, 718}));
        EXPECT_EQ(g_ledset->ui->comboBox->currentIndex(), 1);
        EXPECT_EQ(panel_style::stateOf(g_ledset->ui->lineEdit_ledh), panel_style::kFocus)
            << "the focus stays";
        store().test_signal(1);  // saved: nothing changed since
        EXPECT_EQ(shown().w, 2560);
    }});
}

TEST_F(LedSetPage, ATouchedComboChangesNothing) {
    onPage({[this] {
        QComboBox* combo = g_ledset->ui->comboBox;
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(40, 9), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(combo, &press);
        QWheelEvent wheel(QPointF(40, 9), QPointF(40, 9), QPoint(0, -120), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(combo, &wheel);
        EXPECT_EQ(combo->currentIndex(), 0);
        moveTo(ledset::kApply);
        key(kKeyOk);
        EXPECT_EQ(store().rd16(1376), kHorizontal);
        EXPECT_EQ(takeApply(), 1);
    }});
}

TEST_F(LedSetPage, CancelBackAndMode) {
    onPage({[this] {
                moveTo(ledset::kCancel);
                shot("cancel-focused");
                key(kKeyOk);
                EXPECT_EQ(g_ledset, nullptr);
                EXPECT_EQ(g_page_focus, kPageOutputSet);
            },
            [this] {
                at_ = 0;
                panel::open(g_ledset, kPageLedSet);
            },
            [this] {
                store().wr16_no_gen_bump(772, 1);
                key(kKeyMode);
                EXPECT_NE(g_ledset, nullptr);
                EXPECT_EQ(g_mode_shortcut_key, 0);
                store().wr16_no_gen_bump(772, 0);
                key(kKeyMode);
                EXPECT_EQ(g_ledset, nullptr);
                EXPECT_EQ(g_mode_shortcut_key, 1);
                EXPECT_EQ(takeApply(), 0);
            }});
}

struct LedTexts {
    int lang;
    const char* title;
    const char* width;
    const char* entry1;
    const char* tip;
    const char* apply;
};

TEST_F(LedSetPage, EveryLanguageFits) {
    // clang-format off
    const LedTexts rows[] = {
        {0, "LED设置", "宽", "垂直拼接", "可设LED屏最大点数:16376(宽),16376(高)", "应用"},
        {1, "LED Setting", "W", "VerticalS", "LED max:16376(w),16376(h)", "Apply"},
        {2, "Настройка LED", "Ширина", "Вертикально", "Макс.: 16376(ш), 16376(в)", "OK"},
        {3, "Cài đặt LED", "Rộng", "Chiều cao", "Điểm ảnh lớn nhất:16376(ngang),16376(dọc)", "Đồng ý"},
        {4, "LED設置", "寬", "垂直拼接", "可設LED屏最大點數:16376(寬),16376(高)", "應用"},
    };
    // clang-format on
    onPage({[&] {
        for (const PictureName& p : pic::kSplice)
            EXPECT_FALSE(QImage(pictureOf(p)).isNull()) << p.name;
        EXPECT_FALSE(QImage(pictureOf(pic::kWarning)).isNull());
        for (const LedTexts& r : rows) {
            SCOPED_TRACE(r.lang);
            setLanguage(r.lang);
            Ui::ledset* ui = g_ledset->ui;
            EXPECT_EQ(ui->label_ledset->text(), QString::fromUtf8(r.title));
            EXPECT_EQ(ui->label_out2_width->text(), QString::fromUtf8(r.width));
            EXPECT_EQ(ui->comboBox->itemText(1), QString::fromUtf8(r.entry1));
            EXPECT_EQ(ui->label_tip->text(), QString::fromUtf8(r.tip));
            EXPECT_EQ(ui->Button_apply->text(), QString::fromUtf8(r.apply));
            EXPECT_EQ(ui->comboBox->currentIndex(), 0) << "the entry survives the re-text";
            for (const std::string& t : comboEntriesNotFitting(g_ledset->ui->comboBox))
                ADD_FAILURE() << t;
            shot(QString("lang%1").arg(r.lang));
        }
    }});
}

// ---- With the C331 thread ----

class LedSetOnTheChip : public LedSetPage {
protected:
    void SetUp() override {
        LedSetPage::SetUp();
        platform::installClock(nullptr);  // the thread waits in real time
        platform::sim::buildDefaultBox();
        for (int w = 1; w < ZemRamPara::kWindowCount; ++w)
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), 0);
        c331_manage::pInstance();
    }
    void TearDown() override {
        c331_manage::shutdown();
        LedSetPage::TearDown();
    }
    static bool panelIs(int w, int h, int w1) {
        c331_manage* c = c331_manage::p_c331_manage;
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return c->thread_state == 8 && c->gPanel.ledW == w && c->gPanel.ledH == h &&
               c->gPanel.out1w == w1;
    }
};

// What the page writes at the edges of its fields, in each splice, is applied as written, by
// its Apply and as the same words from a PC: the page can't produce a set the box refuses.
struct EdgeAction {
    int item;            // a field, or kCombo to choose the splice entry
    const char* digits;  // typed on the keypad; for the combo, the entry as a digit
};
struct EdgeCase {
    const char* what;
    std::vector<EdgeAction> actions;
    uint16_t words[5];  // RAM 1376, 1378, 1380, 1412, 1414 as written
};

TEST_F(LedSetOnTheChip, EveryScreenThePageWritesIsApplied) {
    constexpr int W = ledset::kLedW, H = ledset::kLedH, S = ledset::kCombo;
    constexpr int O1W = ledset::kOut1W, O1H = ledset::kOut1H;
    const char* kH = "0";  // combo entries
    const char* kV = "1";
    const char* kC = "2";
    // clang-format off
    const EdgeCase cases[] = {
        {"horizontal, the least width halved", {{H, "1080"}, {W, "512"}, {S, kH}}, {3, 512, 1080, 256, 1080}},
        {"horizontal, 1000 wide: 504 and 496", {{H, "1080"}, {W, "1000"}, {S, kH}}, {3, 1000, 1080, 504, 1080}},
        {"horizontal, OUT1 the whole widest screen", {{H, "800"}, {W, "16376"}, {S, kH}, {O1W, "20000"}}, {3, 16376, 800, 16376, 800}},
        {"horizontal, the least OUT1 on the widest screen", {{H, "1080"}, {W, "512"}, {S, kH}, {W, "16376"}}, {3, 16376, 800, 256, 800}},
        {"vertical, the least height halved", {{W, "1920"}, {H, "512"}, {S, kV}}, {2, 1920, 512, 1920, 258}},
        {"vertical, an odd least height", {{W, "1920"}, {H, "513"}, {S, kV}}, {2, 1920, 513, 1920, 256}},
        {"vertical, OUT1 the whole tallest screen", {{W, "800"}, {H, "16376"}, {S, kV}, {O1H, "20000"}}, {2, 800, 16376, 800, 16376}},
        {"copy, a width past the cap", {{S, kC}, {H, "16376"}, {W, "20000"}}, {4, 8188, 1600, 8188, 1600}},
        {"copy, the least screen", {{S, kC}, {W, "512"}, {H, "512"}}, {4, 512, 512, 512, 512}},
    };
    // clang-format on
    const int words[5] = {1376, 1378, 1380, 1412, 1414};
    const auto appliedIs = [&](const uint16_t* want) {
        c331_manage* c = c331_manage::p_c331_manage;
        zem::MutexLocker lock(c331_manage::c331_mutex);
        if (c->thread_state != 8) return false;
        for (int i = 0; i < 5; ++i)
            if (c->applied16(words[i]) != want[i] || store().rd16(words[i]) != want[i])
                return false;
        return true;
    };
    link_session pc(LinkKind::Tcp, "test");
    const auto ask = [&](const Bytes& b) { return askSession(pc, b); };
    const auto pcApplies = [&](const uint16_t* v) {
        EXPECT_EQ(status(ask(writeRam(1376, cat({le16(v[0]), le16(v[1]), le16(v[2])})))), 0);
        EXPECT_EQ(status(ask(writeRam(1412, cat({le16(v[3]), le16(v[4])})))), 0);
        EXPECT_EQ(status(ask(writeReg(11, 0xFF, {0}))), 0);
        const Bytes d = ask(readRam(1376, 6)), o = ask(readRam(1412, 4));
        ASSERT_EQ(d.size(), 17u);
        ASSERT_EQ(o.size(), 15u);
        EXPECT_EQ(std::vector<int>({d[11] | d[12] << 8, d[13] | d[14] << 8, d[15] | d[16] << 8,
                                    o[11] | o[12] << 8, o[13] | o[14] << 8}),
                  std::vector<int>(v, v + 5))
            << "read back as written";
        session({Item::until([&] { return appliedIs(v); })}, 10000);
    };
    persist();
    startPanel();
    session({Item::until([] { return c331_manage::p_c331_manage->thread_state == 8; })});
    const uint16_t other[5] = {4, 1920, 1080, 1920, 1080};
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Item> steps = {[this] {
            at_ = 0;
            panel::open(g_ledset, kPageLedSet);
        }};
        for (const EdgeAction& a : c.actions) {
            if (a.item == S) {
                const int target = a.digits[0] - '0';
                steps.push_back(
                    [this, target] { chooseSplice((target - g_ledset->combo_index + 3) % 3); });
            } else {
                const std::vector<Item> typed = entry(a.item, a.digits);
                steps.insert(steps.end(), typed.begin(), typed.end());
            }
        }
        steps.push_back([this] {
            moveTo(ledset::kApply);
            key(kKeyOk);
        });
        steps.push_back(Item::until([&] { return appliedIs(c.words); }));
        steps.push_back([this] { tick(TIP::kShowTicks); });
        steps.push_back([this] { key(kKeyBack); });
        session(steps, 20000);
        // The same words from a PC, after another screen.
        pcApplies(other);
        pcApplies(c.words);
    }
}

TEST_F(LedSetOnTheChip, ApplyReachesTheOutputPanelWhileTheCheckMarkShows) {
    persist();
    startPanel();
    session(
        {Item::until([] { return c331_manage::p_c331_manage->thread_state == 8; }),
         [this] {
             at_ = 0;
             panel::open(g_ledset, kPageLedSet);
         },
         [this] {
             moveTo(ledset::kLedW);
             key(kKeyOk);
         },
         [this] { typeOnKeypad("1280"); },
         [this] {
             moveTo(ledset::kApply);
             key(kKeyOk);
         },
         // In the check mark's loop: the C331 thread applies, its refresh comes queued,
         // refills the page and saves.
         Item::until([this] { return panelIs(1280, 1080, 960) && store().shadow16(1378) == 1280; }),
         [this] {
             EXPECT_TRUE(g_tip->isVisible());
             EXPECT_EQ(shown(), (Fields{1280, 1080, 960, 1080, 320, 1080}));
             tick(TIP::kShowTicks);
         },
         [this] { key(kKeyBack); }},
        20000);
    EXPECT_EQ(g_ledset, nullptr);
}

}  // namespace
