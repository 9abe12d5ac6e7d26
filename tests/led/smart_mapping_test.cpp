// The smart-mapping wizard as a user works it: the top row with and without scan files, each
// screen's keys (key tables), port tiles, routing, the keypad fields held to their ranges, the
// four jobs posted through the job gate under the ring (and refused with the mailbox busy, in
// an upgrade, in a firmware update), the scan-file list of both folders with its paging, a USB
// disk pulled, and the PC's write or deletion of a scan file closing the page.
#include "ui/led/smart_mapping.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QToolButton>
#include <thread>

#include "box_links.h"
#include "comm/comm_bridge.h"
#include "core/globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "page_driver.h"
#include "ui/shell/number_keyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/qround_progress_bar.h"
#include "ui/shell/tip.h"
#include "ui_option.h"
#include "ui_smart_mapping.h"

namespace {

using S = SmartMapping;

class SmartMappingPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        mgr = fpga_manage::pInstance();
        for (auto& b : g_send_para) b = 0;
        g_usb_grade = 0;
        g_update_flag = 0;
        line_type = {};
        g_qzfile_name.clear();
        mountUsbDisk();
        startPanel();
        // The test plays the FPGA thread's part in the jobs.
        mgr->stop_thread();
    }
    // Opens the wizard as its menu does, runs the steps inside it, and closes it.
    // Events run inside a step run the session's next one, so the page closes in the last.
    void onPage(std::vector<Item> steps) {
        steps.insert(steps.begin(), [] { panel::openRegistered(kPageSmartMapping); });
        Step last = steps.back().run;
        steps.back().run = [this, last] {
            last();
            if (g_qround_bar) finishJob();
            backUntilGone([] { return g_smartmapping != nullptr; }, "the smart mapping wizard");
        };
        session(steps);
    }
    // The USB tip a refresh opens (its loop runs the steps that follow).
    static Item tipShown() {
        return Item::until([] { return g_tip->isVisible(); });
    }
    static int screen() { return g_smartmapping->ui->stackedWidget->currentIndex(); }
    static panel_style::State state(const char* name) {
        return panel_style::stateOf(g_smartmapping->findChild<QWidget*>(name));
    }
    static bool focused(const char* name) {
        return state(name) == panel_style::kFocus || state(name) == panel_style::kDimmedFocus;
    }
    static bool dimmed(const char* name) {
        return state(name) == panel_style::kDimmed || state(name) == panel_style::kDimmedFocus;
    }
    void scanFile(const std::string& dir, const std::string& name) {
        writeFile(dir + "/" + name, "scan");
    }
    // The FPGA thread's end of a task: mailbox cleared, then 100 from its own thread.
    void finishJob() {
        set_send_para_u16(0, 0);
        progress(100);
    }
    void progress(int value) {
        std::thread fpga([this, value] { emit mgr->job_events->sig_smartmapping_progress(value); });
        fpga.join();
        settle();
    }
    // From the top row to quick-lighting step 3 (screen 2), by keys.
    void toLayout() {
        key(kKeyOk);               // screen 0, on width
        keys({kKeyLeft, kKeyOk});  // Next
        keys({kKeyLeft, kKeyOk});  // screen 1: Next from the first group
        ASSERT_EQ(screen(), S::kLayout);
    }
    void moveTo(int index) {
        for (int i = 0; i < 8 && g_smartmapping->keyFocus() != index; ++i) key(kKeyRight);
    }

    // Register 0 in the manager's mirror, as the FPGA holds it.
    void setRegister0(int fpga, uint8_t value) {
        zem::MutexLocker lock(mgr->mirror_mutex);
        mgr->MCU_REG_func[fpga][0] = value;
    }

    fpga_manage* mgr = nullptr;
};

// ---- Top row ----

TEST_F(SmartMappingPage, TopRowSkipsLoadScanOnlyWithoutScanFiles) {
    struct Row {
        int files;
        int key;
        std::vector<int> screens;  // after each press
    };
    const Row rows[] = {
        {0, kKeyRight, {S::kCuring, S::kMapping, S::kCabinet}},
        {0, kKeyLeft, {S::kMapping, S::kCuring, S::kCabinet}},
        {1, kKeyRight, {S::kScanPort, S::kCuring, S::kMapping, S::kCabinet}},
        {1, kKeyLeft, {S::kMapping, S::kCuring, S::kScanPort, S::kCabinet}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.files << " files, key " << r.key);
        if (r.files) scanFile("/mnt/usb1", "a.qzfile");
        onPage({[&] {
            EXPECT_EQ(dimmed("Button_loadscan"), r.files == 0);
            for (int s : r.screens) {
                key(r.key);
                EXPECT_EQ(screen(), s);
                EXPECT_EQ(g_smartmapping->level, 0);
            }
            shot(r.files ? "top-with-files" : "top-without-files");
        }});
    }
}

