// Every worked example of docs/protocol.md sent to the program as a PC would send it: the
// frames a PC line gives go to the box over TCP, the box lines are the answers it must give,
// and the sim-ctl lines set the simulated box up first; the lines under a sim-ctl line are lines
// its output must come to hold. The examples are read out of the document itself, so it can't
// drift from what the box does.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "pc_link.h"
#include "program_fixture.h"

namespace {

using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

constexpr int kAny = -1;  // ".." in a frame: a byte that differs from box to box

struct Step {
    enum Kind { Pc, Box, Ctl, Out } kind;
    int line;                 // in docs/protocol.md
    bool later = false;       // "box (...)": the answer comes once the box has acted
    std::vector<int> tokens;  // wire bytes, kAny for ".."
    std::string ctl;          // the control command of a sim-ctl line, or a line of its output
};

struct Example {
    int line = 0;
    std::vector<Step> steps;
};

const std::string kCtlPrefix = "$ scripts/sim-ctl.sh DIR ";

// The wire bytes of a PC or box line: two hex digits or ".." each, up to the first other word.
std::vector<int> wireTokens(std::istringstream& words) {
    std::vector<int> out;
    for (std::string w; words >> w;) {
        if (w == "..") {
            out.push_back(kAny);
            continue;
        }
        if (w.size() != 2 || !std::isxdigit(uint8_t(w[0])) || !std::isxdigit(uint8_t(w[1]))) break;
        out.push_back(std::stoi(w, nullptr, 16));
    }
    return out;
}

// A line of an example block, or false for a line of explanation.
bool parseStep(const std::string& text, int line, Step& step) {
    if (text.rfind(kCtlPrefix, 0) == 0) {
        step = {Step::Ctl, line, false, {}, text.substr(kCtlPrefix.size())};
        return true;
    }
    std::istringstream words(text);
    std::string tag;
    words >> tag;
    if (tag != "PC" && tag != "box") return false;
    step = {tag == "PC" ? Step::Pc : Step::Box, line, false, {}, {}};
    std::string rest;
    std::getline(words, rest);
    const size_t note = rest.find_first_not_of(' ');
    if (step.kind == Step::Box && note != std::string::npos && rest[note] == '(') {
        step.later = true;
        rest = rest.substr(rest.find(')') + 1);
    }
    std::istringstream bytes(rest);
    step.tokens = wireTokens(bytes);
    return !step.tokens.empty();
}

// A line of bytes only: the frame of the line before goes on.
bool continuation(const std::string& text, std::vector<int>& more) {
    std::istringstream words(text);
    more = wireTokens(words);
    std::istringstream again(text);
    size_t words_in_line = 0;
    for (std::string w; again >> w;) ++words_in_line;
    return !more.empty() && more.size() == words_in_line;
}

// The examples: runs of indented lines that hold at least one PC line.
std::vector<Example> examples(const std::string& file) {
    std::ifstream in(file);
    std::vector<Example> out;
    Example current;
    int line = 0;
    const auto close = [&] {
        if (!current.steps.empty()) out.push_back(current);
        current = {};
    };
    for (std::string text; std::getline(in, text);) {
        ++line;
        if (text.rfind("    ", 0) != 0) {
            close();
            continue;
        }
        const std::string trimmed = text.substr(std::min(text.size(), text.find_first_not_of(' ')));
        const Step::Kind last = current.steps.empty() ? Step::Out : current.steps.back().kind;
        std::vector<int> more;
        if ((last == Step::Pc || last == Step::Box) && continuation(trimmed, more)) {
            std::vector<int>& tokens = current.steps.back().tokens;
            tokens.insert(tokens.end(), more.begin(), more.end());
            continue;
        }
        Step step;
        if (!parseStep(trimmed, line, step)) {
            // Under a sim-ctl line: a line its output must hold.
            if (!current.steps.empty() && (last == Step::Ctl || last == Step::Out) &&
                !trimmed.empty())
                current.steps.push_back({Step::Out, line, false, {}, trimmed});
            continue;
        }
        if (current.steps.empty()) current.line = line;
        current.steps.push_back(step);
    }
    close();
    return out;
}

// The body of a documented frame (check byte included), un-escaped; empty when the frame is
// malformed.
std::vector<int> bodyOf(const std::vector<int>& wire) {
    if (wire.size() < 5 || wire[0] != 0xA5 || wire[1] != 0xA5 || wire[2] != 0xA5 ||
        wire.back() != 0x5A)
        return {};
    std::vector<int> body;
    for (size_t i = 3; i + 1 < wire.size(); ++i) {
        const int b = wire[i];
        if (b != 0xA6 && b != 0x5B) {
            body.push_back(b);
            continue;
        }
        const int code = i + 2 < wire.size() ? wire[++i] : 0;
        if (code != 1 && code != 2) return {};
        body.push_back(code == 2 ? b - 1 : b);
    }
    return body;
}

// Whether a documented frame's own check byte is right (a frame with ".." can't be checked).
bool checkByteRight(const std::vector<int>& body) {
    int x = 0;
    for (size_t i = 0; i + 1 < body.size(); ++i) {
        if (body[i] == kAny) return true;
        x ^= body[i];
    }
    return body.back() == kAny || body.back() == x;
}

bool matches(const std::vector<int>& expected, const Bytes& got) {
    if (expected.size() != got.size() + 1) return false;  // got has no check byte
    for (size_t i = 0; i < got.size(); ++i)
        if (expected[i] != kAny && expected[i] != got[i]) return false;
    return true;
}

Bytes bytesOf(const std::vector<int>& tokens) {
    return Bytes(tokens.begin(), tokens.end());
}

std::string docFile() {
    return ZEM_SOURCE_DIR "/docs/protocol.md";
}

class ProtocolDoc : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        ASSERT_TRUE(fpgaReady()) << console();
        pc_ = connectPc(seconds(30));
        ASSERT_TRUE(pc_);
    }

    // A PC line and the box lines after it: each answer as documented; none when none is.
    void exchange(const Step& pc, const std::vector<Step>& answers) {
        SCOPED_TRACE("docs/protocol.md:" + std::to_string(pc.line));
        ASSERT_FALSE(bodyOf(pc.tokens).empty()) << "malformed PC frame";
        // A frame that gets no answer may be wrong on purpose.
        if (!answers.empty()) {
            EXPECT_TRUE(checkByteRight(bodyOf(pc.tokens))) << "wrong check byte";
        }
        Bytes got;
        // At most 8: a box that answered on and on would not hold the test.
        for (int i = 0; i < 8 && pc_->recv(got, 50); ++i)
            ADD_FAILURE() << "late answer " << toHex(got);
        pc_->send(bytesOf(pc.tokens));
        if (answers.empty()) {
            EXPECT_FALSE(pc_->recv(got, 800)) << "unexpected answer " << toHex(got);
            return;
        }
        for (const Step& box : answers) {
            SCOPED_TRACE("docs/protocol.md:" + std::to_string(box.line));
            const std::vector<int> want = bodyOf(box.tokens);
            ASSERT_FALSE(want.empty()) << "malformed box frame";
            if (!checkByteRight(want)) {
                // An answer shown with a wrong check byte: the PC gets it and drops it.
                const int dropped = pc_->badReplies();
                const auto end = Clock::now() + hangBound(seconds(10));
                while (pc_->badReplies() == dropped && Clock::now() < end)
                    if (pc_->recv(got, 200)) ADD_FAILURE() << "answer " << toHex(got);
                EXPECT_EQ(pc_->badReplies(), dropped + 1) << "no answer with a wrong check byte";
                continue;
            }
            bool ok = pc_->recv(got) && matches(want, got);
            // An answer that comes once the box has acted: asked again until it does.
            const auto end = Clock::now() + hangBound(seconds(20));
            while (!ok && box.later && Clock::now() < end) {
                // unscaled: the card search waits for a PC quiet for the box's own second.
                std::this_thread::sleep_for(seconds(1));
                pc_->send(bytesOf(pc.tokens));
                ok = pc_->recv(got) && matches(want, got);
            }
            EXPECT_TRUE(ok) << "answer " << toHex(got);
        }
    }

    // Whether each wanted line is a whole line of the output.
    static bool holdsLines(const std::string& output, const std::vector<std::string>& wanted) {
        const std::string text = "\n" + output + "\n";
        return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& w) {
            return text.find("\n" + w + "\n") != std::string::npos;
        });
    }

    // A sim-ctl line: answered ok, or, with output lines under it, run again until its output
    // holds them (the box may still be acting on what came before).
    void control(const Step& s, const std::vector<std::string>& wanted) {
        SCOPED_TRACE("docs/protocol.md:" + std::to_string(s.line));
        if (wanted.empty()) {
            EXPECT_TRUE(ctlOk(s.ctl)) << s.ctl;
            return;
        }
        std::string output;
        EXPECT_TRUE(eventually(
            [&] {
                output = ctl(s.ctl);
                return holdsLines(output, wanted);
            },
            seconds(60)))
            << s.ctl << " answered:\n"
            << output;
    }

    void run(const Example& e) {
        SCOPED_TRACE("example at docs/protocol.md:" + std::to_string(e.line));
        for (size_t i = 0; i < e.steps.size(); ++i) {
            const Step& s = e.steps[i];
            if (s.kind == Step::Ctl) {
                std::vector<std::string> wanted;
                while (i + 1 < e.steps.size() && e.steps[i + 1].kind == Step::Out)
                    wanted.push_back(e.steps[++i].ctl);
                control(s, wanted);
                continue;
            }
            ASSERT_EQ(s.kind, Step::Pc) << "box line without a PC line, line " << s.line;
            std::vector<Step> answers;
            while (i + 1 < e.steps.size() && e.steps[i + 1].kind == Step::Box)
                answers.push_back(e.steps[++i]);
            exchange(s, answers);
        }
    }

    std::unique_ptr<TcpLink> pc_;
};

TEST(ProtocolDocExamples, AreFoundAndCoverTheCardSearchAndCardRegisterWrites) {
    const std::vector<Example> all = examples(docFile());
    ASSERT_GE(all.size(), 10u);
    // Card frames (destination below F000) by command byte.
    std::set<int> cardCommands;
    for (const Example& e : all)
        for (const Step& s : e.steps) {
            const std::vector<int> b = bodyOf(s.tokens);
            if (s.kind == Step::Pc && b.size() > 10 && b[1] < 0xF0) cardCommands.insert(b[9]);
        }
    for (int command : {0x60, 0x61, 0xA0, 0x81, 0x10})
        EXPECT_TRUE(cardCommands.count(command)) << "no card example of command " << command;
}

TEST_F(ProtocolDoc, EveryWorkedExampleIsAnsweredAsDocumented) {
    for (const Example& e : examples(docFile())) run(e);
    EXPECT_TRUE(running());
}

}  // namespace
