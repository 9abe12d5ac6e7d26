// The crop editor as a user works it: list paging both ways for 1, 6, 7 and 13 entries, the add
// form naming and numbering, edit and delete, the full table (before and under the form),
// refused values, a record numbered past the bitmap, PC changes under the keypad and under the
// form's focus, Back to the source page with its counts, Mode, and every language.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "core/sync_update.h"
#include "input_numbers.h"
#include "page_driver.h"
#include "ui/input/custom_mode.h"
#include "ui/input/input_choose.h"
#include "ui/input/input_cut.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/option.h"
#include "ui_input_cut.h"

namespace {

class CropEditor : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int k = 0; k < 40; ++k) store().wr16_no_gen_bump(1472 + 10 * k, 0);
        for (int w = 0; w < 6; ++w)
            store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), w == 0 ? 1 : 0);
        setTimingWord(256 + 6 * kHdmi1, 1920);
        setTimingWord(258 + 6 * kHdmi1, 1080);
        setTimingWord(260 + 6 * kHdmi1, 60);
        saveShadow();
    }
    void saveShadow() { std::memcpy(store().shadow, store().ram.data(), sizeof store().ram); }
    // Record k: crop number n of source s, x 10 n, w x h; written as the PC writes it.
    void setCrop(int k, int s, int n, int w = 640, int h = 360) {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        const int a = 1472 + 10 * k;
        store().wr16_no_gen_bump(a, uint16_t(0x8000 | (n - 1) << 8 | s));
        store().wr16_no_gen_bump(a + 2, uint16_t(10 * n));
        store().wr16_no_gen_bump(a + 4, 0);
        store().wr16_no_gen_bump(a + 6, uint16_t(w));
        store().wr16_no_gen_bump(a + 8, uint16_t(h));
    }
    void clearCrop(int k) {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().wr16_no_gen_bump(1472 + 10 * k, 0);
    }
    // Home screen, main menu, options menu, the crop editor; then the steps; then Back out to
    // the main menu.
    void onEditor(std::vector<Item> steps) {
        startPanel();
        key(kKeyOk);
        std::vector<Item> all = {[this] {
                                     keys({kKeyRight, kKeyRight, kKeyRight, kKeyOk});
                                 },
                                 [this] {
                                     keys({kKeyRight, kKeyOk});
                                 }};
        all.insert(all.end(), steps.begin(), steps.end());
        all.push_back([this] {
            backUntilGone([] { return g_inputcut && g_inputcut->level > 0; },
                          "the crop editor's levels");
            if (g_inputcut) key(kKeyBack);
            if (g_option) key(kKeyBack);
        });
        session(all);
        EXPECT_EQ(g_inputcut, nullptr);
    }
    InputCut& page() const { return *opened(g_inputcut); }
    Ui::InputCut& form() const { return *opened(g_inputcut)->ui; }
    // The list's name labels in cell order.
    QStringList names() const {
        QStringList out;
        for (QLabel* l : page().list_frame->findChildren<QLabel*>())
            if (l->width() == 80) out << l->text();
        return out;
    }
    QStringList sizes() const {
        QStringList out;
        for (QLabel* l : page().list_frame->findChildren<QLabel*>())
            if (l->width() == 88) out << l->text();
        return out;
    }
    // From the tabs into HDMI1's list, then Right to entry e (or the Add button for -1).
    void toEntry(int e) {
        if (page().level == InputCut::kTabs) key(kKeyOk);
        for (int i = 0; i < 50 && entry() != e; ++i) key(kKeyRight);
        ASSERT_EQ(entry(), e);
    }
    int entry() const {
        return page().current_pag == 0 ? page().ui_select - 1
                                       : 6 * page().current_pag + page().ui_select;
    }
    // Moves the form focus to the button or field with that text or object name.
    void formFocus(QWidget* target) {
        for (int i = 0; i < 8 && panel_style::stateOf(target) != panel_style::kFocus; ++i)
            key(kKeyRight);
        ASSERT_EQ(panel_style::stateOf(target), panel_style::kFocus);
    }
    // Types digits on the open keypad and confirms.
    void type(const QString& digits) {
        for (int i = 0; i < 6; ++i) click("ButtonX");
        for (QChar c : digits) click(QString("Button") + c);
        click("Button_ok");
    }
    // The refresh a PC write raises, run at once (a queued one would run the session's next
    // step inside this one).
    void pcRefresh() { SyncUpdate::pInstance()->para_sync(1); }
    int takeApply() {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        int n = 0;
        while (c331_manage::take_apply() != 0) ++n;
        return n;
    }
};

