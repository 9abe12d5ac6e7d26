// The image-processing set-up that ends the display programming of an input channel: the
// down-scaling filter tables, the input scaler write control, the channel's memory control,
// and on the four CMOS channels the de-interlacer and the noise-reduction blocks. A register
// of banks 0x11 to 0x17 lies in the channel's bank (plus 16 x channel); bank 0 takes none.
#include "c331/c331_manage.h"
#include "core/globals.h"

namespace {

constexpr uint32_t desc(int bank, int address, int count) {
    return uint32_t(bank) << 16 | uint32_t(address) << 8 | uint32_t(count);
}

// Block noise-reduction formats by active height: the 0x15:08 value, X1, Y1, X2, Y2 and Z.
struct NrFormat {
    int height, r08, x1, y1, x2, y2, z;
};
constexpr NrFormat kNrFormats[5] = {{240, 0, 64, 16, 64, 16, 8},
                                    {480, 3, 64, 16, 128, 32, 6},
                                    {540, 0, 384, 96, 384, 96, 48},
                                    {720, 3, 171, 43, 342, 86, 16},
                                    {1080, 3, 384, 96, 768, 192, 36}};

}  // namespace

const uint32_t c331_manage::lut[10][24] = {
    {},
    {0, 0, 0, 0, 0, 0, 0, 0, 13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24},
    {0, 0, 0, 0, 0, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 20, 17, 17, 18, 19, 20, 21, 21, 24},
    {0, 0, 0, 0, 0, 0, 0, 0, 6, 8, 9, 11, 12, 14, 15, 19, 18, 19, 20, 21, 23, 23, 25, 26},
    {0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 5, 8, 10, 12, 15, 17, 19, 21, 22, 24, 27, 28, 29, 30},
    {0, 0, 0, 0, 0, 0, 0, 0, 253, 255, 0, 3, 6, 10, 13, 16, 20, 23, 26, 29, 32, 32, 34, 32},
    {0, 0, 0, 0, 0, 0, 0, 0, 248, 249, 252, 255, 1, 5, 10, 13, 20, 25, 29, 33, 38, 41, 42, 38},
    {0, 0, 0, 0, 0, 0, 0, 0, 246, 245, 246, 248, 252, 0, 5, 10, 18, 26, 33, 40, 45, 49, 51, 44},
    {0, 0, 0, 0, 0, 0, 0, 0, 247, 244, 242, 243, 245, 250, 0, 5, 15, 25, 35, 45, 54, 57, 58, 54},
    {0, 0, 0, 0, 0, 0, 0, 0, 252, 247, 243, 241, 241, 244, 249, 0, 9, 21, 35, 47, 57, 64, 66, 64},
};

void c331_manage::ich_write(int ich, int bank, int address, int count, uint32_t value) {
    drv->write_C331(fd, desc(bank, address, count), value, 16 * uint32_t(ich));
}

void c331_manage::ich_write_run(int ich, int bank, int first, int last, uint32_t value) {
    for (int a = first; a <= last; ++a) ich_write(ich, bank, a, 1, value);
}

bool c331_manage::any_nr() const {
    return PM_HNR || PM_VNR || PM_TNR || PM_BNR || PM_MNR;
}

void c331_manage::set_lut_hshrnk(int fd, int ratio, int ich, int pair) {
    if (ich < 0 || ich > 7) return;
    static const struct {
        int from, sel;
    } kSteps[] = {{65001, 44}, {62260, 38}, {58983, 32}, {55706, 27}, {52429, 22}, {49153, 17},
                  {45876, 12}, {39322, 8},  {32769, 6},  {26215, 4},  {13108, 2},  {1, 1}};
    int sel = 44;
    for (const auto& s : kSteps) {
        if (ratio >= s.from) {
            sel = s.sel;
            break;
        }
    }
    drv->write_C331(fd, desc(0x00, 0x79, 1), uint32_t(sel), 0);
    drv->write_C331(fd, desc(0x00, 0x7A, 1), uint32_t(4 * ich + 131), 0);
    if (pair) drv->write_C331(fd, desc(0x00, 0x7A, 1), uint32_t(4 * ich + 135), 0);
}

