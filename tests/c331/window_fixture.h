// Fixture of the window tests: the C331 thread running on the simulated chip with every port
// measured, window and screen words written to the parameter RAM and applied.
#pragma once

#include <gmock/gmock.h>

#include <functional>
#include <vector>

#include "c331_fixture.h"
#include "core/globals.h"

constexpr int kHdmi1 = 2, kHdmi2 = 3, kHdmi3 = 4, kHdmi4 = 5;  // source ids
constexpr int kPortOf[6] = {3, 2, 1, 0, 5, 4};

struct Rect {
    int x, y, w, h;
};

class WindowsTest : public C331Test {
protected:
    void SetUp() override {
        C331Test::SetUp();
        c = startManager();
        ASSERT_TRUE(waitState(8));
        // Every port measured as a 1920 x 1080 progressive RGB input (the thread measures
        // nothing here: no receiver runs).
        for (int p = 0; p < 6; ++p) measure(p, 1920, 1080);
    }
    // A port's measurement as the input side leaves it. Set before producing: the apply's
    // mutex hands it to the thread.
    void measure(int port, int hw, int vw, int state = 4, int scan = 0) {
        const int act[4] = {192, hw, 41, vw};
        for (int i = 0; i < 4; ++i) c->PI_ACT[port][i] = c->PI_DBD_ACT[port][i] = act[i];
        c->PI_STATE[port] = state;
        c->PI_SCAN_MODE[port] = scan;
    }
    static void window(ZemRamPara& s, int w, int source, Rect r, int flags = 1) {
        const int b = 2272 + 26 * w;
        s.wr16_no_gen_bump(b, uint16_t(flags));
        s.wr16_no_gen_bump(b + 8, uint16_t(source));
        s.wr16_no_gen_bump(b + 10, uint16_t(r.x));
        s.wr16_no_gen_bump(b + 12, uint16_t(r.y));
        s.wr16_no_gen_bump(b + 14, uint16_t(r.w));
        s.wr16_no_gen_bump(b + 16, uint16_t(r.h));
    }
    static void screen(ZemRamPara& s, int splice, int w, int h, int out1w, int out1h) {
        s.wr16_no_gen_bump(1376, uint16_t(splice));
        s.wr16_no_gen_bump(1378, uint16_t(w));
        s.wr16_no_gen_bump(1380, uint16_t(h));
        s.wr16_no_gen_bump(1412, uint16_t(out1w));
        s.wr16_no_gen_bump(1414, uint16_t(out1h));
    }
    // Applies a RAM change and stops the thread, so the test reads the manager's tables.
    void apply(const std::function<void(ZemRamPara&)>& change) {
        step(change);
        c331_manage::stop_thread();
    }
    // Applies a RAM change and waits for its refresh, the thread going on.
    void step(const std::function<void(ZemRamPara&)>& change) {
        produce(change);
        ASSERT_TRUE(waitRefresh(1, ++applies_));
    }
    int applies_ = 0;
    std::vector<int> list(int rec) const {
        const ST_WIN_INFO& r = c->gWininfo[rec];
        return std::vector<int>(r.ochLst, r.ochLst + r.totalh * r.totalv);
    }
    std::vector<int> enables() const {
        std::vector<int> v;
        for (int k = 0; k < 8; ++k) v.push_back(chip->reg(0x00, uint8_t(0x08 + k)) & 1);
        return v;
    }
    std::vector<int> ichOf(int rec) const {
        std::vector<int> v;
        for (int c331 : c->g_win_ich[rec])
            if (c331 >= 0) v.push_back(c331);
        return v;
    }
    static std::vector<int> rect(const _ImageWindowDef_st& r) { return {r.hst, r.hw, r.vst, r.vw}; }
    // Output channel k's registers of a bank (bank + 16 k).
    uint32_t och(uint32_t descriptor, int k) const {
        return chip->field(descriptor, 16 * uint32_t(k));
    }

    c331_manage* c = nullptr;
};