TEST_F(CropEditor, ListPagesBothWays) {
    struct Case {
        int entries;
        std::vector<int> right;  // entries reached by Right from the Add button (-1 Add)
        int leftFromAdd;         // entry reached by Left on the Add button
        int pageOfIt;
    };
    const Case cases[] = {
        {1, {0, -1}, 0, 0},
        {6, {0, 1, 2, 3, 4, 5, -1}, 5, 0},
        {7, {0, 1, 2, 3, 4, 5, 6, -1}, 6, 1},
        {13, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1}, 12, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        for (int n = 1; n < c.entries; ++n) setCrop(n - 1, kHdmi1, n);
        saveShadow();
        onEditor({[&] {
            key(kKeyOk);
            EXPECT_EQ(page().ui_select, 0);
            EXPECT_EQ(panel_style::stateOf(page().add_button), panel_style::kFocus);
            for (int e : c.right) {
                key(kKeyRight);
                EXPECT_EQ(entry(), e);
                EXPECT_EQ(page().current_pag, e < 0 ? 0 : e / 6);
            }
            key(kKeyLeft);
            EXPECT_EQ(entry(), c.leftFromAdd);
            EXPECT_EQ(page().current_pag, c.pageOfIt);
            EXPECT_EQ(names().size(), c.entries - 6 * c.pageOfIt);
            shot(QString("entries-%1-last").arg(c.entries));
            key(kKeyRight);
            EXPECT_EQ(entry(), -1);
        }});
        stopPanel();
    }
}

TEST_F(CropEditor, AddTakesTheLowestFreeNumber) {
    setCrop(0, kHdmi1, 1);
    setCrop(2, kHdmi1, 3);
    saveShadow();
    onEditor({[this] {
        EXPECT_EQ(sizes().value(0), "1920x1080@60Hz");
        toEntry(-1);
        key(kKeyOk);
        EXPECT_EQ(page().level, InputCut::kAddForm);
        EXPECT_EQ(form().label_change_source->text(), "Name:HDMI1-Crop-3");
        EXPECT_EQ(form().lineEdit_W->text(), "1920");
        EXPECT_FALSE(page().delete_button->isVisible());
        shot("add-form");
        formFocus(page().ok_button);
        key(kKeyOk);
        EXPECT_EQ(page().level, InputCut::kList);
        EXPECT_EQ(store().rd16(1472 + 10), 0x8000 | 1 << 8 | kHdmi1) << "record 1, crop 2";
        EXPECT_EQ(store().rd16(1472 + 16), 1920);
        EXPECT_EQ(names(), QStringList({"HDMI1", "HDMI1_crop1", "HDMI1_crop2", "HDMI1_crop3"}));
        EXPECT_EQ(takeApply(), 1);
        shot("added");
    }});
}

TEST_F(CropEditor, EditRewritesItsCropThroughTheKeypad) {
    setCrop(0, kHdmi1, 1);
    setCrop(1, kHdmi1, 3);
    saveShadow();
    onEditor({[this] {
                  toEntry(2);
                  EXPECT_EQ(names().value(2), "HDMI1_crop3");
                  key(kKeyOk);
                  EXPECT_EQ(page().level, InputCut::kEditForm);
                  EXPECT_EQ(form().label_change_source->text(), "Name:HDMI1-Crop-2");
                  EXPECT_EQ(form().lineEdit_X->text(), "30");
                  key(kKeyOk);  // the X field: the keypad's loop runs the next step
              },
              [this] {
                  EXPECT_TRUE(g_numberkeyboard->isVisible());
                  shot("keypad");
                  type("123");
              },
              [this] {
                  EXPECT_EQ(form().lineEdit_X->text(), "123");
                  formFocus(page().ok_button);
                  key(kKeyOk);
                  EXPECT_EQ(store().rd16(1472 + 12), 123);
                  EXPECT_EQ(store().rd16(1472 + 10), 0x8000 | 2 << 8 | kHdmi1);
                  EXPECT_EQ(names().size(), 3) << "no crop added";
                  EXPECT_EQ(entry(), 2);
              }});
}

