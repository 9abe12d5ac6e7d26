// The number keypad as a user works it from a page: the front keys over its 14 items, digits
// by key and by touch, C and delete, OK and Cancel, keys it ignores, a touch beside it, and the
// page protocol (only the page that opened it takes the result; the field pointer never outlives
// the field).
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/globals.h"
#include "page_driver.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui_main_window.h"

namespace {

constexpr int kDigit0 = 9, kClear = 10, kDelete = 11, kCancel = 12, kOk = 13;

// A page with one numeric field, following the protocol.
class FieldPage : public QObject {
public:
    explicit FieldPage(QWidget* parent) : field(new My_lineEdit(parent)) {
        field->setObjectName("field");
        connect(field, &My_lineEdit::send_show, this,
                [this] { g_numberkeyboard->open_for(this, field, "W", field->text()); });
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
                [this](const QString& s) {
                    if (!g_numberkeyboard->opened_by(this)) return;
                    ++confirmed;
                    if (g_lineedit) g_lineedit->setText(s);
                });
    }
    My_lineEdit* field;
    int confirmed = 0;
};

class Keypad : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        startPanel();
        key(kKeyOk);
        host = new QWidget;
        page = new FieldPage(host);
        page->field->setText("1920");
        QObject::connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit,
                         [this](const QString&) { ++sent; });
    }
    void TearDown() override {
        delete page;
        delete host;
        PanelTest::TearDown();
    }
    QString shown() const { return g_numberkeyboard->text(); }
    // Opens the keypad on the field, runs the steps on it, and ends with the keypad hidden.
    void onKeypad(const std::vector<Step>& steps) {
        std::vector<Item> items = {[this] { emit page->field->send_show(page->field->text()); }};
        for (const Step& s : steps) items.push_back(s);
        items.push_back([this] {
            EXPECT_FALSE(g_numberkeyboard->isVisible()) << "the keypad is still open";
            if (g_numberkeyboard->isVisible()) g_numberkeyboard->hide();
        });
        session(items);
    }
    QWidget* host = nullptr;
    FieldPage* page = nullptr;
    int sent = 0;  // results the keypad sent
};

TEST_F(Keypad, TheFocusRingWrapsAndTheFirstBorderComesWithTheFirstMove) {
    onKeypad({[this] {
        EXPECT_TRUE(g_numberkeyboard->isVisible());
        EXPECT_EQ(g_numberkeyboard->geometry(), QRect(160, 0, 160, 240));
        shot("open");
        key(kKeyLeft);
        EXPECT_EQ(g_numberkeyboard->ui_select(), kOk);
        key(kKeyRight);
        EXPECT_EQ(g_numberkeyboard->ui_select(), 0);
        key(kKeyBack);
    }});
    EXPECT_EQ(sent, 0);
}

