// The USB upgrade page on the simulated disk: the list with its marks and pages, the folder it
// reads, OK that starts the job only when there is something to write and nothing else runs,
// and the end line and touch lines that tell the job's true outcome.
#include "ui/system/firmware_usbgrade.h"

#include <QLabel>
#include <QPushButton>
#include <QRegExp>
#include <array>
#include <cstdio>

#include "core/zem_ram_para.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/usb_upgrade.h"
#include "page_driver.h"
#include "platform/box.h"
#include "platform/sim/sim_fpga.h"
#include "sim_fpgas.h"
#include "ui/input/link_option.h"
#include "ui/shell/tip.h"
#include "ui/system/firmware_update.h"
#include "ui_firmware_usbgrade.h"
#include "usb_package.h"

namespace {

using namespace usb_package;

class UsbPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_usb_grade_path = " ";
        g_usb_grade = 0;
        mountUsbDisk();
        for (auto& b : g_send_para) b = 0;
        fpgas.startBoard();
        board = fpgas.board;
        mgr = fpgas.mgr;
        startPanel();
    }
    void TearDown() override {
        g_usb_grade = 0;
        g_app_reset_flag = 0;
        PanelTest::TearDown();
    }
    void onDisk(const std::string& path, const Bytes& b) {
        writeFile("/mnt/usb1/" + path, std::string(b.begin(), b.end()));
    }
    // The names shown on the current list page, and which are marked.
    QStringList shown() const {
        QStringList names;
        for (QLabel* l : g_firmware_usbgrade->list.slot_labels)
            if (l) names << QString(l->text()).remove(QRegExp("<[^>]*>"));
        return names;
    }
    // The job's first step (it asks for the overlay), then the rest, on a thread of their own as
    // the FPGA thread runs them: the job's signals and its refresh reach the page queued.
    void firstStep() {
        fpgas.runOnFpgaThread([] { return g_send_para[send_para::kStep] != 0; }, 1);
    }
    void runJob() {
        EXPECT_TRUE(fpgas.runOnFpgaThread([] { return g_usb_grade == 0; }, 10));
    }
    // Waits for the end line that the job's end draws.
    Item jobEnded() {
        return Item::until([this] { return !logLine().isEmpty() && !logLine().contains("Dont"); });
    }
    QString logLine() const { return g_firmware_usbgrade->ui->label_log->text(); }
    // Runs the job's steps on the FPGA thread until it is about to take step `step`: the job is
    // held there while the test acts.
    void holdJobBefore(int step) {
        EXPECT_TRUE(fpgas.runOnFpgaThread([step] { return g_send_para[send_para::kStep] == step; },
                                          step + 1));
    }
    static QString tipText() {
        QLabel* words = g_tip->content() ? g_tip->content()->findChild<QLabel*>() : nullptr;
        return words ? words->text() : QString();
    }
    bool noFileText() const {
        return g_firmware_usbgrade->list.frame_file->findChild<QLabel*>("label_empty") != nullptr;
    }
    void open(std::vector<Item> steps) {
        steps.insert(steps.begin(), Item([] { panel::openRegistered(kPageFirmwareUsbGrade); }));
        steps.push_back([this] {
            if (g_firmware_usbgrade) key(kKeyBack);
        });
        session(std::move(steps));
    }
    // Times the reset line went low.
    int resets(uint32_t pad) const {
        int n = 0;
        for (const auto& w : box().soc.writes()) n += w.offset == pad && w.value == 0;
        return n;
    }
    SimFpgas fpgas;
    std::shared_ptr<platform::sim::SimFpgaBoard> board;
    fpga_manage* mgr = nullptr;
};