void c331_manage::set_lut_vshrnk_4sym(int, int ratio, int ich, int pair) {
    if (ich < 0 || ich > 7) return;
    const int row = ratio >= 62260   ? 9
                    : ratio >= 58983 ? 8
                    : ratio >= 52429 ? 7
                    : ratio >= 45876 ? 6
                    : ratio > 39321  ? 5
                    : ratio >= 32769 ? 4
                    : ratio >= 26215 ? 3
                    : ratio >= 13108 ? 2
                                     : 1;
    for (int n = 0; n < (pair && ich < 7 ? 2 : 1); ++n)
        for (int i = 0; i < 24; ++i) ich_write(ich + n, 0x11, 0x68 + i, 1, lut[row][i]);
}

void c331_manage::set_iscwct(int fd, int w) {
    if (w < 0 || w >= 6) return;
    const int mode = PM_MEM_WMODE[w];
    const uint32_t v = mode == 1 ? 0x80 : mode == 2 ? 0x01 : mode == 3 ? 0x11 : 0;
    for (int c : g_win_ich[w]) {
        if (c < 0) break;
        drv->write_C331(fd, desc(0x00, 0x71 + c, 1), v, 0);
    }
}

void c331_manage::set_mct(int fd, int w, int mode) {
    if (w < 0 || w >= 6) return;
    const int d = PM_WIN_DBD_MODE[w];
    const int p = d == 22 || d == 23   ? 2
                  : d == 50 || d == 51 ? 4
                  : d == 0 || d == 1   ? PM_INPUT[w]
                                       : 0;
    const int* list = g_win_ich[w];
    if (p < 0 || p > 5 || list[0] < 0) return;
    const int c0 = list[0];
    const uint32_t base = PI_STATE[p] ? 0x11 : 0x01;
    if (p >= 4) {
        drv->write_C331(fd, desc(0x00, 0x08 + c0, 1), base, 0);
        ich_write(c0, 0x10, 0x09, 1, 1);
    } else {
        const bool il = PI_SCAN_MODE[p] && mode == 0;
        const int m = PM_BNR ? 2 : any_nr() ? 1 : 0;
        const uint32_t b = (m == 0 && !il) ? 0 : 14;
        drv->write_C331(fd, desc(0x00, 0x08 + c0, 1),
                        c0 <= 3 && (d == 0 || d == 1) ? base | b : base, 0);
        ich_write(c0, 0x10, 0x09, 1, il ? 0 : 1);
        if (m != nren_old[p]) {
            nren_old[p] = m;
            if (!il) ich_write(c0, 0x15, 0x08, 1, m == 2 ? 3 : uint32_t(m));
        }
    }
    for (int i = 1; i < 8 && list[i] >= 0; ++i) {
        drv->write_C331(fd, desc(0x00, 0x08 + list[i], 1), base, 0);
        ich_write(list[i], 0x10, 0x09, 1, uint32_t(c0 + 8));
    }
}