TEST_F(Keypad, TypedSequencesGiveTheTextsThePartNames) {
    struct Case {
        const char* name;
        std::vector<int> items;  // pressed in this order (moving with Right)
        const char* shows;
    };
    const Case cases[] = {
        {"first digit replaces the old value", {4}, "5"},
        {"then digits extend it", {4, kDigit0}, "50"},
        {"0 on an empty entry stays 0", {kClear, kDigit0}, "0"},
        {"a digit after that 0 replaces it", {kClear, kDigit0, 6}, "7"},
        {"delete drops the last character", {kDelete}, "192"},
        {"digits extend what delete left", {kDelete, 4}, "1925"},
        {"delete on an empty entry", {kDelete, kDelete, kDelete, kDelete, kDelete}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        page->field->setText("1920");
        onKeypad({[&] {
            for (int item : c.items) pressKeypad(item);
            EXPECT_EQ(shown(), c.shows);
            pressKeypad(kOk);
        }});
        EXPECT_EQ(page->field->text(), c.shows);
    }
    EXPECT_EQ(sent, int(std::size(cases)));
}

TEST_F(Keypad, OkWithoutTypingSendsTheOldValueAndCancelOrBackSendNothing) {
    onKeypad({[this] { pressKeypad(kOk); }});
    EXPECT_EQ(page->field->text(), "1920");
    EXPECT_EQ(sent, 1);
    onKeypad({[this] {
        pressKeypad(3);
        pressKeypad(kCancel);
    }});
    onKeypad({[this] {
        pressKeypad(3);
        key('O');
    }});
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(page->field->text(), "1920") << "the field keeps its value";
}

TEST_F(Keypad, ATouchOnADigitEntersItAndOtherKeysDoNothing) {
    store().wr16_no_gen_bump(ZemRamPara::windowAddr(1, 0), 1);
    onKeypad({[this] {
        click("Button3");
        click("Button0");
        EXPECT_EQ(shown(), "30");
        for (int k : {int('A'), int('B'), int('G'), int('N'), int('P'), int(kKeyMode), int('M')})
            key(k);
        EXPECT_EQ(g_image_current, 0) << "keypad letters reach no page while the keypad is open";
        EXPECT_EQ(g_mode_shortcut_key, 0);
        EXPECT_EQ(shown(), "30");
        shot("typed");
        click("Button_ok");
    }});
    EXPECT_EQ(page->field->text(), "30");
}

// The keypad is modal: a touch on the main menu beside it reaches nothing, one on its buttons
// works them.
TEST_F(Keypad, ATouchBesideItReachesNothingBeneathAndOneOnItsButtonsWorksThem) {
    onKeypad({[this] {
        touch(panelPoint(g_mainwindow->ui->machinestate));
        EXPECT_EQ(g_page_focus, kPageMain) << "the device status page opened under the keypad";
        EXPECT_EQ(QApplication::activeModalWidget(), g_numberkeyboard);
        for (const char* button : {"ButtonC", "Button7", "Button_ok"}) {
            if (QString(button) == "Button_ok") shot("touched");
            touch(panelPoint(widget<QPushButton>(button)));
        }
    }});
    EXPECT_EQ(page->field->text(), "7");
    EXPECT_EQ(sent, 1);
}

TEST_F(Keypad, OnlyThePageThatOpenedTheKeypadTakesItsResult) {
    FieldPage other(host);
    other.field->setText("7");
    onKeypad({[this] { pressKeypad(kOk); }});
    EXPECT_EQ(page->confirmed, 1);
    EXPECT_EQ(other.confirmed, 0);
    EXPECT_EQ(other.field->text(), "7");
    // The field goes while the keypad remembers it: the pointer clears itself.
    delete page->field;
    EXPECT_TRUE(g_lineedit.isNull());
}

// The PC changes the language while the keypad is open: its buttons, and a title given in every
// language, follow at once, not when it is opened again.
TEST_F(Keypad, APcLanguageChangeReTextsTheOpenKeypad) {
    static const Texts kTitle = {"宽", "W", "Ш", "R", "寬"};
    const auto title = [this] { return widget<QLabel>("label")->text(); };
    QObject owner;
    session({[&] { g_numberkeyboard->open_for(&owner, nullptr, kTitle, "12"); },
             [&] {
                 EXPECT_EQ(title(), "W");
                 pcLanguage(4);
             },
             languageIs(4),
             [&] {
                 EXPECT_EQ(widget<QPushButton>("Button_ok")->text(), QString::fromUtf8("確定"));
                 EXPECT_EQ(title(), QString::fromUtf8("寬"));
                 shot("pc-language");
                 key(kKeyBack);
             }});
    EXPECT_FALSE(g_numberkeyboard->isVisible());
}

TEST_F(Keypad, EachLanguageTextsTheBottomButtons) {
    const char* const ok[] = {"确定", "OK", "OK", "Đồng ý", "確定"};
    for (uint8_t lang = 0; lang < 5; ++lang) {
        g_language = lang;
        onKeypad({[&] {
            EXPECT_EQ(widget<QPushButton>("Button_ok")->text(), QString::fromUtf8(ok[lang]));
            shot(QString("lang%1").arg(lang));
            key(kKeyBack);
        }});
    }
}

}  // namespace
