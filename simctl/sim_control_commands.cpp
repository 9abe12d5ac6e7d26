// The commands of the simulated box's control channel, one handler each, looked up in kCommands.
// Device commands act on the simulated models from the channel's thread (each model has its own
// lock); panel commands run queued on the main thread; jobs start through the mailbox as the
// pages start them.
#include <QComboBox>
#include <QImage>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "c331/c331_manage.h"
#include "comm/comm_hooks.h"
#include "comm/link_session.h"
#include "core/globals.h"
#include "fpga/fpga_globals.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_job_events.h"
#include "fpga/rcv_recovery.h"
#include "platform/box.h"
#include "platform/own_files.h"
#include "platform/sim/sim_box.h"
#include "platform/sim/sim_c331.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/sim_receivers.h"
#include "simctl/sim_control.h"
#include "ui/shell/panel_frame.h"
#include "ui/shell/panel_view.h"

namespace {

using platform::sim::SimUsbDisk;

const std::string kOk = "ok";
constexpr int kPorts = 20;
constexpr uint8_t kTaskQuery = 5, kTaskRecover = 6;
const char* const kInputs[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
constexpr int kEdidEepromSize = 256;
constexpr int kFpgaBrightnessReg = 6;

std::string error(const std::string& why) {
    return "error: " + why;
}

// A whole decimal number within [lo, hi].
bool number(const std::string& text, long lo, long hi, long& out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stol(text);
    return out >= lo && out <= hi;
}

bool sameWord(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// A program path the box may write or read: absolute, inside the root.
bool programPath(const std::string& p) {
    return p.size() > 1 && p[0] == '/' && p.find("..") == std::string::npos;
}

std::shared_ptr<platform::sim::SimFpgaBoard> board() {
    return platform::sim::fpgaBoard();
}

// ---- usb ----

std::string usbCommand(const SimArgs& w) {
    SimUsbDisk& disk = platform::sim::SimBox::get().usb_disk;
    if (w.size() == 2 && w[1] == "unplug") {
        if (disk.unplug() != 0) return error("no USB disk is plugged in");
        return kOk;
    }
    if (w.size() != 3 || w[1] != "plug") return error("usage: usb plug HOSTDIR | usb unplug");
    // The watcher drops events until the panel has run 10 s, as on the box: say so instead.
    if (!g_delay_usbserver) return error("the USB watcher is not listening yet; plug again later");
    switch (disk.plug(w[2])) {
        case 0:
            return kOk;
        case -EBUSY:
            return error("a USB disk is plugged in already; usb unplug first");
        case -ELOOP:
            return error(w[2] + " is a symbolic link");
        default:
            return error("no folder " + w[2] + " under the box's root");
    }
}

// ---- inputs ----

int inputByName(const std::string& name) {
    for (int i = 0; i < 6; ++i)
        if (sameWord(name, kInputs[i])) return i;
    return -1;
}

std::string inputCommand(const SimArgs& w) {
    const char* usage = "usage: input EXT|DVI|HDMI1..HDMI4 WxH@HZ|off";
    if (w.size() != 3) return error(usage);
    const int source = inputByName(w[1]);
    if (source < 0) return error("no input " + w[1] + " (EXT, DVI, HDMI1..HDMI4)");
    if (w[2] == "off") {
        platform::sim::setInput(source, nullptr);
        return kOk;
    }
    unsigned width = 0, height = 0, rate = 0;
    char end = 0;
    if (std::sscanf(w[2].c_str(), "%ux%u@%u%c", &width, &height, &rate, &end) != 3)
        return error(usage);
    if (!platform::sim::setInput(source, int(width), int(height), int(rate)))
        return error("no standard video mode " + w[2]);
    return kOk;
}

// A jig reading an input's EDID EEPROM out whole, to a file under the root.
std::string edidCommand(const SimArgs& w) {
    if (w.size() != 3 || !programPath(w[2]))
        return error(
            "usage: edid EXT|DVI|HDMI1..HDMI4 FILE (a path under the box's root, as "
            "/sim/edid.bin)");
    const int source = inputByName(w[1]);
    if (source < 0) return error("no input " + w[1] + " (EXT, DVI, HDMI1..HDMI4)");
    const auto eeprom = platform::sim::inputSide().eeprom[source];
    if (!eeprom) return error("input " + w[1] + " has no EDID EEPROM");
    std::string bytes(kEdidEepromSize, '\0');
    for (int i = 0; i < kEdidEepromSize; ++i) bytes[size_t(i)] = char(eeprom->reg(uint8_t(i)));
    const std::string& file = w[2];
    if (platform::makeParentDirs(file) != 0) return error("no folder for " + file);
    if (platform::refuseLink(platform::path(file))) return error(file + " is a symbolic link");
    std::ofstream out(platform::path(file), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return out.flush() ? kOk : error("could not write " + file);
}

// ---- cards and links ----

bool portArg(const std::string& text, int& port) {
    long p = 0;
    if (!number(text, 1, kPorts, p)) return false;
    port = int(p) - 1;
    return true;
}

std::string cardsCommand(const SimArgs& w) {
    int port = 0;
    long count = 0;
    if (w.size() != 3 || !portArg(w[1], port) || !number(w[2], 0, 255, count))
        return error("usage: cards PORT(1..20) N(0..255)");
    auto b = board();
    if (!b) return error("the box has no FPGA board");
    {
        zem::MutexLocker lock(b->mutex);
        b->setCards(port, int(count));
    }
    b->setLink(port, count > 0);  // cables with cards carry a link; the FPGA reports the change
    return kOk;
}

// The configuration id of the screen that the recovery file "/data/rcvrecovery/QZFX" restores
// on a port (0..19); false when the file has none for it.
bool storedConfigId(int port, uint32_t& id) {
    rcvRecovery r;
    r.file_path = "/data/rcvrecovery/QZFX";
    if (r.get_rcvPackedFileNum()) return false;
    for (uint8_t i = 0; i < r.sub_file_count(); ++i)
        if (r.get_rcvPackedFileInfo(i)) return false;
    if (!r.has_sub_file(rcvRecovery::kScreenFile) || r.update_rcvScreenHead()) return false;
    for (uint8_t s = 0; s < r.screen_head.screen_num; ++s) {
        if (r.update_rcvScreenIDinfo(s) || r.update_rcvXYscreenNetnum()) return false;
        for (uint16_t n = 0; n < r.screen_net_num && n < 256; ++n) {
            if (r.update_rcvXYscreenNetpara(uint8_t(n))) return false;
            if (r.net_record.net_ledx == port) {
                id = r.config_id();
                return true;
            }
        }
    }
    return false;
}

std::string cardCommand(const SimArgs& w) {
    const char* usage = "usage: card PORT(1..20) INDEX(1..) ok|silent|bad-check|needs-recovery";
    int port = 0;
    long index = 0;
    if (w.size() != 4 || !portArg(w[1], port) || !number(w[2], 1, 255, index)) return error(usage);
    const std::string& state = w[3];
    if (state != "ok" && state != "silent" && state != "bad-check" && state != "needs-recovery")
        return error(usage);
    auto b = board();
    if (!b) return error("the box has no FPGA board");
    uint32_t id = 0;
    // The card answers a query with the configuration its port's screen had when the PC saved
    // the recovery file, so that the query can name it.
    if (state == "needs-recovery" && !storedConfigId(port, id))
        return error("the recovery file /data/rcvrecovery/QZFX has no screen on port " + w[1]);
    zem::MutexLocker lock(b->mutex);
    auto& cards = b->port(port).cards;
    if (size_t(index) > cards.size())
        return error("port " + w[1] + " has " + std::to_string(cards.size()) + " cards");
    platform::sim::SimCard& card = cards[size_t(index - 1)];
    card.silent = state == "silent";
    card.bad_check = state == "bad-check";
    card.needs_recovery = state == "needs-recovery";
    if (card.needs_recovery)
        for (auto& c : cards) c.config_id = id;
    return kOk;
}

std::string linkCommand(const SimArgs& w) {
    int port = 0;
    if (w.size() != 3 || !portArg(w[1], port) || (w[2] != "up" && w[2] != "down"))
        return error("usage: link PORT(1..20) up|down");
    auto b = board();
    if (!b) return error("the box has no FPGA board");
    b->setLink(port, w[2] == "up");
    return kOk;
}

// ---- panel ----

// A front key by name, or a keypad letter; 0 for none.
int keyCode(const std::string& name) {
    static const struct {
        const char* name;
        int code;
    } kKeys[] = {{"Left", kKeyLeft},
                 {"Right", kKeyRight},
                 {"OK", kKeyOk},
                 {"Mode", kKeyMode},
                 {"Back", kKeyBack}};
    for (const auto& k : kKeys)
        if (sameWord(name, k.name)) return k.code;
    // The keypad's letters A..P and the twins Q, R, S of OK, Right and Left.
    if (name.size() == 1 && std::toupper(static_cast<unsigned char>(name[0])) >= 'A' &&
        std::toupper(static_cast<unsigned char>(name[0])) <= 'S')
        return Qt::Key_A + (std::toupper(static_cast<unsigned char>(name[0])) - 'A');
    return 0;
}

std::string keyCommand(const SimArgs& w) {
    const int code = w.size() == 2 ? keyCode(w[1]) : 0;
    if (!code) return error("usage: key Left|Right|OK|Mode|Back|A..S");
    return sim_control_on_panel(
        [code] { return panel::postKey(code) ? kOk : error("no page is shown yet"); });
}

std::string touchCommand(const SimArgs& w) {
    long x = 0, y = 0;
    if (w.size() != 3 || !number(w[1], 0, 319, x) || !number(w[2], 0, 239, y))
        return error("usage: touch X(0..319) Y(0..239)");
    return sim_control_on_panel([x, y] {
        return panel::postTouch(QPoint(int(x), int(y))) ? kOk : error("nothing of the panel there");
    });
}

std::string screenshotCommand(const SimArgs& w) {
    if (w.size() != 2 || !programPath(w[1]))
        return error("usage: screenshot FILE (a path under the box's root, as /sim/shot.png)");
    const std::string file = w[1];
    if (platform::makeParentDirs(file) != 0) return error("no folder for " + file);
    if (platform::refuseLink(platform::path(file))) return error(file + " is a symbolic link");
    return sim_control_on_panel([file] {
        const QString local = QString::fromStdString(platform::path(file));
        return panel::image().save(local, "PNG") ? kOk : error("could not write " + file);
    });
}

// ---- jobs ----

std::string jobCommand(const SimArgs& w) {
    if (w.size() != 2 || (w[1] != "usb" && w[1] != "query" && w[1] != "recover"))
        return error("usage: job usb|query|recover");
    if (g_usb_grade || g_send_para[send_para::kTask])
        return error("a job is running; wait until status says job: idle");
    if (w[1] == "usb") {
        // As the USB upgrade page's OK: step 0, then the flag the FPGA thread looks at.
        g_send_para[send_para::kStep] = 0;
        g_usb_grade = 1;
    } else {
        // As the recovery page's Query and Recovery: task and step 0 in one store.
        post_send_para_task(w[1] == "query" ? kTaskQuery : kTaskRecover);
    }
    return kOk;
}

// ---- status ----

std::string fpgaLines() {
    auto b = board();
    if (!b) return "fpga: none\n";
    // The models run once loaded; the FPGA thread is ready (and runs jobs) once it has brought
    // both up and lit them.
    fpga_manage* work = fpga_manage::p_fpga_manage;
    const bool ready = work && work->get_fpga_status() == 1;
    std::string out = std::string("fpga thread: ") + (ready ? "ready" : "starting") + "\n";
    if (work)  // answers no frame out could take: after their frame's wait, or another's
        out += "card answers dropped: " +
               std::to_string(work->unclaimed_answers + card_turns::get().late_answers()) +
               " late, " + std::to_string(work->unmatched_answers) + " not matching\n" +
               "card frames sent to no port: " + std::to_string(link_session::unsent_total) + "\n";
    zem::MutexLocker lock(b->mutex);
    for (int i = 0; i < 2; ++i)
        out += "fpga " + std::to_string(i + 1) + ": " +
               (b->fpga[size_t(i)].running() ? "running" : "not running") + ", brightness " +
               std::to_string(b->fpga[size_t(i)].reg(kFpgaBrightnessReg)) +
               (b->fpga[size_t(i)].blanked() ? ", blanked" : "") + "\n";
    for (int p = 0; p < kPorts; ++p) {
        const auto& cards = b->port(p).cards;
        out += "port " + std::to_string(p + 1) + ": " + std::to_string(cards.size()) +
               " cards, link " + (b->fpga[size_t(p / 10)].portLink(p % 10) ? "up" : "down");
        for (size_t c = 0; c < cards.size(); ++c) {
            if (cards[c].silent) out += ", card " + std::to_string(c + 1) + " silent";
            if (cards[c].bad_check) out += ", card " + std::to_string(c + 1) + " bad-check";
            if (cards[c].needs_recovery)
                out += ", card " + std::to_string(c + 1) + " needs-recovery";
        }
        out += "\n";
    }
    return out;
}

uint32_t u16At(const platform::sim::SimReceiver& rx, uint8_t reg) {
    return uint32_t(rx.reg(reg) | rx.reg(uint8_t(reg + 1)) << 8);
}

std::string inputLines() {
    using platform::sim::SimReceiver;
    std::string out;
    for (int i = 0; i < 6; ++i) {
        const auto rx = platform::sim::inputSide().receiver[i];
        out += std::string("input ") + kInputs[i] + ": ";
        if (!rx || !(rx->reg(SimReceiver::kStatus) & SimReceiver::kCable)) {
            out += "no signal\n";
            continue;
        }
        // The timing block: u16 Hact Hsync Hback Hpol Htotal Vact Vsync Vback Vpol Vtotal.
        auto field = [&](int i) { return u16At(*rx, uint8_t(SimReceiver::kTiming + 2 * i)); };
        const uint32_t hact = field(0), htotal = field(4), vact = field(5), vtotal = field(9);
        const uint32_t khz =
            u16At(*rx, SimReceiver::kPixelClock) | u16At(*rx, SimReceiver::kPixelClock + 2) << 16;
        const uint64_t frame = uint64_t(htotal) * vtotal;
        const uint64_t hz = frame ? (uint64_t(khz) * 1000 + frame / 2) / frame : 0;
        out += std::to_string(hact) + "x" + std::to_string(vact) + "@" + std::to_string(hz) + "\n";
    }
    return out;
}

// Whether a disk would be taken now, then the disk.
std::string usbLines() {
    const std::string watcher =
        std::string("usb watcher: ") + (g_delay_usbserver ? "listening\n" : "not listening yet\n");
    const SimUsbDisk::State s = platform::sim::SimBox::get().usb_disk.state();
    if (!s.plugged) return watcher + "usb disk: none\n";
    return watcher + "usb disk: " + s.contents + ", " +
           (s.mounted_at.empty() ? std::string("not mounted") : "mounted at " + s.mounted_at) +
           "\n";
}

// Output channel 0's picture registers as the picture controls last wrote them: bank 0x0C's
// levels and colour matrix diagonal (the gains), and bank 0x0B's sharpness gain, which is
// written only for a window whose source has a signal.
std::string c331PictureLine() {
    const auto chip = platform::sim::simC331();
    if (!chip) return "";
    auto field = [&](uint8_t address, uint8_t bank = 0x0C, uint8_t bytes = 2) {
        return std::to_string(chip->field(uint32_t(bank) << 16 | uint32_t(address) << 8 | bytes));
    };
    return "c331 picture: brightness " + field(0x3A) + ", contrast " + field(0x28) +
           ", saturation " + field(0x1B) + "\nc331 colour: red " + field(0x5B) + ", green " +
           field(0x63) + ", blue " + field(0x6B) + ", sharpness " + field(0x09, 0x0B, 1) + "\n";
}

// A build that measures the C331 mutex's holds: the longest so far, where its locker was made,
// and how many; "" in other builds.
std::string c331HoldLine() {
#ifdef ZEM_LOCK_HOLDS
    const zem::LockHolds& h = c331_manage::c331_holds;
    char line[256];
    std::snprintf(line, sizeof line, "c331 mutex: longest hold %.3f ms at %s:%d, %llu holds\n",
                  double(h.longest_ns.load()) / 1e6, h.file.load(), h.line.load(),
                  static_cast<unsigned long long>(h.count.load()));
    return line;
#else
    return "";
#endif
}

std::string c331Line() {
    const c331_manage* c = c331_manage::p_c331_manage;
    if (!c) return "c331: not started\n";
    const int state = c->thread_state;
    return (state >= 8 ? "c331: running\n"
                       : "c331: starting (stage " + std::to_string(state) + " of 8)\n") +
           c331PictureLine() + c331HoldLine();
}

// What the recovery page says after the last query or recovery, in its words: why it failed,
// its list ("empty" for none), and the nets whose cards did not answer; while a query runs, that
// it does.
std::string recoveryList() {
    if (fpga_manage::query_running()) return "query running";
    const fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const RecoveryOutcome o = fpga ? fpga->job_events->recoveryOutcome() : RecoveryOutcome{};
    QStringList parts;
    if (o.kind != RecoveryOutcome::kList) {
        const QString name = recoveryOutcomeName(o.kind)[1];
        parts << name.left(1).toLower() + name.mid(1);
    }
    if (!o.entries.isEmpty())
        parts << o.entries.join(' ');
    else if (o.kind == RecoveryOutcome::kList)
        parts << "empty";
    if (!o.silent_nets.isEmpty()) parts << "no answer from " + o.silent_nets.join(' ');
    return parts.join("; ").toStdString();
}

std::string jobLines() {
    std::string out = "job: ";
    if (g_usb_grade)
        out += "usb upgrade, step " + std::to_string(g_send_para[send_para::kStep]);
    else if (const uint8_t task = g_send_para[send_para::kTask])
        out += "task " + std::to_string(task) + ", step " +
               std::to_string(g_send_para[send_para::kStep]);
    else
        out += "idle";
    const sim_control::JobResults r = sim_control::pInstance()->jobResults();
    out += "\nrecovery list: " + recoveryList();
    out += "\nusb upgrade: ";
    out += !r.upgraded ? "none yet"
                       : std::to_string(r.installed) + " installed, " + std::to_string(r.failed) +
                             " failed, " + std::to_string(r.refused) + " refused";
    if (r.upgraded && r.not_read > 0) out += ", " + std::to_string(r.not_read) + " not read";
    const fpga_manage* work = fpga_manage::p_fpga_manage;
    if (r.upgraded && work && work->usb_left_out > 0)
        out += ", " + std::to_string(work->usb_left_out) + " left out";
    return out;
}

// What a person meets on top: the page in front, "page: ID NAME" or "page: none", and what is
// open over it, "pop-up: NAME" (a combo box's open list as "list of OBJECT", a tip or the
// keypad by class) or "pop-up: none"; both asked on the panel's thread at once.
std::string panelLines() {
    const std::string lines = sim_control_on_panel([] {
        const PageFrame* front = panel::front();
        std::string out = "page: " + (front ? std::to_string(front->pageId()) + " " +
                                                  page_table::className(front->pageId())
                                            : std::string("none"));
        out += "\npop-up: ";
        const QWidget* over = panel::overPage();
        const auto* combo = over ? qobject_cast<const QComboBox*>(over->parentWidget()) : nullptr;
        out += combo  ? "list of " + combo->objectName().toStdString()
               : over ? std::string(over->metaObject()->className())
                      : std::string("none");
        return out + "\n";
    });
    return lines.rfind("error: ", 0) == 0 ? "page: " + lines + "\n" : lines;
}

std::string statusCommand(const SimArgs& w) {
    if (w.size() != 1) return error("usage: status");
    return fpgaLines() + inputLines() + usbLines() + c331Line() + panelLines() + jobLines();
}

struct Command {
    const char* name;
    std::string (*run)(const SimArgs&);
    bool on_panel;  // started on the main thread, which takes it or drops it
};
constexpr Command kCommands[] = {
    {"usb", usbCommand, false},
    {"input", inputCommand, false},
    {"edid", edidCommand, false},
    {"cards", cardsCommand, false},
    {"card", cardCommand, false},
    {"link", linkCommand, false},
    {"key", keyCommand, true},
    {"touch", touchCommand, true},
    {"screenshot", screenshotCommand, true},
    {"status", statusCommand, false},
    {"job", jobCommand, false},
};

}  // namespace

std::string sim_control_dispatch(const SimArgs& w) {
    if (w.empty()) return error("no command");
    for (const Command& c : kCommands)
        if (w[0] == c.name) {
            if (!c.on_panel && !sim_control_take()) return kSimControlDropped;
            return c.run(w);
        }
    return error("unknown command " + w[0] +
                 " (usb, input, edid, cards, card, link, key, touch, screenshot, status, job)");
}