void c331_manage::set_ip(int fd, int ich) {
    if (ich < 0 || ich > 3) return;
    const int w = g_ich_owner[ich];
    const int p = w >= 0 && w < 6 ? PM_INPUT[w] : -1;
    if (p < 0 || p > 5) return;
    const bool nr = PI_STATE[p] >= 4 && any_nr();
    const bool il = PI_SCAN_MODE[p] != 0;
    if (nr || il) {
        wait1_pivs(fd, ich);
        wait1_pivs(fd, ich);
        drv->write_C331(fd, desc(0x00, 0x29, 1), 0x80, 0);
        PI_IFH[p] = int32_t(drv->read_C331(fd, desc(0xA8, 0x08 + 6 * ich, 2), 0)) + 1;
        PI_IFV[p] = int32_t(drv->read_C331(fd, desc(0xA8, 0x0A + 6 * ich, 2), 0));
        drv->write_C331(fd, desc(0x00, 0x29, 1), 0, 0);
        const int32_t h = il ? (PI_IFH[p] + 1) / 2 : PI_IFH[p];
        const int k = il ? 2 : 1;
        ich_write(ich, 0x14, 0x08, 2, uint32_t(h + 32));
        ich_write(ich, 0x14, 0x0A, 2, uint32_t((PI_IFV[p] + 16) * 2));
        ich_write(ich, 0x14, 0x6D, 2, 0x8000 | (uint32_t((h + 33) * 3 / 4) & 0x3FFF));
        ich_write(ich, 0x14, 0x0C, 1, 1);
        ich_write(ich, 0x14, 0x0F, 2, uint32_t(PI_ACT[p][1]));
        ich_write(ich, 0x14, 0x13, 2, uint32_t(PI_ACT[p][3] * k));
        ich_write(ich, 0x14, 0x11, 2, 0x8000 | uint32_t(PI_ACT[p][2] * k));
        set_mvflt(fd, ich, p);
        set_diag(fd, ich, p);
        set_ipregs(fd, ich, p);
        set_comb(fd, ich, p);
        set_nr(fd, ich, p);
        ich_write(ich, 0x14, 0x2A, 1, il ? (PM_IPEN ? 0 : 0x20) : 0x10);
        ich_write(ich, 0x14, 0x67, 1, il ? 8 : 0);
        ich_write(ich, 0x14, 0x68, 1, il ? 4 : 0);
    } else {
        ich_write(ich, 0x15, 0x70, 1, 0);
        set_nr(fd, ich, p);
    }
    // Frame memory of the de-interlacer: two fields interlaced, two frames progressive.
    uint32_t m[8];
    if (il) {
        const uint32_t off = uint32_t(PS_MWI_IP[ich] & 31) * 0x400;
        const uint32_t i0 = uint32_t(PS_MEM_IP_I[2 * ich]), i1 = uint32_t(PS_MEM_IP_I[2 * ich + 1]);
        const uint32_t v[8] = {off + i0, i0, off + i1, i1, off + i0, i0, off + i1, i1};
        std::copy(v, v + 8, m);
    } else {
        const uint32_t p0 = uint32_t(PS_MEM_IP_P[2 * ich]), p1 = uint32_t(PS_MEM_IP_P[2 * ich + 1]);
        const uint32_t v[8] = {p0, p1, p0, p1, p0, p1, p0, p1};
        std::copy(v, v + 8, m);
    }
    static const int kAddr[8] = {0x18, 0x1C, 0x20, 0x24, 0x08, 0x0C, 0x10, 0x14};
    for (int i = 0; i < 8; ++i) ich_write(ich, 0x17, kAddr[i], 4, m[i]);
    ich_write(ich, 0x17, 0x59, 2, il ? uint32_t(PS_MEM_IPYOFF[ich]) : 0);
    ich_write(ich, 0x16, 0x5B, 1, il ? 1 : 0);
}

void c331_manage::set_mvflt(int, int ich, int p) {
    static const int kRegs[8] = {0x1B, 0x1C, 0x1D, 0x1F, 0x20, 0x21, 0x22, 0x26};
    const int level = PM_MVFLT;
    if (PI_STATE[p] < 4 || level == 0) {
        ich_write(ich, 0x14, 0x16, 1, 0);
        for (int a : kRegs) ich_write(ich, 0x14, a, 1, 0);
        return;
    }
    ich_write(ich, 0x14, 0x16, 1, 31);
    if (level > 4) return;
    // Per level: 0x1B, 0x1C, 0x1F, 0x20 / 0x1D, 0x21 / 0x22, 0x26.
    static const int kLevels[4][3] = {{4, 8, 8}, {8, 8, 16}, {8, 16, 24}, {16, 24, 31}};
    const int* v = kLevels[level - 1];
    const int group[8] = {0, 0, 1, 0, 0, 1, 2, 2};
    for (int i = 0; i < 8; ++i) ich_write(ich, 0x14, kRegs[i], 1, uint32_t(v[group[i]]));
}

