// Every text of the frame's pages fits its widget in the panel font, in all five languages:
// one table per page of the states that show different texts.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

#include "fpga/rcv_job_events.h"
#include "fpga/usb_upgrade.h"
#include "page_driver.h"
#include "ui/input/custom_mode.h"
#include "ui/input/input_choose.h"
#include "ui/input/input_cut.h"
#include "ui/led/lcdshow.h"
#include "ui/led/ledset.h"
#include "ui/led/rcv_recovery.h"
#include "ui/led/smart_mapping.h"
#include "ui/led/test_chart.h"
#include "ui/shell/lock_window.h"
#include "ui/shell/main_window.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_view.h"
#include "ui/system/factory.h"
#include "ui/system/factoryage.h"
#include "ui/system/firmware_usbgrade.h"
#include "ui/system/linkcom.h"
#include "ui/system/linkwlan.h"
#include "ui/system/netset.h"
#include "ui/system/othersetup.h"

namespace {

const char* const kLanguageName[kLanguageCount] = {"zh_CN", "en", "ru", "vi", "zh_TW"};

// The values a page fills in at run time, at their longest: put into the page in front after
// each language change; the labels that may show them cut short with "…"; and the items drawn
// from the style table that may also be drawn in their look's disabled states (dimmed: the item
// can't be chosen now), whose words must fit there too.
struct RunTime {
    std::function<void()> fill;
    std::function<bool(const QLabel*)> elides;
    std::function<bool(const QWidget*)> dims = nullptr;
};

// Each named field of the page in front shows `value`.
std::function<void()> fieldsAt(QStringList names, QString value) {
    return [names, value] {
        for (const QString& n : names) {
            QWidget* page = panel::keyTarget();
            ASSERT_NE(page, nullptr);
            auto* field = page->findChild<QLineEdit*>(n);
            ASSERT_NE(field, nullptr) << n.toStdString();
            field->setText(value);
        }
    };
}

// The texts under root cut short with "…" where `elides` allows none.
std::vector<std::string> textsElided(QWidget* root,
                                     const std::function<bool(const QLabel*)>& elides) {
    std::vector<std::string> out;
    const QString dots = QString::fromUtf8("…");
    for (QLabel* l : root->findChildren<QLabel*>()) {
        QTextDocument doc;
        doc.setHtml(l->text());
        if (!l->isVisibleTo(root) || !doc.toPlainText().endsWith(dots)) continue;
        if (!elides || !elides(l))
            out.push_back((l->objectName() + ": cut to " + l->text()).toStdString());
    }
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->isVisibleTo(root) && b->text().endsWith(dots))
            out.push_back((b->objectName() + ": cut to " + b->text()).toStdString());
    return out;
}

bool inList(const PagedList& list, const QLabel* l) {
    return std::find(std::begin(list.slot_labels), std::end(list.slot_labels), l) !=
           std::end(list.slot_labels);
}

// The texts under root that hold a soft hyphen: the panel draws it as "-".
std::vector<std::string> textsWithSoftHyphens(QWidget* root) {
    std::vector<std::string> out;
    const QChar soft(0x00AD);
    for (QLabel* l : root->findChildren<QLabel*>())
        if (l->isVisibleTo(root) && l->text().contains(soft))
            out.push_back((l->objectName() + ": soft hyphen in " + l->text()).toStdString());
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if (b->isVisibleTo(root) && b->text().contains(soft))
            out.push_back((b->objectName() + ": soft hyphen in " + b->text()).toStdString());
    return out;
}

// The words that a language draws smaller than English does in the same widget and smaller than
// the panel's smallest readable size (7 points): a longer translation squeezed out of sight.
constexpr int kSmallestPixels = 9;  // 7 points on the panel
std::vector<std::string> shrunkFromEnglish(
    const std::map<std::string, int> (&sizes)[kLanguageCount]) {
    std::vector<std::string> out;
    const std::map<std::string, int>& english = sizes[1];
    for (int lang = 0; lang < kLanguageCount; ++lang) {
        for (const auto& [path, pixels] : sizes[lang]) {
            const auto en = english.find(path);
            if (en == english.end() || pixels >= en->second || pixels >= kSmallestPixels) continue;
            out.push_back(path + " drawn " + std::to_string(pixels) + " px high in " +
                          kLanguageName[lang] + ", " + std::to_string(en->second) +
                          " px in English");
        }
    }
    return out;
}