TEST_F(UsbPage, ListsPackagesAndFontsFourAPageInTheChosenFolder) {
    struct Case {
        const char* folder;  // g_usb_grade_path
        const char* dir;     // below /mnt/usb1/
        int files;
        int pages;
    };
    const Case cases[] = {{" ", "", 9, 3}, {"up/", "up/", 4, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        g_usb_grade_path = c.folder;
        for (int i = 0; i < c.files; ++i)
            onDisk(std::string(c.dir) + "f" + std::to_string(i) + (i % 3 ? ".ZEM" : ".ZEMZK"),
                   package({{10, bytes(10, uint8_t(i))}}));
        onDisk(std::string(c.dir) + "lower.zem", bytes(10, 1));
        onDisk(std::string(c.dir) + "more.ZEM.bak", bytes(10, 1));
        open({[this, c] {
            firmware_usbgrade* p = g_firmware_usbgrade;
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->file_list.size(), c.files) << "no other suffix, no other letter case";
            EXPECT_EQ(p->list.last_page, c.pages - 1);
            QStringList all;
            for (int page = 0; page < c.pages; ++page) {
                all << shown();
                const QRect frame = p->list.frame_file->rect().adjusted(1, 1, -1, -1);
                for (QLabel* l : p->list.slot_labels) {
                    if (!l) continue;
                    EXPECT_TRUE(l->styleSheet().contains("#4777FF")) << "the job writes it";
                    EXPECT_TRUE(frame.contains(l->geometry())) << "inside the frame's border";
                }
                shot(QString("page-%1-%2").arg(page).arg(c.files));
                EXPECT_EQ(p->list.next_arrow != nullptr, page < c.pages - 1);
                EXPECT_EQ(p->list.previous_arrow != nullptr, page > 0);
                if (p->list.next_arrow) p->list.next_arrow->click();
            }
            EXPECT_EQ(all.size(), c.files);
            EXPECT_EQ(all.filter(".ZEMZK").size(), (c.files + 2) / 3);
            p->list.next();
            EXPECT_EQ(p->list.current_page, 0) << "past the last page comes the first";
        }});
    }
}

TEST_F(UsbPage, AtMostAHundredOf256FilesAndTheJobWritesThemAll) {
    // Each cut short: its child runs past the end of the file, so the job refuses it.
    for (int i = 0; i < 256; ++i) {
        Bytes cut = package({{10, bytes(100, uint8_t(i))}});
        cut.resize(cut.size() - 50);
        onDisk("p" + std::to_string(i) + ".ZEM", cut);
    }
    open({[this] {
              EXPECT_EQ(g_firmware_usbgrade->file_list.size(), 100);
              key(kKeyOk);
              runJob();
          },
          jobEnded(),
          [this] {
              EXPECT_EQ(mgr->usb_file_count, 100u);
              EXPECT_EQ(mgr->usb_refused, 100) << "a job of 256 files still reads 100, not none";
              EXPECT_TRUE(logLine().contains("#FF0000")) << "refused packages: a red end line";
              shot("red-end");
          }});
}

TEST_F(UsbPage, OkStartsTheJobUnderTheOverlayAndTheEndLineIsGreen) {
    onDisk("prog.ZEM", package({{10, bytes(300, 5)}}));
    open({[this] {
              click("Button_grade");
              EXPECT_TRUE(logLine().isEmpty()) << "no line before any upgrade";
              key(kKeyOk);
              EXPECT_EQ(g_usb_grade.load(), 1);
              EXPECT_EQ(g_send_para[send_para::kStep].load(), 0);
              firstStep();
          },
          Item::until([] { return g_move_update != nullptr; }),
          [this] {
              ASSERT_NE(g_move_update, nullptr);
              EXPECT_EQ(g_update_flag.load(), kUpdateByUsb);
              click("Button_grade");
              EXPECT_TRUE(logLine().contains("Dont power off")) << "in the job";
              shot("overlay");
              const int y = g_move_update->icon_label->y();
              tick(4);
              EXPECT_NE(g_move_update->icon_label->y(), y) << "the tick keeps moving it";
              key(kKeyOk);  // refused: once a page
              key(kKeyMode);
              EXPECT_NE(g_firmware_usbgrade, nullptr) << "Mode refused after OK";
              runJob();
          },
          jobEnded(),
          [this] {
              EXPECT_EQ(g_move_update, nullptr);
              EXPECT_TRUE(logLine().contains("#51BB28")) << logLine().toStdString();
              EXPECT_TRUE(logLine().contains("downing over"));
              click("Button_grade");
              EXPECT_TRUE(logLine().contains("#51BB28")) << "the touch line after the job";
              shot("green-end");
          },
          [this] { key(kKeyBack); }});
    EXPECT_EQ(g_firmware_usbgrade, nullptr) << "Back always";
}