// Next and Previous read as such in every language, on every screen that has them.
TEST_F(SmartMappingPage, NextAndPreviousReadRightInRussianAndVietnamese) {
    const struct {
        int language;
        const char* next;
        const char* previous;
    } cases[] = {{2, "Далее", "Назад"}, {3, "Bước tiếp theo", "Thao tác\nphía trước"}};
    // The words of a button: its text, or those of the wrapping label over it.
    const auto words = [](const char* name) {
        auto* b = g_smartmapping->findChild<QAbstractButton*>(name);
        auto* label = b->findChild<QLabel*>("words");
        return label ? label->text() : b->text();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        g_language = uint8_t(c.language);
        store().ram[ZemRamPara::kRamLanguage] = uint8_t(c.language);
        scanFile("/mnt/usb1", "a.qzfile");
        onPage({[&] {
            key(kKeyOk);
            EXPECT_EQ(words("Button_next"), c.next);
            keys({kKeyLeft, kKeyOk});
            EXPECT_EQ(words("Button_next_2"), c.next);
            EXPECT_EQ(words("Button_front_2"), c.previous);
            keys({kKeyLeft, kKeyOk});
            EXPECT_EQ(words("Button_front_3"), c.previous);
            keys({kKeyBack, kKeyBack, kKeyBack, kKeyRight, kKeyOk});
            ASSERT_EQ(screen(), S::kScanPort);
            EXPECT_EQ(words("Button_next_5"), c.next);
            keys({kKeyLeft, kKeyOk});
            ASSERT_EQ(screen(), S::kScanFiles);
            EXPECT_EQ(words("Button_front_6"), c.previous);
            shot(QString("files-%1").arg(c.language));
        }});
    }
    g_language = 1;
}

// ---- Quick lighting ----

TEST_F(SmartMappingPage, QuickLightingKeysWalkTheThreeStepsAndBack) {
    struct Row {
        int key;
        int screen;
        const char* focused;  // the widget under the keys
    };
    const Row rows[] = {
        {kKeyOk, S::kCabinet, "lineEdit_X"},
        {kKeyRight, S::kCabinet, "lineEdit_Y"},
        {kKeyRight, S::kCabinet, "Button_next"},
        {kKeyOk, S::kPort, "Button_wlan1"},
        {kKeyLeft, S::kPort, "Button_next_2"},
        {kKeyRight, S::kPort, "Button_wlan1"},
        {kKeyOk, S::kPort, nullptr},
        {kKeyBack, S::kPort, "Button_wlan1"},
        {kKeyLeft, S::kPort, "Button_next_2"},
        {kKeyOk, S::kLayout, "lineEdit_line"},
        {kKeyLeft, S::kLayout, "Button_send"},
        {kKeyLeft, S::kLayout, "Button_front_3"},
        {kKeyOk, S::kPort, "Button_wlan1"},
        {kKeyBack, S::kCabinet, "lineEdit_X"},
        {kKeyBack, S::kCabinet, nullptr},
    };
    onPage({[&] {
        int n = 0;
        for (const Row& r : rows) {
            SCOPED_TRACE(n++);
            key(r.key);
            EXPECT_EQ(screen(), r.screen);
            if (r.focused) {
                EXPECT_TRUE(focused(r.focused));
            }
            shot(QString("lighting-%1").arg(n));
        }
        EXPECT_EQ(g_smartmapping->level, 0) << "Back from step 1 leaves for the top row";
    }});
}