void c331_manage::set_diag(int, int ich, int p) {
    const int level = PM_DIAG;
    if (PI_STATE[p] <= 3 || level < 1 || level > 3) {
        ich_write_run(ich, 0x14, 0x50, 0x5F, 0);
        return;
    }
    // 0x50 .. 0x5F by level.
    static const uint8_t kLevels[3][16] = {
        {9, 255, 119, 0, 4, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 50},
        {11, 127, 119, 3, 4, 16, 1, 4, 10, 20, 4, 4, 2, 2, 16, 50},
        {11, 127, 119, 19, 9, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 49}};
    for (int i = 0; i < 16; ++i) ich_write(ich, 0x14, 0x50 + i, 1, kLevels[level - 1][i]);
    ich_write_run(ich, 0x14, 0x60, 0x63, 0);
}

void c331_manage::set_ipregs(int, int ich, int p) {
    const int state = PI_STATE[p];
    if (state < 5 || state > 8) return;
    // 0x2E .. 0x3A by state (0x35 .. 0x37 one value).
    static const uint8_t kStates[4][11] = {{26, 16, 17, 142, 6, 128, 192, 193, 0, 193, 193},
                                           {26, 16, 17, 142, 6, 128, 192, 0, 0, 0, 0},
                                           {13, 3, 17, 53, 2, 128, 40, 196, 196, 194, 194},
                                           {13, 3, 17, 69, 2, 128, 40, 0, 0, 0, 0}};
    const uint8_t* v = kStates[state - 5];
    for (int i = 0; i < 7; ++i) ich_write(ich, 0x14, 0x2E + i, 1, v[i]);
    ich_write_run(ich, 0x14, 0x35, 0x37, v[7]);
    for (int i = 8; i < 11; ++i) ich_write(ich, 0x14, 0x38 + i - 8, 1, v[i]);
    // Groups A (states 5, 6) and B (7, 8): 0x42 .. 0x4A.
    static const uint8_t kGroups[2][9] = {{68, 0, 3, 0, 0, 2, 15, 0, 0},
                                          {70, 0, 3, 0, 0, 0, 9, 0, 0}};
    for (int i = 0; i < 9; ++i) ich_write(ich, 0x14, 0x42 + i, 1, kGroups[state >= 7][i]);
    ich_write(ich, 0x14, 0x2C, 1,
              uint32_t(50 + (state <= 6 ? 1 : 0) + (PM_22PD ? 64 : 0) + (PM_23PD ? 128 : 0)));
    ich_write(ich, 0x14, 0x2D, 1, PM_24SF ? 25 : 9);
    ich_write(ich, 0x14, 0x30, 1, uint32_t((PM_23PDSQTH & 15) | (PM_22PDSQTH & 15) << 4));
}

void c331_manage::set_comb(int, int ich, int p) {
    const int level = PM_COMB;
    if (PI_STATE[p] <= 3 || level < 1 || level > 3) {
        ich_write(ich, 0x14, 0x3B, 1, 0);
        return;
    }
    static const uint8_t kLevels[3][2] = {{16, 128}, {20, 128}, {112, 160}};
    ich_write(ich, 0x14, 0x3B, 1, 1);
    ich_write(ich, 0x14, 0x3C, 1, kLevels[level - 1][0]);
    ich_write(ich, 0x14, 0x3D, 1, kLevels[level - 1][1]);
}