// What the items a page may draw disabled show in those states: the texts that do not fit, and
// the size each draws its words in, by its path and state ("Button_next/words (dimmed)").
struct DisabledLooks {
    std::vector<std::string> not_fitting;
    std::map<std::string, int> sizes;
};

class TextsFit : public PanelTest {
protected:
    // Each item under root that `dims` takes, drawn in each disabled state of its look, then as
    // it was.
    static DisabledLooks inDisabledStates(QWidget* root,
                                          const std::function<bool(const QWidget*)>& dims) {
        using namespace panel_style;
        DisabledLooks out;
        for (QWidget* w : root->findChildren<QWidget*>()) {
            const Look look = lookOf(w);
            const State was = stateOf(w);
            if (look == kLooks || was == kStates || !w->isVisibleTo(root) || !dims(w)) continue;
            // The item's own words and its children's, as its parent holds them.
            std::set<std::string> names = {w->objectName().toStdString()};
            for (const QWidget* c : w->findChildren<QWidget*>())
                names.insert(c->objectName().toStdString());
            for (const State disabled : {kDimmed, kDimmedFocus}) {
                if (sheet(look, disabled).isEmpty()) continue;
                apply(w, look, disabled);
                const std::string in = disabled == kDimmed ? " (dimmed)" : " (dimmed, focus)";
                for (const std::string& t : textsNotFitting(w->parentWidget()))
                    if (names.count(t.substr(0, t.find(':')))) out.not_fitting.push_back(t + in);
                for (const auto& [path, pixels] : textSizes(w->parentWidget()))
                    if (path.substr(0, path.find('/')) == w->objectName().toStdString())
                        out.sizes[path + in] = pixels;
            }
            apply(w, look, was);
        }
        return out;
    }

    void SetUp() override {
        PanelTest::SetUp();
        saveSlot(0, 1);
        store().ram[ZemRamPara::kRamCurrentMode] = 1;  // slot 1 in use: its cell says so
        for (int w = 0; w < 6; ++w) store().wr16_no_gen_bump(ZemRamPara::windowAddr(w, 0), 1);
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        startPanel();
    }
    // The page in front in each language: every text fits, and a screenshot of each.
    void inEachLanguage(const char* state, const std::function<QWidget*()>& page,
                        const RunTime& run_time = {}) {
        std::map<std::string, int> sizes[kLanguageCount];
        for (int lang = 0; lang < kLanguageCount; ++lang) {
            SCOPED_TRACE(kLanguageName[lang]);
            store().ram[ZemRamPara::kRamLanguage] = uint8_t(lang);
            store().shadow[ZemRamPara::kRamLanguage] = 0xEE;  // a language change
            if (!without_refresh) refresh(1);
            g_language = uint8_t(lang);  // also where the page's refresh does not read it
            if (PageFrame* f = panel::front()) f->language_changed();
            if (run_time.fill) run_time.fill();
            QWidget* root = page();
            ASSERT_NE(root, nullptr);
            for (const std::string& t : textsNotFitting(root)) ADD_FAILURE() << t;
            for (const std::string& t : widgetsCrossing(root)) ADD_FAILURE() << t;
            for (const std::string& t : textsOverBorders(root)) ADD_FAILURE() << t;
            for (const std::string& t : textsWithSoftHyphens(root)) ADD_FAILURE() << t;
            for (const std::string& t : textsElided(root, run_time.elides)) ADD_FAILURE() << t;
            sizes[lang] = textSizes(root);
            if (run_time.dims) {
                const DisabledLooks disabled = inDisabledStates(root, run_time.dims);
                for (const std::string& t : disabled.not_fitting) ADD_FAILURE() << t;
                sizes[lang].insert(disabled.sizes.begin(), disabled.sizes.end());
            }
            shot(QString("%1-%2").arg(state, kLanguageName[lang]));
        }
        for (const std::string& t : shrunkFromEnglish(sizes)) ADD_FAILURE() << state << ": " << t;
    }
    // The language set without a refresh (one that would open the page's tip).
    bool without_refresh = false;
    // A page opened by its id from the main menu, in each language, then closed by Back.
    void openedInEachLanguage(int id, const RunTime& run_time = {}) {
        key(kKeyOk);
        session({[id] { panel::openRegistered(id); },
                 [this, id, run_time] {
                     inEachLanguage(
                         page_table::className(id), [id] { return panel::page(id)->widget(); },
                         run_time);
                     backUntilGone([id] { return panel::page(id) != nullptr; },
                                   page_table::className(id));
                 }});
    }
};