TEST_F(SmartMappingPage, TilesFollowTheKeysAndBackRestoresTheEarlierPort) {
    scanFile("/mnt/usb1", "a.qzfile");
    onPage({[&] {
        keys({kKeyOk, kKeyLeft, kKeyOk});  // screen 1
        keys({kKeyRight, kKeyOk});         // group LED9~16 in tile mode
        EXPECT_EQ(g_smartmapping->tile_mode, 1);
        EXPECT_EQ(g_smartmapping->lighting.port, 8);
        keys({kKeyLeft, kKeyLeft});
        EXPECT_EQ(g_smartmapping->lighting.port, 14);
        shot("tiles");
        key(kKeyBack);
        EXPECT_EQ(g_smartmapping->lighting.port, 0) << "the port before the tile mode";
        // Group 3 has four tiles: Right after the last returns to the first.
        keys({kKeyRight, kKeyOk, kKeyRight, kKeyRight, kKeyRight});
        EXPECT_EQ(g_smartmapping->lighting.port, 19);
        key(kKeyRight);
        EXPECT_EQ(g_smartmapping->lighting.port, 16);
        key(kKeyOk);
        EXPECT_EQ(g_smartmapping->tile_mode, 0);
        EXPECT_EQ(g_smartmapping->saved_port, 16);
        // A touched tile is chosen and the keys come back to the group.
        click("2");
        EXPECT_EQ(g_smartmapping->lighting.port, 18);
        EXPECT_TRUE(focused("Button_wlan3"));
        // The same on load scan's port screen: Back drops the port the keys moved to.
        keys({kKeyBack, kKeyBack, kKeyRight, kKeyOk});
        ASSERT_EQ(screen(), S::kScanPort);
        keys({kKeyLeft, kKeyOk, kKeyRight});  // LED9~16, then its second tile
        EXPECT_EQ(g_smartmapping->lighting.port, 9);
        key(kKeyBack);
        EXPECT_EQ(g_smartmapping->lighting.port, 18);
        EXPECT_EQ(g_smartmapping->loadscan_tile_mode, 0);
    }});
}

TEST_F(SmartMappingPage, RoutingChoiceAndCancel) {
    onPage({[&] {
        toLayout();
        keys({kKeyRight, kKeyRight, kKeyOk});  // Button_route
        EXPECT_EQ(screen(), S::kRouting);
        EXPECT_TRUE(focused("Button_route1")) << "the stored routing 1";
        keys({kKeyRight, kKeyRight});
        shot("routing");
        key(kKeyOk);
        EXPECT_EQ(screen(), S::kLayout);
        EXPECT_EQ(g_smartmapping->lighting.routing, 3);
        EXPECT_TRUE(focused("Button_route"));
        EXPECT_TRUE(g_smartmapping->ui->Button_route->text().endsWith("3"));
        EXPECT_EQ(g_smartmapping->ui->Button_route->iconSize(), QSize(30, 20))
            << "the picture beside the words";
        keys({kKeyOk, kKeyLeft, kKeyLeft, kKeyLeft, kKeyOk});  // Cancel
        EXPECT_EQ(screen(), S::kLayout);
        EXPECT_EQ(g_smartmapping->lighting.routing, 3);
        click("Button_route");
        click("Button_route16");
        EXPECT_EQ(g_smartmapping->lighting.routing, 16);
        // The routing screen's pictures whole inside their buttons' frames.
        for (const QToolButton* b : g_smartmapping->ui->page_4->findChildren<QToolButton*>()) {
            const QRect inside = b->rect().adjusted(1, 1, -1, -1);
            EXPECT_LE(b->iconSize().width(), inside.width()) << b->objectName().toStdString();
        }
    }});
}

// Entries are held to what the cards take: rows and columns 1..255, sizes 1..65535, offsets
// 0..65535; a lighting job carries them whole.
TEST_F(SmartMappingPage, KeypadEntriesAreHeldToTheirRanges) {
    struct Row {
        int field;  // focus index on screen 2
        const char* typed;
        const char* shown;
    };
    const Row rows[] = {{0, "300", "255"}, {0, "0", "1"},         {1, "256", "255"},
                        {1, "7", "7"},     {3, "70000", "65535"}, {4, "0", "0"}};
    std::vector<Item> steps = {[this] { toLayout(); }};
    for (const Row& r : rows) {
        steps.push_back([this, r] {
            keyUntil(
                kKeyRight, [&r] { return g_smartmapping && g_smartmapping->keyFocus() == r.field; },
                "on field " + std::to_string(r.field));
            key(kKeyOk);
        });
        steps.push_back([this, r] { typeOnKeypad(r.typed); });
        steps.push_back([this, r] {
            auto* f = g_smartmapping->findChild<QLineEdit*>(
                QStringList{"lineEdit_line", "lineEdit_column", "", "lineEdit_horzion",
                            "lineEdit_vert"}[r.field]);
            EXPECT_EQ(f->text(), r.shown) << r.typed;
        });
    }
    steps.push_back([this] {
        shot("entries");
        moveTo(6);
        key(kKeyOk);
        EXPECT_EQ(g_send_para[0], 1);
        EXPECT_EQ(line_type.rows, 1);
        EXPECT_EQ(line_type.columns, 7);
        EXPECT_EQ(line_type.x_offset, 65535);
        EXPECT_EQ(line_type.y_offset, 0);
    });
    onPage(steps);
}

// ---- Jobs ----