TEST_F(CropEditor, DeletingTheLastEntryMovesToThePreviousOne) {
    for (int n = 1; n <= 6; ++n) setCrop(n - 1, kHdmi1, n);  // 7 entries: entry 6 on page 1
    saveShadow();
    onEditor({[this] {
        toEntry(6);
        EXPECT_EQ(page().current_pag, 1);
        key(kKeyOk);
        formFocus(page().delete_button);
        key(kKeyOk);
        EXPECT_EQ(store().rd16(1472 + 50), 0);
        EXPECT_EQ(page().level, InputCut::kList);
        EXPECT_EQ(entry(), 5) << "the previous page's last cell";
        EXPECT_EQ(page().current_pag, 0);
        shot("deleted-last");
        // OK there opens that crop's form, not one for an entry without a record.
        key(kKeyOk);
        EXPECT_EQ(page().level, InputCut::kEditForm);
        EXPECT_EQ(form().lineEdit_X->text(), "50");
    }});
}

TEST_F(CropEditor, AFullTableDrawsAddUnavailableAndSaysSoUnderTheForm) {
    for (int k = 0; k < 40; ++k) setCrop(k, kHdmi2, k + 1);
    saveShadow();
    onEditor({[this] {
        toEntry(-1);
        EXPECT_FALSE(page().add_button->isEnabled());
        key(kKeyOk);
        EXPECT_EQ(page().level, InputCut::kList);
        shot("full");
        // One free record: the form opens; the PC fills it while the form is open.
        clearCrop(39);
        pcRefresh();
        EXPECT_TRUE(page().add_button->isEnabled());
        key(kKeyOk);
        EXPECT_EQ(page().level, InputCut::kAddForm);
        setCrop(39, kHdmi2, 40);
        pcRefresh();
        formFocus(page().ok_button);
        key(kKeyOk);
        EXPECT_EQ(page().level, InputCut::kAddForm) << "the form stays open";
        EXPECT_EQ(form().label_change_source->text(), "Crop table full (40)");
        EXPECT_EQ(store().ZemGetSourceNum(kHdmi1, 40), 0);
        shot("full-under-form");
    }});
}

TEST_F(CropEditor, RefusedValuesKeepTheFormOpenWithTheFieldMarked) {
    struct Case {
        const char* field;
        const char* value;
    };
    const Case cases[] = {{"lineEdit_X", ""},     {"lineEdit_Y", "*"}, {"lineEdit_X", "40000"},
                          {"lineEdit_W", "0"},    {"lineEdit_H", "0"}, {"lineEdit_H", "-5"},
                          {"lineEdit_W", "99999"}};
    onEditor({[&] {
        toEntry(-1);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.field) + "=" + c.value);
            key(kKeyOk);
            ASSERT_EQ(page().level, InputCut::kAddForm);
            auto* field = widget<QLineEdit>(c.field);
            field->setText(c.value);
            formFocus(page().ok_button);
            key(kKeyOk);
            EXPECT_EQ(page().level, InputCut::kAddForm);
            EXPECT_EQ(panel_style::stateOf(field), panel_style::kWrong);
            EXPECT_EQ(store().ZemGetSourceNum(kHdmi1, 40), 0);
            key(kKeyBack);  // Back acts as Cancel
            EXPECT_EQ(page().level, InputCut::kList);
        }
        shot("refused");
        key(kKeyOk);
        widget<QLineEdit>("lineEdit_X")->setText("32767");
        formFocus(page().ok_button);
        key(kKeyOk);
        EXPECT_EQ(store().rd16(1474), 32767);
    }});
}

TEST_F(CropEditor, ARecordNumberedPastFortyIsNotAnEntry) {
    setCrop(0, kHdmi1, 41);
    setCrop(1, kHdmi1, 2);
    saveShadow();
    onEditor({[this] {
        EXPECT_EQ(page().entry_counts[kHdmi1], 2) << "the source row counts crop 2 only";
        toEntry(1);
        EXPECT_EQ(names(), QStringList({"HDMI1", "HDMI1_crop2"}));
        key(kKeyRight);
        EXPECT_EQ(entry(), -1) << "no entry past crop 2";
        key(kKeyLeft);
        key(kKeyOk);
        EXPECT_EQ(form().label_change_source->text(), "Name:HDMI1-Crop-1");
        EXPECT_EQ(form().lineEdit_X->text(), "20") << "crop 2's own values";
    }});
}