// FPGA 0's flash does not take its firmware, in two ways a part fails: cells that keep their
// bytes while every command reports done (only reading back tells), and a busy bit that never
// clears. FPGA 1's child of the same package goes in.
TEST_F(UsbPage, AFlashThatRefusesTheFirmwareEndsInARedLineAndItsFpgaIsNotRestarted) {
    using platform::sim::SimFpgaFlash;
    struct Case {
        const char* what;
        void (*fault)(SimFpgaFlash&);
    };
    const Case cases[] = {
        {"worn", [](SimFpgaFlash& f) { f.worn_begin = 0x9000, f.worn_end = 0x9100; }},
        {"stuck-busy", [](SimFpgaFlash& f) { f.stuck_busy = true; }},
    };
    const Bytes bits = bytes(70000, 3);  // three 32 KiB pieces: the second meets the worn cells
    onDisk("fw.ZEM", package({{kFpga0, firmware(bits)}, {kFpga1, firmware(bits)}}));
    std::array<int, 3> result{-1, -1, -1};
    const auto conn = QObject::connect(usb_upgrade_report::pInstance(),
                                       &usb_upgrade_report::sig_usb_upgrade_result,
                                       [&result](int i, int f, int x) {
                                           result = {i, f, x};
                                       });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.fault(board->flash[0]);
        box().soc.clearWrites();
        open(
            {[this] {
                 key(kKeyOk);
                 firstStep();
             },
             Item::until([] { return g_move_update != nullptr; }),
             [this, c] {
                 EXPECT_TRUE(g_move_update->isVisible());
                 shot(QString("overlay-") + c.what);
                 runJob();
             },
             jobEnded(),
             [this, c] {
                 EXPECT_EQ(g_move_update, nullptr);
                 EXPECT_TRUE(logLine().contains("#FF0000")) << logLine().toStdString();
                 EXPECT_TRUE(logLine().contains("Write failed<br>1 installed, 1 failed, 0 refused"))
                     << logLine().toStdString();
                 shot(QString("red-end-") + c.what);
                 click("Button_grade");
                 EXPECT_TRUE(logLine().contains("#FF0000")) << "the touch line after the job";
             }});
        EXPECT_EQ(result, (std::array<int, 3>{1, 1, 0})) << "FPGA 1 installed, FPGA 0 failed";
        EXPECT_EQ(resets(fpga_manage::fpga0_reset), 0) << "not restarted on a broken bitstream";
        EXPECT_EQ(resets(fpga_manage::fpga1_reset), 1);
        EXPECT_EQ(mgr->downing_txc1, 0);
        const auto& mem = board->flash[0].mem;
        EXPECT_FALSE(std::equal(bits.begin(), bits.end(), mem.begin()));
        EXPECT_TRUE(std::equal(bits.begin(), bits.end(), board->flash[1].mem.begin()));
        board->flash[0].worn_end = 0;
        board->flash[0].stuck_busy = false;
    }
    QObject::disconnect(conn);
}