TEST_F(SmartMappingPage, LightingRunsUnderTheRingWhichHoldsThePageAndItsInputs) {
    onPage({[&] {
        toLayout();
        click("Button_send");
        EXPECT_EQ(g_send_para[0], 1);
        ASSERT_FALSE(g_qround_bar.isNull());
        EXPECT_EQ(line_type.routing, 1);
        EXPECT_EQ(line_type.port, 0);
        progress(40);
        EXPECT_EQ(g_qround_bar->value(), 40);
        shot("lighting-ring");
        // Under the ring: Previous and Back are refused, keys and screen stay together.
        click("Button_front_3");
        key(kKeyBack);
        EXPECT_EQ(screen(), S::kLayout);
        EXPECT_EQ(g_smartmapping->shortcut_step, 2);
        // The routing may be chosen again, but the running job keeps its own.
        click("Button_route");
        click("Button_route5");
        EXPECT_EQ(g_smartmapping->lighting.routing, 5);
        EXPECT_EQ(line_type.routing, 1);
        click("Button_send");  // a second press does nothing
        EXPECT_EQ(line_type.routing, 1);
        key(kKeyMode);
        EXPECT_NE(g_smartmapping, nullptr) << "Mode does not leave under the ring";
        finishJob();
        EXPECT_TRUE(g_qround_bar.isNull());
    }});
    EXPECT_EQ(g_smartmapping, nullptr);
}