TEST_F(TextsFit, HomeScreen) {
    inEachLanguage("home", [] { return g_lockwindow; });
}

TEST_F(TextsFit, MainMenuWithItsToolsAndGrids) {
    key(kKeyOk);
    inEachLanguage("menu", [] { return g_mainwindow; });
    click("tools");
    inEachLanguage("tools", [] { return g_mainwindow; });
    click("toolButton3");
    inEachLanguage("call", [] { return g_mainwindow; });
    EXPECT_EQ(widget<QWidget>("widget_mode")->findChildren<QLabel*>().first()->text(),
              "用戶模式調用")
        << "the open grid takes the new language";
    click("toolButton4");
    inEachLanguage("save", [] { return g_mainwindow; });
}

TEST_F(TextsFit, SourcePageAtEachLevel) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_inputchoose_clicked(); },
             [this] {
                 inEachLanguage("tabs", [] { return g_inputchoose; });
                 key(kKeyOk);
                 key(kKeyOk);
                 inEachLanguage("list", [] { return g_inputchoose; });
                 QStringList words;
                 for (QLabel* l : g_inputchoose->frame->findChildren<QLabel*>()) words << l->text();
                 EXPECT_TRUE(words.contains("無信號")) << "the list takes the new language";
                 backUntilGone([] { return g_inputchoose != nullptr; }, "the source page");
             }});
}

TEST_F(TextsFit, OptionsMenu) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_option_clicked(); },
             [this] {
                 inEachLanguage("options", [] { return g_option; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, CommunicationMenu) {
    without_refresh = true;
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageLinkOption); },
             [this] {
                 inEachLanguage("communication", [] { return panel::front()->widget(); });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, OutputMenu) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_option_clicked(); }, [this] { key(kKeyOk); },
             [this] {
                 inEachLanguage("output", [] { return panel::front()->widget(); });
                 keys({kKeyBack, kKeyBack});
             }});
}

TEST_F(TextsFit, UserModePageOfASavedMode) {
    key(kKeyMode);
    inEachLanguage("usermode", [] { return g_custommode; });
}

TEST_F(TextsFit, CropEditorAddForm) {
    key(kKeyOk);
    session({[] { g_mainwindow->on_option_clicked(); },
             [this] {
                 keys({kKeyRight, kKeyOk});
             },
             [this] {
                 keys({kKeyOk, kKeyOk});  // the list, then Add
                 inEachLanguage(
                     "crop-add", [] { return g_inputcut; },
                     {fieldsAt({"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"}, "32767"),
                      nullptr});
                 keys({kKeyBack, kKeyBack, kKeyBack, kKeyBack});
             }});
}

TEST_F(TextsFit, NumberKeypad) {
    key(kKeyOk);
    session({[] { g_numberkeyboard->open_for(nullptr, nullptr, "1..255", "12"); },
             [this] {
                 inEachLanguage("keypad", [] { return g_numberkeyboard; });
                 // The access code's ten asterisks, the longest line a page puts there.
                 inEachLanguage("keypad-code", [] { return g_numberkeyboard; },
                                {fieldsAt({"lineEdit"}, "**********"), nullptr});
                 key(kKeyBack);
             }});
}

// The LED set-up, LCD display, test pattern and serial link pages, opened alone until their
// menus are built; the combo being edited where there is one.
TEST_F(TextsFit, LedSetPage) {
    key(kKeyOk);
    session({[] { panel::open(g_ledset, kPageLedSet); },
             [this] {
                 inEachLanguage("ledset", [] { return g_ledset; },
                                {fieldsAt({"lineEdit_ledw", "lineEdit_ledh", "lineEdit_out1_width",
                                           "lineEdit_out1_height", "lineEdit_out2_width",
                                           "lineEdit_out2_height"},
                                          QString::number(ledset::kMaxSize)),
                                 nullptr});
                 keys({kKeyRight, kKeyRight, kKeyOk, kKeyRight});
                 inEachLanguage("ledset-combo", [] { return g_ledset; });
                 keys({kKeyLeft, kKeyOk, kKeyBack});
             }});
}