// A package refused or a part that failed: the end line says why the first one was, and how
// many parts went in, failed and were refused, in the language in force; a clean upgrade keeps
// its own line.
TEST_F(UsbPage, ARefusedPackageSaysWhyAndHowManyInEachLanguage) {
    Bytes cut = package({{kProgram, bytes(300, 5)}});
    cut.resize(cut.size() - 50);
    struct Case {
        const char* what;
        std::vector<Bytes> files;
        const char* const why[kLanguageCount];
        const char* const counts[kLanguageCount];
    };
    const Case cases[] = {
        {"other-box",
         {package({{kFpga0, firmware(bytes(900, 6))}, {kProgram, bytes(300, 2)}}, 0x1234)},
         {"升级包不适用于本机", "Package not for this box", "Пакет не для этого устройства",
          "Gói không dành cho máy này", "升級包不適用於本機"},
         {"成功0 失败0 拒绝1", "0 installed, 0 failed, 1 refused", "успешно 0, сбой 0, отказ 1",
          "0 xong, 0 lỗi, 1 bị từ chối", "成功0 失敗0 拒絕1"}},
        // This box's package with children of kinds it does not take only: refused, not read
        // as an empty disk.
        {"nothing-taken",
         {package({{1, bytes(64, 1)}, {3, firmware(bytes(64, 6))}, {9, bytes(1, 2)}})},
         {"升级包不适用于本机", "Package not for this box", "Пакет не для этого устройства",
          "Gói không dành cho máy này", "升級包不適用於本機"},
         {"成功0 失败0 拒绝1", "0 installed, 0 failed, 1 refused", "успешно 0, сбой 0, отказ 1",
          "0 xong, 0 lỗi, 1 bị từ chối", "成功0 失敗0 拒絕1"}},
        // The firmware of the other package still goes in.
        {"damaged",
         {cut, package({{kFpga1, firmware(bytes(900, 7))}})},
         {"文件损坏或不完整", "File damaged or cut short", "Файл повреждён или обрезан",
          "Tập tin bị hỏng hoặc thiếu", "文件損壞或不完整"},
         {"成功1 失败0 拒绝1", "1 installed, 0 failed, 1 refused", "успешно 1, сбой 0, отказ 1",
          "1 xong, 0 lỗi, 1 bị từ chối", "成功1 失敗0 拒絕1"}},
        {"too-large",
         {package({{kFont, font(32, true, 0x10000)}})},
         {"文件过大", "File too large", "Файл слишком большой", "Tập tin quá lớn", "文件過大"},
         {"成功0 失败0 拒绝1", "0 installed, 0 failed, 1 refused", "успешно 0, сбой 0, отказ 1",
          "0 xong, 0 lỗi, 1 bị từ chối", "成功0 失敗0 拒絕1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_usb_grade_path = QString(c.what) + "/";
        for (size_t i = 0; i < c.files.size(); ++i)
            onDisk(std::string(c.what) + "/p" + std::to_string(i) + ".ZEM", c.files[i]);
        open({[this] {
                  key(kKeyOk);
                  runJob();
              },
              jobEnded(),
              [this, c] {
                  for (int lang = 0; lang < kLanguageCount; ++lang) {
                      SCOPED_TRACE(lang);
                      g_language = uint8_t(lang);
                      g_firmware_usbgrade->language_changed();
                      const QString line = logLine();
                      EXPECT_TRUE(line.contains("#FF0000")) << line.toStdString();
                      EXPECT_FALSE(line.contains("downing over")) << line.toStdString();
                      EXPECT_TRUE(line.contains(QString::fromUtf8(c.why[lang]) + "<br>" +
                                                QString::fromUtf8(c.counts[lang])))
                          << line.toStdString();
                      shot(QString("%1-%2").arg(c.what).arg(lang));
                  }
                  g_language = 0;
              }});
    }
}

TEST_F(UsbPage, ThePageOpenedAgainDuringTheJobShowsItsEnd) {
    onDisk("prog.ZEM", package({{10, bytes(300, 5)}}));
    session({[] { panel::openRegistered(kPageFirmwareUsbGrade); },
             [this] {
                 key(kKeyOk);
                 EXPECT_EQ(g_usb_grade.load(), 1);
                 key(kKeyBack);
             },
             [] { panel::openRegistered(kPageFirmwareUsbGrade); },
             [this] {
                 EXPECT_EQ(g_firmware_usbgrade->file_downing, 0) << "a page of its own";
                 runJob();
             },
             jobEnded(),
             [this] {
                 EXPECT_TRUE(logLine().contains("downing over")) << logLine().toStdString();
                 EXPECT_TRUE(logLine().contains("#51BB28"));
                 shot("end-after-reopening");
                 key(kKeyBack);
             }});
}

TEST_F(UsbPage, OkIsRefusedWithNoFileWhileATaskRunsAndDuringAPcUpdate) {
    struct Case {
        const char* what;
        bool file;
        uint8_t task;
        uint8_t update;
    };
    const Case cases[] = {{"no file", false, 0, 0},
                          {"a mailbox task", true, 5, 0},
                          {"a PC update", true, 0, kUpdateByPc}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.file) onDisk("prog.ZEM", package({{10, bytes(30, 5)}}));
        g_send_para[send_para::kTask] = c.task;
        g_send_para[send_para::kStep] = 0x33;
        g_update_flag = c.update;
        open({[this] {
            key(kKeyOk);
            EXPECT_EQ(g_usb_grade.load(), 0);
            EXPECT_EQ(g_send_para[send_para::kStep].load(), 0x33) << "the step left alone";
            EXPECT_EQ(g_firmware_usbgrade->file_downing, 0);
            shot("refused");
        }});
        g_send_para[send_para::kTask] = 0;
        g_update_flag = 0;
    }
}

TEST_F(UsbPage, ADiskRemovedOrMountedIsReadAgain) {
    open({[this] {
              EXPECT_NE(g_firmware_usbgrade->list.frame_file->findChild<QLabel*>("label_empty"),
                        nullptr);
              shot("no-file");
              onDisk("new.ZEM", package({{10, bytes(30, 5)}}));
              refresh(102);
          },
          Item::until([this] { return !shown().isEmpty(); }),  // under the "reading" tip
          [this] {
              EXPECT_EQ(shown(), QStringList{"new.ZEM"});
              tick(TIP::kShowTicks);
          },
          [this] {
              pullUsbDisk();
              // What a failed mount or a restart leaves behind: a folder, which is no disk.
              onDisk("left.ZEM", package({{10, bytes(30, 6)}}));
          },
          [this] { refresh(101); }, Item::until([this] { return shown().isEmpty(); }),
          [this] { tick(TIP::kShowTicks); }});
}

// After a job, another disk is listed and OK runs a job for the new list; the job's end line
// stays until that job starts. A disk read while a job runs changes nothing until it ends.
TEST_F(UsbPage, ASecondDiskAfterAJobStartsOver) {
    onDisk("a.ZEM", package({{kProgram, bytes(300, 5)}}));
    open({[this] {
              key(kKeyOk);
              firstStep();
          },
          Item::until([] { return g_move_update != nullptr; }),
          [this] {
              click("Button_grade");
              const QString running = logLine();
              onDisk("late.ZEM", package({{kProgram, bytes(30, 7)}}));
              refresh(102);
              EXPECT_EQ(shown(), QStringList{"a.ZEM"}) << "the list of the job";
              EXPECT_EQ(logLine(), running);
              runJob();
          },
          jobEnded(),
          [this] {
              EXPECT_TRUE(logLine().contains("downing over")) << logLine().toStdString();
              QStringList listed = shown();
              listed.sort();
              EXPECT_EQ(listed, (QStringList{"a.ZEM", "late.ZEM"}))
                  << "the disk read during the job, listed after its end line";
              shot("first-end");
              pullUsbDisk();
              refresh(101);
          },
          Item::until([] { return g_tip->isVisible(); }),
          [this] {
              EXPECT_TRUE(logLine().contains("downing over")) << "the end line stays";
              EXPECT_TRUE(shown().isEmpty());
              tick(TIP::kShowTicks);
              key(kKeyOk);
              EXPECT_EQ(g_usb_grade.load(), 0) << "nothing to write";
              mountUsbDisk();
              onDisk("b.ZEM", package({{kProgram, bytes(300, 8)}}));
              refresh(102);
          },
          Item::until([this] { return shown() == QStringList{"b.ZEM"}; }),
          [this] {
              EXPECT_TRUE(logLine().contains("downing over")) << "the end line stays";
              shot("second-disk");
              tick(TIP::kShowTicks);
              key(kKeyOk);
              EXPECT_EQ(g_usb_grade.load(), 1) << "OK starts the second disk's job";
              EXPECT_TRUE(logLine().isEmpty()) << "another job: the last one's end line goes";
              runJob();
          },
          jobEnded(),
          [this] {
              EXPECT_TRUE(logLine().contains("#51BB28")) << logLine().toStdString();
              const Bytes second = bytes(300, 8);
              EXPECT_EQ(readFile("/data/app/zemT57N2"), std::string(second.begin(), second.end()))
                  << "the second disk's program";
              shot("second-end");
          }});
}

// The disk pulled while the job is held, before it lists the disk's files or after: the job
// reads none, so no end line tells a success; the page shows the no-file text and, once the
// overlay is gone, the unplugged tip.
TEST_F(UsbPage, AJobWhoseDiskWentAwayDrawsNoEndLine) {
    const struct {
        const char* when;
        int step;  // the job is held before it
    } cases[] = {{"before-its-list", 1}, {"after-its-list", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        mountUsbDisk();
        onDisk("prog.ZEM", package({{kProgram, bytes(300, 5)}}));
        open({[this, c] {
                  key(kKeyOk);
                  holdJobBefore(c.step);
              },
              Item::until([] { return g_move_update != nullptr; }),
              [this] {
                  pullUsbDisk();
                  refresh(101);
                  EXPECT_EQ(shown(), QStringList{"prog.ZEM"}) << "the job's list while it runs";
                  runJob();
              },
              Item::until([] { return g_tip->isVisible(); }),
              [this, c] {
                  EXPECT_EQ(mgr->usb_files_read, 0);
                  EXPECT_TRUE(logLine().isEmpty()) << logLine().toStdString();
                  EXPECT_TRUE(shown().isEmpty());
                  EXPECT_TRUE(noFileText());
                  EXPECT_EQ(tipText(), "USB drive is unplugged.");
                  shot(QString("disk-gone-") + c.when);
                  tick(TIP::kShowTicks);
                  key(kKeyOk);
                  EXPECT_EQ(g_usb_grade.load(), 0) << "nothing to write";
              }});
    }
}

// A disk swapped while the job is held after its list: the job finds none of its files; the
// last disk event, kept, is acted on at its end: the new disk's files are listed, with the
// reading tip, and OK writes them.
TEST_F(UsbPage, ADiskSwappedDuringAJobIsListedAfterIt) {
    onDisk("a.ZEM", package({{kProgram, bytes(300, 5)}}));
    open({[this] {
              key(kKeyOk);
              holdJobBefore(2);
          },
          Item::until([] { return g_move_update != nullptr; }),
          [this] {
              pullUsbDisk();
              refresh(101);
              mountUsbDisk();
              onDisk("b.ZEM", package({{kProgram, bytes(300, 8)}}));
              refresh(100);
              refresh(102);
              EXPECT_EQ(shown(), QStringList{"a.ZEM"}) << "the job's list while it runs";
              runJob();
          },
          Item::until([] { return g_tip->isVisible(); }),
          [this] {
              EXPECT_TRUE(logLine().isEmpty()) << logLine().toStdString();
              EXPECT_EQ(shown(), QStringList{"b.ZEM"});
              EXPECT_EQ(tipText(), "Reading the data,pls wait");
              shot("swapped");
              tick(TIP::kShowTicks);
              key(kKeyOk);
              EXPECT_EQ(g_usb_grade.load(), 1) << "OK starts the new disk's job";
              runJob();
          },
          jobEnded(),
          [this] {
              EXPECT_TRUE(logLine().contains("#51BB28")) << logLine().toStdString();
              const Bytes second = bytes(300, 8);
              EXPECT_EQ(readFile("/data/app/zemT57N"), std::string(second.begin(), second.end()))
                  << "the new disk's program, installed";
          }});
}

// The disk pulled, or swapped for another, while the job writes the second of three packages
// (each FPGA 1 firmware): the first went in, the second's part failed, the third was not read. The
// end line says the disk was removed, in each language, and stays while the disk events that
// follow the job's end list what is plugged in now.
TEST_F(UsbPage, AJobsOutcomeOutlivesTheDiskItsFilesWentWith) {
    struct Case {
        const char* name;
        std::string swapped_in;         // the new disk's package; none: the disk pulled alone
        std::vector<int> events_after;  // the watcher's events after the job's end
        QStringList listed;
    };
    const Case cases[] = {
        {"pulled", "", {}, {}},
        {"swapped", "new.ZEM", {100, 102}, {"new.ZEM"}},
    };
    const char* const why[kLanguageCount] = {"U盘已拔出", "The disk was removed",
                                             "USB-накопитель извлечён", "Đã rút ổ USB",
                                             "U盤已拔出"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mountUsbDisk();
        for (int i = 0; i < 3; ++i)
            onDisk("fw" + std::to_string(i) + ".ZEM",
                   package({{kFpga1, firmware(bytes(900, uint8_t(i)))}}));
        mgr->hooks.on_usb_package_checked = [this, c](int file) {
            if (file != 1) return;
            if (c.swapped_in.empty())
                pullUsbDisk();
            else
                mountUsbDisk(), onDisk(c.swapped_in, package({{kFpga1, firmware(bytes(900, 9))}}));
            ZemRamPara::pInstance()->test_signal(101);  // the watcher's, while the job runs
        };
        const Item tip_shown = Item::until([] { return g_tip->isVisible(); });
        std::vector<Item> steps = {[this] {
                                       key(kKeyOk);
                                       runJob();
                                   },
                                   jobEnded(), tip_shown,  // of the disk event kept
                                   [this] {
                                       mgr->hooks.on_usb_package_checked = nullptr;
                                       EXPECT_EQ(mgr->usb_files_read, 2);
                                       tick(TIP::kShowTicks);
                                   }};
        for (int id : c.events_after) {
            steps.push_back([this, id] { refresh(id); });
            steps.push_back(tip_shown);
            steps.push_back([this] { tick(TIP::kShowTicks); });
        }
        steps.push_back([this, c, &why] {
            EXPECT_EQ(shown(), c.listed) << "what is plugged in now";
            for (int lang = 0; lang < kLanguageCount; ++lang) {
                SCOPED_TRACE(lang);
                g_language = uint8_t(lang);
                g_firmware_usbgrade->language_changed();
                const QString line = logLine();
                EXPECT_TRUE(line.startsWith("<font style = 'font-size:13px' color = #FF0000 >" +
                                            QString::fromUtf8(why[lang]) + "<br>"))
                    << line.toStdString();
                EXPECT_TRUE(lang != 1 ||
                            line.contains("1 installed, 1 failed, 0 refused, 1 not read"))
                    << line.toStdString();
                shot(QString("%1-%2").arg(c.name).arg(lang));
            }
            g_language = 0;
            g_firmware_usbgrade->language_changed();
        });
        open(std::move(steps));
    }
}

// Packages the box has already: the job writes nothing, 0 0 0, and its green end line says so.
TEST_F(UsbPage, PackagesAlreadyOnTheBoxEndGreen) {
    const std::array<uint8_t, 6> running = {25, 9, 26, 11, 2, 0};
    onDisk("same.ZEM", package({{kProgram, bytes(300, 5), running}}, 0x9752, 0x80));
    open({[this] {
              key(kKeyOk);
              runJob();
          },
          jobEnded(),
          [this] {
              EXPECT_EQ(mgr->usb_installed + mgr->usb_failed + mgr->usb_refused, 0);
              EXPECT_EQ(mgr->usb_files_read, 1);
              EXPECT_TRUE(logLine().contains("#51BB28")) << logLine().toStdString();
              EXPECT_TRUE(logLine().contains("downing over"));
              EXPECT_EQ(shown(), QStringList{"same.ZEM"});
              shot("on-the-box");
          }});
}

// A disk read again is a new list: every file is marked for the job, none chosen, also where
// a touch chose one in the list before.
TEST_F(UsbPage, ADiskReadAgainStartsWithNothingChosen) {
    using panel_style::kChosen;
    using panel_style::kMarked;
    onDisk("a.ZEM", package({{10, bytes(30, 5)}}));
    onDisk("b.ZEM", package({{10, bytes(30, 6)}}));
    const auto states = [] {
        std::vector<panel_style::State> out;
        for (QLabel* l : g_firmware_usbgrade->list.slot_labels)
            if (l) out.push_back(panel_style::stateOf(l));
        return out;
    };
    const std::vector<panel_style::State> marked(2, kMarked);
    open({[&] {
              EXPECT_EQ(states(), marked);
              click("1");
              EXPECT_EQ(states(), (std::vector<panel_style::State>{kMarked, kChosen}));
              refresh(102);
          },
          Item::until([] { return g_tip->isVisible(); }),  // shown after the page's refresh
          [&] {
              EXPECT_EQ(states(), marked) << "a choice in the new list";
              tick(TIP::kShowTicks);
          }});
}

}  // namespace

namespace {

TEST_F(UsbPage, LinkOptionOpensItAndBackReturnsThere) {
    session({[] { panel::openRegistered(kPageLinkOption); },
             [] { g_linkoption->on_Button_firmware_usbgrade_clicked(); },
             [this] {
                 EXPECT_EQ(g_page_focus, kPageFirmwareUsbGrade);
                 key(kKeyBack);
             },
             [this] {
                 EXPECT_EQ(g_page_focus, kPageLinkOption);
                 key(kKeyBack);
             }});
    EXPECT_EQ(g_firmware_usbgrade, nullptr);
}

}  // namespace