TEST_F(SmartMappingPage, PostsAreRefusedWhileAnythingElseRuns) {
    struct Row {
        const char* what;
        std::function<void()> set;
    };
    const Row rows[] = {
        {"task byte set", [] { g_send_para[0] = 5; }},
        {"error tail", [] { set_send_para_u16(0, 0x1E02); }},
        {"USB upgrade",
         [] {
             g_usb_grade = 1;
             g_send_para[1] = 2;
         }},
        {"firmware update", [] { g_update_flag = 1; }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        onPage({[&] {
            r.set();
            const uint16_t before = send_para_u16(0);
            // Mapping first: not even its register writes may happen.
            setRegister0(0, 0);
            setRegister0(1, 0);
            keys({kKeyLeft, kKeyOk, kKeyOk});
            EXPECT_EQ(mgr->mirror(0, 0) & 0x80, 0);
            key(kKeyBack);
            keys({kKeyLeft, kKeyOk, kKeyOk});  // curing
            EXPECT_EQ(send_para_u16(0), before);
            EXPECT_TRUE(g_qround_bar.isNull());
            for (auto& b : g_send_para) b = 0;
            g_usb_grade = 0;
            g_update_flag = 0;
        }});
    }
}

TEST_F(SmartMappingPage, MappingSwitchesBothFpgasOnUnlessBothAreOn) {
    onPage({[&] {
        setRegister0(0, 0x80);  // FPGA 0 only: off
        setRegister0(1, 0);
        keys({kKeyLeft, kKeyOk});
        EXPECT_EQ(screen(), S::kMapping);
        key(kKeyOk);
        EXPECT_EQ(g_send_para[0], 4);
        EXPECT_EQ(send_para_u32(16), 9u);
        EXPECT_EQ(mgr->mirror(0, 0) & 0x80, 0x80);
        EXPECT_EQ(mgr->mirror(1, 0) & 0x80, 0x80);
        shot("mapping-on");
        keys({kKeyBack, kKeyBack, kKeyMode});
        EXPECT_NE(g_smartmapping, nullptr) << "neither Back nor Mode leaves under the ring";
        EXPECT_EQ(g_smartmapping->level, 0);
        finishJob();
        key(kKeyOk);
        key(kKeyOk);
        EXPECT_EQ(send_para_u32(16), 0u);
        EXPECT_EQ(mgr->mirror(0, 0) & 0x80, 0);
        EXPECT_EQ(mgr->mirror(1, 0) & 0x80, 0);
        finishJob();
        key(kKeyBack);
        keys({kKeyLeft, kKeyOk, kKeyOk});
        EXPECT_EQ(g_send_para[0], 3) << "curing";
        shot("curing");
    }});
}

// ---- Styles ----

// Load scan under the keys when the disk with the only scan files goes: dimmed, and still
// showing that the keys are on it; the keys then skip it.
TEST_F(SmartMappingPage, LoadScanDimmedUnderTheKeysShowsTheFocus) {
    scanFile("/mnt/usb1", "a.qzfile");
    onPage({[&] {
                key(kKeyRight);
                ASSERT_EQ(state("Button_loadscan"), panel_style::kFocus);
                pullUsbDisk();
                refresh(101);
            },
            tipShown(), [&] { tick(TIP::kShowTicks); },
            [&] {
                EXPECT_EQ(state("Button_loadscan"), panel_style::kDimmedFocus);
                EXPECT_FALSE(
                    panel_style::sheet(panel_style::kField, panel_style::kDimmedFocus).isEmpty());
                shot("load-scan-dimmed-under-the-keys");
                key(kKeyRight);
                EXPECT_EQ(state("Button_loadscan"), panel_style::kDimmed);
                EXPECT_EQ(screen(), S::kCuring);
            }});
}

// Touches and keys on every screen leave each item in a sheet of the style table: the groups
// touched beside the keys, a group's tiles, the top item whose screen has the keys, the files
// walked and touched.
TEST_F(SmartMappingPage, EveryScreenDrawsItsItemsFromTheStyleTable) {
    scanFile("/data/smartmapping", "a.qzfile");
    scanFile("/mnt/usb1", "b.qzfile");
    onPage({[&] {
        keys({kKeyOk, kKeyRight, kKeyRight, kKeyOk});  // the cabinet's Next
        ASSERT_EQ(screen(), S::kPort);
        expectDrawnFromTable("port screen");
        for (const char* group : {"Button_wlan2", "Button_wlan3"}) {
            click(group);
            expectDrawnFromTable(std::string("touched ") + group);
        }
        EXPECT_EQ(state("Button_wlan3"), panel_style::kMarked) << "its tiles are shown";
        keys({kKeyLeft, kKeyLeft});  // Previous, beside the group touched
        expectDrawnFromTable("keys beside the group touched");
        keys({kKeyRight, kKeyRight, kKeyOk});  // group 1's tiles
        EXPECT_EQ(state("Button_wlan1"), panel_style::kChosen) << "the keys are in its tiles";
        key(kKeyRight);
        expectDrawnFromTable("tiles");
        keys({kKeyBack, kKeyBack, kKeyBack});
        ASSERT_EQ(g_smartmapping->level, 0);
        keys({kKeyRight, kKeyOk});  // load scan's groups
        ASSERT_EQ(screen(), S::kScanPort);
        EXPECT_EQ(state("Button_loadscan"), panel_style::kChosen) << "its screen has the keys";
        click("Button_wlan6");
        expectDrawnFromTable("scan groups touched");
        keys({kKeyOk, kKeyRight});
        expectDrawnFromTable("scan tiles");
        keys({kKeyBack, kKeyLeft, kKeyOk});  // Next
        ASSERT_EQ(screen(), S::kScanFiles);
        key(kKeyRight);
        expectDrawnFromTable("files walked");
        click("0");
        expectDrawnFromTable("file touched");
        EXPECT_EQ(panel_style::stateOf(g_smartmapping->list.slot_labels[0]), panel_style::kChosen);
        shot("styles");
    }});
}

// ---- Scan files ----

TEST_F(SmartMappingPage, TheListPagesThroughAtMostOneHundredFiles) {
    struct Row {
        int internal, usb;
        int count, last_page;
        int on_first_page;
    };
    const Row rows[] = {
        {0, 0, 0, 0, 0}, {3, 0, 3, 0, 3}, {2, 2, 4, 1, 3}, {0, 6, 6, 1, 3}, {60, 41, 100, 33, 3}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.internal << " + " << r.usb);
        removeTree(local("/data/smartmapping"));
        mountUsbDisk();
        for (int i = 0; i < r.internal; ++i)
            scanFile("/data/smartmapping", "in" + std::to_string(i) + ".qzfile");
        for (int i = 0; i < r.usb; ++i)
            scanFile("/mnt/usb1", "usb" + std::to_string(i) + ".qzfile");
        scanFile("/data/smartmapping", "notes.txt");
        onPage({[&] {
            click("Button_loadscan");
            keys({kKeyOk, kKeyLeft, kKeyOk});  // Next
            EXPECT_EQ(screen(), S::kScanFiles);
            EXPECT_EQ(g_smartmapping->file_count, r.count);
            EXPECT_EQ(g_smartmapping->list.last_page, r.last_page);
            QFrame* frame = g_smartmapping->findChild<QFrame*>("frame_file");
            EXPECT_EQ(frame->findChildren<QPushButton*>(QRegularExpression("^\\d$")).size(),
                      r.on_first_page);
            EXPECT_EQ(g_smartmapping->list.next_arrow != nullptr, r.last_page > 0);
            EXPECT_EQ(frame->findChild<QLabel*>("label_empty") != nullptr, r.count == 0);
            // Rows 25 px apart inside the frame, the third beside the next arrow.
            const std::vector<QLabel*>& rows = g_smartmapping->list.slot_labels;
            for (int k = 0; k < r.on_first_page && r.count > 0; ++k) {
                ASSERT_NE(rows[k], nullptr);
                EXPECT_EQ(rows[k]->y(), 5 + 25 * k);
                EXPECT_TRUE(frame->rect().adjusted(1, 1, -1, -1).contains(rows[k]->geometry()));
            }
            if (r.last_page > 0) {
                EXPECT_EQ(rows[2]->y(), g_smartmapping->list.next_arrow->y());
            }
            shot(QString("files-%1").arg(r.count));
        }});
    }
}