TEST_F(TextsFit, LcdShowPage) {
    key(kKeyOk);
    session({[] { panel::open(g_lcdshow, kPageLcdShow); },
             [this] {
                 key(kKeyOk);
                 inEachLanguage("lcdshow", [] { return g_lcdshow; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, TestChartPage) {
    key(kKeyOk);
    session({[] { panel::open(g_test_chart, kPageTestChart); },
             [this] {
                 inEachLanguage("test_chart", [] { return g_test_chart; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, LinkComPage) {
    key(kKeyOk);
    session({[] { panel::open(g_linkcom, kPageLinkCom); },
             [this] {
                 inEachLanguage("linkcom", [] { return g_linkcom; });
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, PictureQualityPage) {
    openedInEachLanguage(kPageQuality);
}

TEST_F(TextsFit, ColourTemperaturePage) {
    openedInEachLanguage(kPageTemperature);
}

TEST_F(TextsFit, StatusPage) {
    openedInEachLanguage(kPageMachineState);
}

// The serial number at the 64 characters the PC may set: cut short with "…", never mid-glyph.
TEST_F(TextsFit, StatusPageWithTheLongestSerialNumber) {
    const QString kept = g_str_barcode;
    g_str_barcode = QString(64, 'W');
    openedInEachLanguage(kPageMachineState,
                         {nullptr, [](const QLabel* l) { return l->objectName() == "label_2"; }});
    g_str_barcode = kept;
}

TEST_F(TextsFit, EdidPageWithItsEditRow) {
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageEdidSet); },
             [this] {
                 key(kKeyOk);
                 // The widest size a detailed timing can carry.
                 inEachLanguage("edid", [] { return panel::page(kPageEdidSet)->widget(); },
                                {fieldsAt({"lineEdit_W", "lineEdit_H"}, "4095"), nullptr});
                 backUntilGone([] { return panel::page(kPageEdidSet) != nullptr; },
                               "the EDID page");
             }});
}

TEST_F(TextsFit, WindowLayoutPage) {
    openedInEachLanguage(kPageImageLayout);
}

// The closed point-to-point field shows each mode's words (0 on, 8 horizontal, 9 vertical).
TEST_F(TextsFit, WindowLayoutPageInEachPointToPointMode) {
    constexpr int kP2pWord = 22;
    constexpr uint16_t kP2pOn = 0x0100;
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageImageLayout); },
             [this] {
                 for (uint16_t mode : {0, 8, 9}) {
                     store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, ZemRamPara::kWinOutFlags),
                                              kP2pOn);
                     store().wr16_no_gen_bump(ZemRamPara::windowAddr(0, kP2pWord), mode);
                     inEachLanguage(QString("p2p-%1").arg(mode).toUtf8().constData(),
                                    [] { return panel::page(kPageImageLayout)->widget(); });
                 }
                 backUntilGone([] { return panel::page(kPageImageLayout) != nullptr; },
                               "the window layout page");
             }});
}

TEST_F(TextsFit, AdvancedOptionsMenu) {
    openedInEachLanguage(kPageAdvancedOption);
}

TEST_F(TextsFit, SystemPagesOfTheAdvancedAndLinkMenus) {
    QStringList octets;
    for (const char* row : {"Ip", "Mask", "Gate"})
        for (int o = 1; o <= 4; ++o) octets << QString("lineEdit%1%2").arg(row).arg(o);
    const struct {
        int id;
        const char* name;
        std::function<void()> fill;
    } pages[] = {{kPageNetSet, "ports", nullptr},
                 {kPageLinkWlan, "ethernet", fieldsAt(octets, "255")},
                 {kPageOtherSetup, "other", nullptr},
                 {kPageFactory, "factory", nullptr}};
    for (const auto& p : pages) {
        SCOPED_TRACE(p.name);
        session(
            {[&p] { panel::openRegistered(p.id); },
             [this, &p] {
                 inEachLanguage(p.name, [] { return panel::front()->widget(); }, {p.fill, nullptr});
                 key(kKeyBack);
             }});
    }
}

TEST_F(TextsFit, UsbUpgradePage) {
    g_usb_grade_path = " ";
    session({[] { panel::openRegistered(kPageFirmwareUsbGrade); },
             [this] {
                 inEachLanguage("no-file", [] { return g_firmware_usbgrade; });
                 // Five names as long as the disk's file system allows: a page of four, then one.
                 mountUsbDisk();
                 for (int i = 0; i < 5; ++i)
                     writeFile("/mnt/usb1/" + std::string(250, char('W' - i)) + ".ZEM", "x");
                 firmware_usbgrade* p = g_firmware_usbgrade;
                 p->get_file_list_smartpath();
                 const RunTime rows{nullptr, [p](const QLabel* l) { return inList(p->list, l); }};
                 inEachLanguage(
                     "list", [] { return g_firmware_usbgrade; }, rows);
                 // The job's lines: under way, then its end, good and failed.
                 p->file_downing = p->job_running = 1;
                 p->start_time = "23:59:59";
                 click("Button_grade");
                 inEachLanguage(
                     "running", [] { return g_firmware_usbgrade; }, rows);
                 // Without an FPGA manager the end line gives the start time: as long as the
                 // job's start and end.
                 p->start_time = "23:59:59    23:59:59";
                 p->upgradeResult(5, 0, 0, kUsbFaultNone, 5, 0);
                 click("Button_grade");
                 inEachLanguage(
                     "end", [] { return g_firmware_usbgrade; }, rows);
                 // Each reason with the largest counts a job of 100 files gives.
                 for (int fault = kUsbFaultNone; fault <= kUsbFaultDiskGone; ++fault) {
                     p->job_running = 1;
                     p->upgradeResult(100, 100, 99, fault, 99, 1);
                     click("Button_grade");
                     inEachLanguage(
                         QString("error-%1").arg(fault).toUtf8().constData(),
                         [] { return g_firmware_usbgrade; }, rows);
                 }
                 key(kKeyBack);
             }});
}

TEST_F(TextsFit, AgingPage) {
    for (int i = 0; i < 3360; ++i) factoryage_log << "12-31 23:59 255 31 255 255 0 255";
    session({[] { panel::openRegistered(kPageFactoryAge); },
             [this] {
                 for (int page = 1; page < 420; ++page) click("ButtonNext");
                 inEachLanguage("last-page", [] { return g_factoryage; });
                 key(kKeyBack);
             }});
    factoryage_log.clear();
}

TEST_F(TextsFit, RecoveryPage) {
    session({[] { panel::openRegistered(kPageRcvRecovery); },
             [this] {
                 inEachLanguage("no-cards", [] { return g_rcv_recovery; });
                 // The widest numbers the FPGA side writes, a page of four and one more.
                 g_rcv_recovery->setResultList(
                     {"255/20/255/254", "255/20/255/255", "99/20/99/98", "99/20/99/99", "1/1/1/1"});
                 const RunTime rows{
                     nullptr, [](const QLabel* l) { return inList(g_rcv_recovery->list, l); }};
                 inEachLanguage(
                     "found", [] { return g_rcv_recovery; }, rows);
                 // Then the nets whose cards did not answer, the widest numbers first.
                 g_rcv_recovery->setResultList({"255/20/255/254"}, {"256/20", "99/20", "01/01"});
                 inEachLanguage(
                     "silent-nets", [] { return g_rcv_recovery; }, rows);
                 // Each outcome that names itself, whole: in place of the no-cards text, or a
                 // failed recovery's line before the card it keeps.
                 const struct {
                     const char* name;
                     RecoveryOutcome outcome;
                 } outcomes[] = {
                     {"no-query", {RecoveryOutcome::kNoQueryYet, {}, {}}},
                     {"no-file", {RecoveryOutcome::kNoFile, {}, {}}},
                     {"file-fault", {RecoveryOutcome::kFileRefused, {}, {}}},
                     {"query-failed", {RecoveryOutcome::kQueryFailed, {}, {}}},
                     {"recovery-failed", {RecoveryOutcome::kRecoveryFailed, {"99/20/99/98"}, {}}},
                 };
                 for (const auto& o : outcomes) {
                     g_rcv_recovery->showOutcome(o.outcome);
                     inEachLanguage(o.name, [] { return g_rcv_recovery; });
                 }
                 key(kKeyBack);
             }});
}

// The wizard's buttons that may be drawn disabled, as Load scan is without scan files: the top
// row and the buttons that lead from step to step. The port groups' and the routing's small boxes
// are only ever drawn normal, marked or focused.
bool wizardDims(const QWidget* w) {
    static const std::set<QString> kSteps = {
        "Button_shortcut", "Button_loadscan", "Button_paraweld", "Button_mapping", "Button_next",
        "Button_next_2",   "Button_next_5",   "Button_front_2",  "Button_front_3", "Button_front_6",
        "Button_send",     "Button_load",     "Button_confirm",  "Button_cancel"};
    return kSteps.count(w->objectName()) > 0;
}

TEST_F(TextsFit, SmartMappingWizard) {
    writeFile("/data/smartmapping/screen.qzfile", "scan");
    mountUsbDisk();
    writeFile("/mnt/usb1/usb.qzfile", "scan");
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageSmartMapping); },
             [this] {
                 const auto page = [] { return g_smartmapping; };
                 const RunTime numbers{
                     [] {
                         for (auto f : {std::make_pair("lineEdit_X", "65535"),
                                        {"lineEdit_Y", "65535"},
                                        {"lineEdit_line", "255"},
                                        {"lineEdit_column", "255"},
                                        {"lineEdit_horzion", "65535"},
                                        {"lineEdit_vert", "65535"}})
                             if (auto* e = g_smartmapping->findChild<QLineEdit*>(f.first))
                                 e->setText(f.second);
                     },
                     nullptr, wizardDims};
                 inEachLanguage("smart-cabinet", page, numbers);
                 keys({kKeyOk, kKeyLeft});  // the keys on Next
                 inEachLanguage("smart-cabinet-next", page, numbers);
                 key(kKeyOk);
                 inEachLanguage("smart-port", page, numbers);
                 keys({kKeyLeft, kKeyOk});
                 inEachLanguage("smart-layout", page, numbers);
                 g_smartmapping->lighting.routing = 16;  // the longest routing words
                 inEachLanguage("smart-layout-16", page, numbers);
                 g_smartmapping->lighting.routing = 1;
                 keys({kKeyRight, kKeyRight, kKeyOk});
                 inEachLanguage("smart-routing", page, numbers);
                 keys({kKeyBack, kKeyBack, kKeyBack, kKeyBack, kKeyRight, kKeyOk});
                 inEachLanguage("smart-scan-port", page, numbers);
                 keys({kKeyLeft, kKeyOk});
                 inEachLanguage("smart-files", page, numbers);
                 keys({kKeyBack, kKeyBack, kKeyRight});
                 inEachLanguage("smart-curing", page, numbers);
                 key(kKeyRight);
                 inEachLanguage("smart-mapping", page, numbers);
                 backUntilGone([] { return g_smartmapping != nullptr; },
                               "the smart mapping wizard");
             }},
            // Ten states in five languages, each measured, in one session: under qemu on a
            // loaded machine it outlasted the default bound (120 s at the armhf tests' factor).
            30000);
}