void c331_manage::set_nr(int fd, int ich, int p) {
    if (ich < 0 || ich > 3) return;
    if (PI_STATE[p] < 4) {
        ich_write(ich, 0x15, 0x39, 2, 0);
        ich_write(ich, 0x12, 0x08, 1, 0);
        ich_write(ich, 0x15, 0x6B, 1, 0);
        ich_write(ich, 0x15, 0x09, 1, 0);
        ich_write(ich, 0x15, 0x08, 1, 0);
        return;
    }
    set_nr_block(fd, ich, p);
    set_nr_tpx(fd, ich, p);
    set_nr_hvpx(fd, ich, p);
    set_nr_mosq(fd, ich, p);
    ich_write(ich, 0x15, 0x08, 1, PI_SCAN_MODE[p] ? 0 : PM_BNR ? 3 : any_nr() ? 1 : 0);
}

void c331_manage::set_nr_block(int fd, int ich, int p) {
    if (!PM_BNR) {
        ich_write(ich, 0x15, 0x39, 2, 0);
        return;
    }
    switch (PI_ACT[p][3]) {
        case 240:
            set_nr_b_480i(fd, ich, p);
            break;
        case 480:
            set_nr_b_480p(fd, ich, p);
            break;
        case 540:
            set_nr_b_1080i(fd, ich, p);
            break;
        case 720:
            set_nr_b_720p(fd, ich, p);
            break;
        case 1080:
            set_nr_b_1080p(fd, ich, p);
            break;
        default:
            break;
    }
}

void c331_manage::set_nr_b_480i(int, int ich, int) {
    set_nr_b_format(ich, 0);
}
void c331_manage::set_nr_b_480p(int, int ich, int) {
    set_nr_b_format(ich, 1);
}
void c331_manage::set_nr_b_1080i(int, int ich, int) {
    set_nr_b_format(ich, 2);
}
void c331_manage::set_nr_b_720p(int, int ich, int) {
    set_nr_b_format(ich, 3);
}
void c331_manage::set_nr_b_1080p(int, int ich, int) {
    set_nr_b_format(ich, 4);
}

void c331_manage::set_nr_b_format(int ich, int format) {
    const int level = PM_BNR;
    if (level < 1 || level > 3) return;
    const NrFormat& f = kNrFormats[format];
    ich_write(ich, 0x15, 0x08, 1, uint32_t(f.r08));
    // 0x39 (2 bytes), then 0x3B .. 0x44.
    static const int kWord[3] = {0x2297, 0x2297, 0x0C97};
    static const uint8_t kLevels[3][10] = {{144, 64, 80, 96, 128, 32, 132, 65, 6, 16},
                                           {160, 64, 80, 96, 128, 16, 66, 51, 4, 16},
                                           {176, 64, 80, 96, 128, 16, 66, 51, 4, 6}};
    ich_write(ich, 0x15, 0x39, 2, uint32_t(kWord[level - 1]));
    for (int i = 0; i < 10; ++i) ich_write(ich, 0x15, 0x3B + i, 1, kLevels[level - 1][i]);
    const int common[5][2] = {{0x45, 64}, {0x46, 0}, {0x47, 0}, {0x48, 6}, {0x49, 4}};
    for (const auto& c : common) ich_write(ich, 0x15, c[0], 1, uint32_t(c[1]));
    const int groups[2][3] = {{0x4A, f.x1, f.y1}, {0x51, f.x2, f.y2}};
    for (const auto& g : groups) {
        ich_write(ich, 0x15, g[0], 1, 64);
        ich_write(ich, 0x15, g[0] + 1, 1, 18);
        ich_write(ich, 0x15, g[0] + 2, 1, 16);
        ich_write(ich, 0x15, g[0] + 3, 2, uint32_t(g[1]));
        ich_write(ich, 0x15, g[0] + 5, 2, uint32_t(g[2]));
    }
    ich_write_run(ich, 0x15, 0x58, 0x5B, 0);
    for (int a : {0x5C, 0x5E, 0x60, 0x62}) ich_write(ich, 0x15, a, 2, 0);
    ich_write(ich, 0x15, 0x64, 1, 18);
    ich_write(ich, 0x15, 0x65, 1, 0);
    ich_write(ich, 0x15, 0x66, 1, 0);
    ich_write(ich, 0x15, 0x67, 2, 0);
    ich_write(ich, 0x15, 0x69, 1, 8);
    ich_write(ich, 0x15, 0x6A, 1, uint32_t(f.z));
}