TEST_F(SmartMappingPage, KeysChooseAcrossPagesAndLoadTakesTheChosenFile) {
    for (int i = 0; i < 2; ++i)
        scanFile("/data/smartmapping", "in" + std::to_string(i) + ".qzfile");
    for (int i = 0; i < 2; ++i) scanFile("/mnt/usb1", "usb" + std::to_string(i) + ".qzfile");
    onPage({[&] {
                keys({kKeyRight, kKeyOk, kKeyLeft, kKeyOk});
                ASSERT_EQ(screen(), S::kScanFiles);
                keys({kKeyRight, kKeyRight, kKeyRight});  // the fourth file, on page 2
                EXPECT_EQ(g_smartmapping->list.current_page, 1);
                EXPECT_EQ(g_smartmapping->list.file_select, 3);
                key(kKeyRight);
                EXPECT_EQ(g_smartmapping->list.current_page, 0) << "past the last file: the first";
                keys({kKeyLeft, kKeyRight, kKeyRight});
                EXPECT_EQ(g_smartmapping->list.file_select, 2);
                EXPECT_TRUE(g_smartmapping->chosen_file.startsWith("/mnt/usb1/usb"));
                shot("files-focus");
                keys({kKeyOk, kKeyOk});  // choose, then Load
                EXPECT_EQ(g_send_para[0], 2);
                EXPECT_EQ(g_qzfile_name, g_smartmapping->chosen_file);
                pullUsbDisk();
                refresh(101);
            },
            tipShown(),
            [&] {
                EXPECT_EQ(g_smartmapping->file_count, 2);
                EXPECT_TRUE(g_qzfile_name.startsWith("/mnt/usb1/usb"));
                tick(TIP::kShowTicks);
            },
            [&] {
                finishJob();
                EXPECT_TRUE(g_smartmapping->chosen_file.startsWith("/data/smartmapping/in"));
            }});
}

// Paged by the arrow, the keys go on from the page shown: its first entry, then back over the
// previous page's last.
TEST_F(SmartMappingPage, AfterTheArrowPagesTheKeysStartOnThePageShown) {
    for (int i = 0; i < 4; ++i)
        scanFile("/data/smartmapping", "in" + std::to_string(i) + ".qzfile");
    onPage({[&] {
        keys({kKeyRight, kKeyOk, kKeyLeft, kKeyOk});
        ASSERT_EQ(screen(), S::kScanFiles);
        PagedList& list = g_smartmapping->list;
        ASSERT_NE(list.next_arrow, nullptr);
        list.next_arrow->click();
        ASSERT_EQ(list.current_page, 1);
        key(kKeyRight);
        EXPECT_EQ(list.current_page, 1) << "stays on the page shown";
        EXPECT_EQ(list.file_select, 3);
        EXPECT_EQ(panel_style::stateOf(list.slot_labels[0]), panel_style::kFocus);
        EXPECT_EQ(g_smartmapping->chosen_file.toStdString(),
                  g_smartmapping->files.value(3).toStdString());
        key(kKeyLeft);
        EXPECT_EQ(list.current_page, 0);
        EXPECT_EQ(list.file_select, 2);
        EXPECT_EQ(panel_style::stateOf(list.slot_labels[2]), panel_style::kFocus);
        EXPECT_EQ(panel_style::stateOf(list.slot_labels[0]), panel_style::kNormal);
    }});
}

// A name too long for its row is cut with "…" in its kind's colour: green for the disk's.
TEST_F(SmartMappingPage, ALongNameIsCutKeepingItsColour) {
    scanFile("/data/smartmapping", "box.qzfile");
    scanFile("/mnt/usb1", std::string(120, 'W') + ".qzfile");
    onPage({[&] {
        keys({kKeyRight, kKeyOk, kKeyLeft, kKeyOk});
        ASSERT_EQ(screen(), S::kScanFiles);
        const PagedList& list = g_smartmapping->list;
        ASSERT_NE(list.slot_labels[1], nullptr);
        const QString usb = list.slot_labels[1]->text();
        EXPECT_TRUE(usb.endsWith(QString::fromUtf8("…</font>"))) << usb.toStdString();
        EXPECT_TRUE(usb.contains("#00ff00", Qt::CaseInsensitive)) << usb.toStdString();
        EXPECT_FALSE(usb.contains("#ffffff", Qt::CaseInsensitive)) << usb.toStdString();
        EXPECT_TRUE(list.slot_labels[0]->text().contains("#ffffff", Qt::CaseInsensitive));
        shot("long-name");
    }});
}