// Without scan files Load scan is drawn disabled: under the keys (its file went while they were
// on it) and away from them.
TEST_F(TextsFit, SmartMappingWizardWithoutScanFiles) {
    writeFile("/data/smartmapping/screen.qzfile", "scan");
    key(kKeyOk);
    session({[] { panel::openRegistered(kPageSmartMapping); },
             [this] {
                 const auto page = [] { return g_smartmapping; };
                 const auto loadScan = [] {
                     return panel_style::stateOf(
                         g_smartmapping->findChild<QWidget*>("Button_loadscan"));
                 };
                 key(kKeyRight);
                 std::remove(local("/data/smartmapping/screen.qzfile").c_str());
                 g_smartmapping->language_changed();  // counts the files again
                 ASSERT_EQ(loadScan(), panel_style::kDimmedFocus);
                 inEachLanguage("no-scan-files", page, {nullptr, nullptr, wizardDims});
                 key(kKeyLeft);
                 ASSERT_EQ(loadScan(), panel_style::kDimmed);
                 inEachLanguage("no-scan-files-away", page, {nullptr, nullptr, wizardDims});
                 backUntilGone([] { return g_smartmapping != nullptr; },
                               "the smart mapping wizard");
             }});
}

// Words of the text tables set right, each read on its page in its language (a row of a
// table that says more is read up to its number).
TEST_F(TextsFit, WordsOfTheTablesReadRight) {
    struct Word {
        int page;
        const char* object;
        int lang;
        const char* text;
        std::vector<int> keys = {};  // to the screen that shows it
    };
    // clang-format off
    const Word kWords[] = {
        {kPageQuality, "label_bright", 3, "Độ sáng"},
        {kPageFirmwareUsbGrade, "label_usb_update", 3, "Sử dụng ổ USB để cập nhật"},
        {kPageLinkOption, "Button_usb", 3, "Sử dụng ổ USB\nđể cập nhật"},
        {kPageRcvRecovery, "label_rcv_update", 3, "Cập nhật thẻ nhận"},
        {kPageRcvRecovery, "label_rcv_update", 2, "Обновление приемных карт"},
        {kPageOtherSetup, "label_name_mode", 2, "Трансляция экрана"},
        {kPageOtherSetup, "label_name_mode", 3, "Thiết bị trình chiếu"},
        {kPageTemperature, "label_temperature", 2, "Цветовая температура"},
        {kPageInputChoose, "button_inputcut", 3, "Cắt"},
        {kPageInputCut, "label_title", 3, "Cắt"},
        {kPageSmartMapping, "label_step2_6", 3, "Bước 2 Tải thông số quét", {kKeyRight, kKeyOk, kKeyLeft, kKeyOk}},
        {kPageOutputSet, "label_title", 1, "Output Setting"},
        {kPageOutputSet, "label_info", 3, "Gợi ý: Kích thước màn hình LED hiện tại:1"},
        {kPageFactory, "label_edid", 1, "Keep IP,EDID"},
        {kPageFactoryAge, "ButtonNext", 1, "Next"},
        {kPageFactoryAge, "ButtonPriv", 1, "Prev"},
        {kPageOutputSet, "label_info", 1, "Current LED size:1920x1080"},
        {kPageLinkWlan, "label_netmask", 3, "Cài đặt mặt nạ con"},
        {kPageInputChoose, "button_inputcut", 2, "Обрезка"},
        {kPageFirmwareUsbGrade, "label_usb_update", 4, "USB升級"},
        {kPageImageLayout, "label_title", 4, "畫面佈局"},
        {kPageRcvRecovery, "label_title", 4, "接收卡自恢復"},
        {kPageFactory, "label_rst", 4, "工廠復位"},
        {kPageQuality, "label_reset", 4, "畫質復位"},
        {kPageNetSet, "label_netset", 3, "Cài đặt cổng mạng"},
        {kPageOutputSet, "Button_lanset", 3, "Cài đặt\ncổng mạng"},
    };
    // clang-format on
    g_usb_grade_path = " ";
    writeFile("/data/smartmapping/screen.qzfile", "scan");  // the scan-file screen opens
    key(kKeyOk);
    for (const Word& w : kWords) {
        SCOPED_TRACE(w.object);
        session({[&w] { panel::openRegistered(w.page); },
                 [this, &w] {
                     for (int k : w.keys) key(k);
                     g_language = uint8_t(w.lang);
                     panel::front()->language_changed();
                     QWidget* item = find<QWidget>(w.object);
                     ASSERT_NE(item, nullptr);
                     EXPECT_TRUE(
                         item->property("text").toString().startsWith(QString::fromUtf8(w.text)))
                         << "reads " << item->property("text").toString().toStdString();
                     shot(QString("%1-%2").arg(w.page).arg(w.object));
                     for (const std::string& t : textsNotFitting(item->window()))
                         ADD_FAILURE() << t;
                     g_language = 1;
                     backUntilGone([&w] { return panel::page(w.page) != nullptr; },
                                   page_table::className(w.page));
                 }});
    }
}

}  // namespace