TEST_F(CropEditor, APcDeleteUnderTheKeypadWritesNoOtherCrop) {
    setCrop(0, kHdmi1, 1);
    setCrop(1, kHdmi1, 3);
    setCrop(2, kHdmi1, 5);
    saveShadow();
    onEditor({[this] {
                  toEntry(2);  // crop 3
                  key(kKeyOk);
                  key(kKeyOk);
              },
              [this] {
                  // The PC deletes crop 1: entry 2 now names crop 5.
                  clearCrop(0);
                  pcRefresh();
                  type("77");
              },
              [this] {
                  EXPECT_EQ(form().lineEdit_X->text(), "77") << "typed values stay";
                  formFocus(page().ok_button);
                  key(kKeyOk);
                  EXPECT_EQ(store().rd16(1472 + 12), 77) << "crop 3 rewritten";
                  EXPECT_EQ(store().rd16(1472 + 22), 50) << "crop 5 untouched";
              },
              [this] {
                  // Deleted meanwhile: the apply changes nothing.
                  toEntry(1);
                  key(kKeyOk);
                  EXPECT_EQ(form().lineEdit_X->text(), "77");
                  clearCrop(1);
                  pcRefresh();
                  formFocus(page().delete_button);
                  key(kKeyOk);
                  EXPECT_EQ(store().rd16(1472 + 20), 0x8000 | 4 << 8 | kHdmi1) << "crop 5 kept";
              }});
}

TEST_F(CropEditor, APcAddWithFocusOnCancelStillCancels) {
    setCrop(0, kHdmi1, 1);
    saveShadow();
    onEditor({[this] {
        toEntry(1);
        key(kKeyOk);
        formFocus(page().cancel_button);
        setCrop(5, kHdmi1, 2);
        pcRefresh();
        key(kKeyOk);
        EXPECT_EQ(page().level, InputCut::kList);
        EXPECT_EQ(store().rd16(1472), 0x8000 | kHdmi1) << "not deleted";
        EXPECT_EQ(store().ZemGetSourceNum(kHdmi1, 40), 2);
        EXPECT_EQ(names().size(), 3);
    }});
}

TEST_F(CropEditor, BackReachesTheSourcePageWithItsNewCounts) {
    startPanel();
    key(kKeyOk);
    session({[this] {
                 keys({kKeyRight, kKeyOk});
             },
             [this] {
                 ASSERT_NE(g_inputchoose, nullptr);
                 EXPECT_EQ(g_inputchoose->choice_counts[kHdmi1], 1);
                 keys({kKeyRight, kKeyOk});  // the crop editor button
             },
             [this] {
                 ASSERT_NE(g_inputcut, nullptr);
                 toEntry(-1);
                 key(kKeyOk);
                 formFocus(page().ok_button);
                 keys({kKeyOk, kKeyBack, kKeyBack});
                 EXPECT_EQ(g_inputcut, nullptr);
                 EXPECT_EQ(g_page_focus, kPageInputChoose);
                 EXPECT_EQ(g_inputchoose->choice_counts[kHdmi1], 2);
                 shot("source-page-after");
                 key(kKeyBack);
             }});
    EXPECT_EQ(g_page_focus, kPageMain);
}

TEST_F(CropEditor, ModeReachesTheUserModePageWhoseBackEndsHome) {
    onEditor({[this] {
        key(kKeyMode);
        EXPECT_EQ(g_inputcut, nullptr);
        EXPECT_EQ(g_option, nullptr);
        ASSERT_NE(g_custommode, nullptr);
        EXPECT_EQ(g_page_focus, kPageCustomMode);
        key(kKeyBack);
        settle();
        EXPECT_EQ(g_page_focus, kPageHome);
        EXPECT_TRUE(g_lockwindow && g_lockwindow->isVisible());
    }});
}

// The PC changes the language while the crop editor is in front: the list's first cell, the
// source without a signal, says so in the new language.
TEST_F(CropEditor, APcLanguageChangeReTextsTheFirstCell) {
    for (int word = 0; word < 3; ++word) setTimingWord(256 + 6 * kHdmi1 + 2 * word, 0);
    saveShadow();
    onEditor({[this] {
                  ASSERT_EQ(sizes().value(0), "No signal");
                  pcLanguage(2);
              },
              languageIs(2),
              [this] {
                  EXPECT_EQ(sizes().value(0), QString::fromUtf8("Нет сигнала"));
                  shot("pc-language");
              }});
}

TEST_F(CropEditor, EveryLanguageFitsInTheListAndTheEditForm) {
    setCrop(0, kHdmi1, 1);
    saveShadow();
    onEditor({[this] {
        toEntry(1);
        key(kKeyOk);
        for (int lang = 0; lang < 5; ++lang) {
            g_language = uint8_t(lang);
            page().language_changed();
            const auto wide = textsNotFitting(&page());
            EXPECT_TRUE(wide.empty()) << lang << ": " << (wide.empty() ? "" : wide[0]);
            shot(QString("language-%1").arg(lang));
        }
    }});
}

}  // namespace