TEST_F(SmartMappingPage, TheDiskPulledOnTheListCollectsItAgain) {
    scanFile("/mnt/usb1", "a.qzfile");
    scanFile("/mnt/usb1", "b\nc.qzfile");
    onPage({[&] {
                keys({kKeyRight, kKeyOk, kKeyLeft, kKeyOk});
                QFrame* frame = g_smartmapping->findChild<QFrame*>("frame_file");
                QStringList shown;
                for (QLabel* l : frame->findChildren<QLabel*>())
                    shown << l->text().remove(QRegularExpression("<[^>]*>")).trimmed();
                EXPECT_TRUE(shown.contains("bc.qzfile")) << shown.join(",").toStdString();
                // Back to screen 4 by touch: the keys follow.
                click("Button_front_6");
                EXPECT_EQ(screen(), S::kScanPort);
                EXPECT_EQ(g_smartmapping->loadscan_step, 0);
                pullUsbDisk();
                // What a failed mount or a restart leaves behind: a folder, which is no disk.
                scanFile("/mnt/usb1", "left.qzfile");
                refresh(101);
            },
            tipShown(), [&] { tick(TIP::kShowTicks); },
            [&] {
                EXPECT_EQ(screen(), S::kScanFiles) << "the list is shown again";
                EXPECT_EQ(g_smartmapping->loadscan_step, 1);
                EXPECT_EQ(g_smartmapping->file_count, 0);
                EXPECT_TRUE(g_smartmapping->chosen_file.isEmpty());
                shot("disk-pulled");
                keys({kKeyRight, kKeyOk});  // Load without a file: nothing
                EXPECT_EQ(g_send_para[0], 0);
            }});
}

// The files screen left for the top row, then on to each top item: a disk change afterwards
// stays on that item's screen.
TEST_F(SmartMappingPage, BrowsingTheTopRowLeavesTheFilesScreenBehind) {
    const struct {
        const char* item;
        std::vector<int> keys;  // from Load scan on the top row
        int screen;
    } cases[] = {{"debugging screen", {kKeyLeft}, S::kCabinet},
                 {"load scan", {}, S::kScanPort},
                 {"curing", {kKeyRight}, S::kCuring},
                 {"mapping", {kKeyRight, kKeyRight}, S::kMapping}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        mountUsbDisk();  // the case before pulled it
        scanFile("/mnt/usb1", "a.qzfile");
        onPage({[&] {
                    keys({kKeyRight, kKeyOk, kKeyLeft, kKeyOk});
                    ASSERT_EQ(screen(), S::kScanFiles);
                    keys({kKeyBack, kKeyBack});
                    for (int k : c.keys) key(k);
                    ASSERT_EQ(screen(), c.screen);
                    pullUsbDisk();
                    refresh(101);
                },
                tipShown(), [&] { tick(TIP::kShowTicks); },
                [&] {
                    EXPECT_EQ(screen(), c.screen) << "not pulled back to the files";
                    shot(QString("after-disk-change-%1").arg(c.screen));
                }});
    }
}

TEST_F(SmartMappingPage, ManyOtherFilesDoNotCountAsScanFiles) {
    for (int i = 0; i < 256; ++i) scanFile("/data/smartmapping", "f" + std::to_string(i) + ".bin");
    onPage({[&] {
        EXPECT_EQ(g_smartmapping->scan_file_count, 0);
        EXPECT_TRUE(dimmed("Button_loadscan"));
    }});
    scanFile("/mnt/usb1", "x.qzfile");
    onPage({[&] { EXPECT_EQ(g_smartmapping->scan_file_count, 1); }});
}

// ---- The PC's close ----