void c331_manage::set_nr_tpx(int, int ich, int) {
    const int level = PM_TNR;
    if (level < 1 || level > 3) {
        ich_write(ich, 0x12, 0x08, 1, 0);
        return;
    }
    static const uint8_t kCurves[3][7] = {
        {18, 20, 24, 27, 28, 29, 30}, {17, 18, 20, 22, 24, 26, 28}, {0, 8, 12, 16, 20, 24, 28}};
    const uint8_t head[5] = {3, 49, 117, 185, 253};
    for (int i = 0; i < 5; ++i) ich_write(ich, 0x12, 0x08 + i, 1, head[i]);
    for (int i = 0; i < 7; ++i) ich_write(ich, 0x12, 0x0D + i, 1, kCurves[level - 1][i]);
    ich_write(ich, 0x12, 0x14, 1, 31);
}

void c331_manage::set_nr_hvpx(int, int ich, int) {
    static const uint8_t kPairs[4][2] = {{0, 0}, {66, 150}, {117, 201}, {168, 252}};
    auto pair = [](int level) { return kPairs[level >= 1 && level <= 3 ? level : 0]; };
    ich_write(ich, 0x15, 0x6B, 1, (PM_VNR ? 16 : 0) + (PM_HNR ? 1 : 0));
    ich_write(ich, 0x15, 0x6E, 1, pair(PM_HNR)[0]);
    ich_write(ich, 0x15, 0x6F, 1, pair(PM_HNR)[1]);
    ich_write(ich, 0x15, 0x6C, 1, pair(PM_VNR)[0]);
    ich_write(ich, 0x15, 0x6D, 1, pair(PM_VNR)[1]);
}

void c331_manage::set_nr_mosq(int, int ich, int) {
    const int level = PM_MNR;
    if (level < 1 || level > 3) {
        ich_write(ich, 0x15, 0x09, 1, 0);
        return;
    }
    ich_write(ich, 0x15, 0x09, 1, 1);
    const uint8_t head[6] = {128, 56, 8, 128, 56, 8};
    for (int i = 0; i < 6; ++i) ich_write(ich, 0x15, 0x0A + i, 1, head[i]);
    if (level == 1) {
        const uint8_t v[12] = {63, 63, 127, 127, 127, 127, 63, 63, 127, 127, 127, 127};
        for (int i = 0; i < 12; ++i) ich_write(ich, 0x15, 0x11 + i, 1, v[i]);
    } else {
        ich_write_run(ich, 0x15, 0x11, 0x1C, 127);
    }
    // 0x1D .. 0x27, then 0x29 and 0x2A, by level.
    static const uint8_t kTail[3][13] = {{252, 32, 213, 127, 24, 36, 0, 0, 0, 0, 0, 64, 81},
                                         {252, 63, 217, 255, 24, 0, 0, 0, 0, 0, 0, 64, 0},
                                         {252, 255, 217, 111, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
    const uint8_t* t = kTail[level - 1];
    for (int i = 0; i < 11; ++i) ich_write(ich, 0x15, 0x1D + i, 1, t[i]);
    ich_write(ich, 0x15, 0x29, 1, t[11]);
    ich_write(ich, 0x15, 0x2A, 1, t[12]);
    ich_write_run(ich, 0x15, 0x2B, 0x2F, 0);
}