TEST_F(SmartMappingPage, ThePcsWriteOrDeletionClosesAnIdlePageOnly) {
    const auto fromPc = [this](bool written) {
        std::thread pc([written] {
            if (written)
                emit comm_bridge::pInstance()->sig_smartmapping_written();
            else
                emit comm_bridge::pInstance()->sig_file_deleted(0);
        });
        pc.join();
        settle();
    };
    for (bool written : {true, false}) {
        SCOPED_TRACE(written ? "written" : "deleted");
        onPage({[&] {
            std::thread pc([] { emit comm_bridge::pInstance()->sig_file_deleted(1); });
            pc.join();
            settle();
            EXPECT_NE(g_smartmapping, nullptr) << "a recovery file is not ours";
            keys({kKeyLeft, kKeyLeft, kKeyOk, kKeyOk});  // curing under the ring
            ASSERT_FALSE(g_qround_bar.isNull());
            fromPc(written);
            EXPECT_NE(g_smartmapping, nullptr) << "not under a ring";
            finishJob();
            fromPc(written);
            EXPECT_EQ(g_smartmapping, nullptr);
        }});
    }
}

TEST_F(SmartMappingPage, ThePcsCloseShutsAnOpenKeypadWithoutDelivering) {
    QPointer<QLineEdit> field;
    onPage({[&] { key(kKeyOk), key(kKeyOk); },
            [&] {
                ASSERT_TRUE(g_numberkeyboard->isVisible());
                pressKeypad(4);  // a 5 typed
                field = g_smartmapping->ui->lineEdit_X;
                std::thread pc([] { emit comm_bridge::pInstance()->sig_smartmapping_written(); });
                pc.join();
                settle();
                EXPECT_FALSE(g_numberkeyboard->isVisible());
            },
            [&] {
                settle();
                EXPECT_EQ(g_smartmapping, nullptr);
                EXPECT_TRUE(field.isNull() || field->text() == "128") << "nothing delivered";
            }});
}

// The PC over TCP on loopback: a scan file written while the job runs leaves the page; one
// written or deleted once it has ended closes it.
TEST_F(SmartMappingPage, ThePcsTransferAndDeletionOverTcp) {
    std::unique_ptr<Link> pc = startBoxLink(Via::Tcp);
    const auto bytes = [](const std::string& t) { return Bytes(t.begin(), t.end()); };
    // A reply's status byte; the box may be slow under a loaded sanitizer run.
    const auto status = [](const Bytes& reply) { return reply.size() > 5 ? reply[5] : -1; };
    const auto ask = [&](const Bytes& b) { return pc->ask(b, 20000); };
    const auto transfer = [&](const std::string& name) {
        EXPECT_EQ(status(ask(body(
                      0x80, cat({bytes("SMAP"), le32(3), {uint8_t(name.size())}, bytes(name)})))),
                  0);
        EXPECT_EQ(status(ask(body(0x81, cat({le32(0), le16(3), bytes("abc")})))), 0);
        EXPECT_EQ(status(ask(body(0x82, hex("900150983cd24fb0d6963f7d28e17f72")))), 0);
        settle();
    };
    const auto remove = [&](const std::string& name) {
        EXPECT_EQ(
            status(ask(body(0x83, cat({bytes("SMAP"), {uint8_t(name.size())}, bytes(name)})))), 0);
        settle();
    };
    onPage({[&] {
        keys({kKeyLeft, kKeyLeft, kKeyOk, kKeyOk});  // curing under the ring
        transfer("a.qzfile");
        remove("a.qzfile");
        EXPECT_NE(g_smartmapping, nullptr) << "the job keeps the page";
        finishJob();
        transfer("b.qzfile");
        EXPECT_EQ(g_smartmapping, nullptr);
    }});
    onPage({[&] {
        remove("b.qzfile");
        EXPECT_EQ(g_smartmapping, nullptr);
    }});
    stopBoxLinks();
}

// From the options menu: a deletion by the PC re-texts the menu in front, OK on its entry opens
// the wizard, and Mode there closes both.
TEST_F(SmartMappingPage, OpenedFromTheOptionsMenuWhichModeClosesWithIt) {
    g_lcd_lang_valid = 0x1F;
    session({[] { panel::openRegistered(kPageOption); },
             [this] {
                 const QString before = g_option->ui->label_title->text();
                 g_language = g_language == 2 ? 1 : 2;
                 std::thread pc([] { emit comm_bridge::pInstance()->sig_file_deleted(0); });
                 pc.join();
                 settle();
                 EXPECT_NE(g_option->ui->label_title->text(), before) << "re-texted";
                 key(kKeyBack);
             }});
    session({[] { panel::openRegistered(kPageOption); },
             [this] {
                 for (int i = 0; i < 6; ++i) key(kKeyRight);
                 key(kKeyOk);
             },
             [this] {
                 ASSERT_NE(g_smartmapping, nullptr);
                 shot("from-options");
                 key(kKeyMode);
                 EXPECT_EQ(g_smartmapping, nullptr);
                 EXPECT_EQ(g_option, nullptr);
             }});
    EXPECT_EQ(g_page_focus, kPageCustomMode);
}

}  // namespace
