#include "video_io/edid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace edid {
namespace {

constexpr uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr uint32_t kSingleLinkKhz = 165000;  // DVI single link / HDMI without extension
constexpr uint32_t kHdmi14Khz = 340000;      // above this the HDMI Forum block is needed
constexpr uint32_t kMaxTmdsKhz = 600000;
constexpr uint32_t kMaxDtdKhz = 655350;  // a detailed timing stores 10 kHz units in 16 bits
constexpr uint32_t kMinDtdKhz = 10000;   // sinks read slower clocks as invalid
// The range-limits descriptor holds the line rate in whole kHz in one byte, with 1 kHz of margin
// above the mode's own.
constexpr double kMaxLineKhz = 254.0;

void checksum(uint8_t* block) {
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < kBlockSize; ++i) sum = uint8_t(sum + block[i]);
    block[kBlockSize - 1] = uint8_t(0x100 - sum);
}

// Vertical sync width of a reduced-blanking timing by aspect ratio.
int cvtVsync(int w, int h) {
    if (w * 3 == h * 4) return 4;
    if (w * 9 == h * 16) return 5;
    if (w * 10 == h * 16) return 6;
    if (w * 4 == h * 5 || w * 9 == h * 15) return 7;
    return 10;
}

bool reducedBlanking(int width, int height, int rate, VideoMode& m) {
    constexpr double kMinVblankUs = 460.0;
    const int hact = width;  // kept exact: panels such as 1366 wide are not 8-pixel cells
    const double hperiod_us = (1e6 / rate - kMinVblankUs) / height;
    if (hperiod_us <= 0) return false;
    const int vsync = cvtVsync(width, height);
    const int vblank = std::max(int(kMinVblankUs / hperiod_us) + 1, 3 + vsync + 6);
    m = VideoMode{0,
                  uint16_t(hact),
                  48,
                  32,
                  80,
                  uint16_t(height),
                  3,
                  uint16_t(vsync),
                  uint16_t(vblank - 3 - vsync),
                  true,
                  false,
                  false,
                  uint16_t(rate),
                  0};
    const double khz = double(rate) * m.htotal() * m.vtotal() / 1000.0;
    m.pclk_khz = uint32_t(khz / 250) * 250;  // 0.25 MHz steps, rounded down
    return m.pclk_khz > 0;
}

void putDtd(uint8_t* d, const VideoMode& m, int width_mm, int height_mm) {
    const uint16_t clk = uint16_t(m.pclk_khz / 10);
    const int hblank = m.hfront + m.hsync + m.hback;
    const int vblank = m.vfront + m.vsync + m.vback;
    d[0] = uint8_t(clk);
    d[1] = uint8_t(clk >> 8);
    d[2] = uint8_t(m.hact);
    d[3] = uint8_t(hblank);
    d[4] = uint8_t((m.hact >> 8) << 4 | (hblank >> 8));
    d[5] = uint8_t(m.vact);
    d[6] = uint8_t(vblank);
    d[7] = uint8_t((m.vact >> 8) << 4 | (vblank >> 8));
    d[8] = uint8_t(m.hfront);
    d[9] = uint8_t(m.hsync);
    d[10] = uint8_t((m.vfront & 0xF) << 4 | (m.vsync & 0xF));
    d[11] =
        uint8_t((m.hfront >> 8) << 6 | (m.hsync >> 8) << 4 | (m.vfront >> 4) << 2 | (m.vsync >> 4));
    d[12] = uint8_t(width_mm);
    d[13] = uint8_t(height_mm);
    d[14] = uint8_t((width_mm >> 8) << 4 | (height_mm >> 8));
    d[15] = d[16] = 0;
    // Digital separate sync with the mode's polarities.
    d[17] = uint8_t((m.interlaced ? 0x80 : 0) | 0x18 | (m.vpos ? 0x04 : 0) | (m.hpos ? 0x02 : 0));
}

void putText(uint8_t* d, uint8_t tag, const char* text) {
    std::memset(d, 0, 18);
    d[3] = tag;
    size_t i = 0;
    for (; text[i] && i < 13; ++i) d[5 + i] = uint8_t(text[i]);
    if (i < 13) d[5 + i++] = 0x0A;
    for (; i < 13; ++i) d[5 + i] = 0x20;
}

double hfreqKhz(const VideoMode& m) {
    return double(m.pclk_khz) / m.htotal();
}

void putRangeLimits(uint8_t* d, const VideoMode& m) {
    const VideoMode& vga = kStandardModes[0];  // every EDID also offers 640x480 at 60 Hz
    const double vrate = double(m.pclk_khz) * 1000.0 / (double(m.htotal()) * m.vtotal());
    std::memset(d, 0, 18);
    d[3] = 0xFD;
    d[5] = uint8_t(std::max(1.0, std::min(std::floor(vrate) - 1, 59.0)));
    d[6] = uint8_t(std::min(255.0, std::max(std::ceil(vrate) + 1, 61.0)));
    d[7] = uint8_t(std::max(1.0, std::min(std::floor(hfreqKhz(m)) - 1, std::floor(hfreqKhz(vga)))));
    d[8] = uint8_t(std::min(255.0, std::max(std::ceil(hfreqKhz(m)) + 1, 32.0)));
    d[9] = uint8_t(std::min<uint32_t>(255, (std::max(m.pclk_khz, vga.pclk_khz) + 9999) / 10000));
    d[10] = 0x00;  // default secondary timing formula
    d[11] = 0x0A;
    for (int i = 12; i < 18; ++i) d[i] = 0x20;
}

void buildBase(uint8_t* b, const VideoMode& m, int frame_height, uint8_t extensions) {
    std::memset(b, 0, kBlockSize);
    std::memcpy(b, kHeader, sizeof kHeader);
    b[8] = 0x68;  // manufacturer "ZEM"
    b[9] = 0xAD;
    b[10] = 0x57;  // product code
    b[11] = 0x1A;
    b[16] = 1;   // week
    b[17] = 34;  // 2024
    b[18] = 1;   // version 1.3, which HDMI asks for
    b[19] = 3;
    b[20] = 0x80;  // digital
    // Screen size in cm keeping the mode's aspect ratio.
    const int wcm = 160;
    const int hcm = std::max(1, std::min(255, wcm * frame_height / m.hact));
    b[21] = uint8_t(wcm);
    b[22] = uint8_t(hcm);
    b[23] = 120;   // gamma 2.2
    b[24] = 0x0E;  // RGB colour, sRGB, preferred timing given
    const uint8_t srgb[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    std::memcpy(b + 25, srgb, sizeof srgb);
    b[35] = 0x20;                               // 640x480 at 60 Hz
    for (int i = 38; i < 54; ++i) b[i] = 0x01;  // no standard timings
    putDtd(b + 54, m, wcm * 10, hcm * 10);
    putRangeLimits(b + 72, m);
    putText(b + 90, 0xFC, "ZEM LED");
    std::memset(b + 108, 0, 18);
    b[108 + 3] = 0x10;  // dummy descriptor
    b[126] = extensions;
    checksum(b);
}

void buildCta(uint8_t* b, const VideoMode& m) {
    std::memset(b, 0, kBlockSize);
    b[0] = 0x02;
    b[1] = 0x03;
    b[3] = 0x80 | 0x40 | 0x01;  // underscan, basic audio, one native detailed timing
    size_t n = 4;
    // Video: the mode, then 640x480 (the base block's detailed timing is the native one).
    b[n++] = 0x40 | (m.vic && m.vic != 1 ? 2 : 1);
    if (m.vic && m.vic != 1) b[n++] = m.vic;
    b[n++] = 0x01;
    // Video capability: selectable RGB range, IT and CE formats underscanned.
    const uint8_t caps[] = {0xE2, 0x00, 0x4A};
    std::memcpy(b + n, caps, sizeof caps);
    n += sizeof caps;
    // Audio: two-channel linear PCM at 32, 44.1 and 48 kHz, 16/20/24 bits.
    const uint8_t audio[] = {0x23, 0x09, 0x07, 0x07};
    std::memcpy(b + n, audio, sizeof audio);
    n += sizeof audio;
    const uint8_t speakers[] = {0x83, 0x01, 0x00, 0x00};
    std::memcpy(b + n, speakers, sizeof speakers);
    n += sizeof speakers;
    const uint32_t tmds = std::max<uint32_t>(m.pclk_khz, kSingleLinkKhz);
    // HDMI 1.4 block: physical address 1.0.0.0, maximum TMDS clock in 5 MHz units.
    const uint8_t hdmi[] = {0x67, 0x03, 0x0C, 0x00,
                            0x10, 0x00, 0x00, uint8_t((std::min(tmds, kHdmi14Khz) + 4999) / 5000)};
    std::memcpy(b + n, hdmi, sizeof hdmi);
    n += sizeof hdmi;
    if (m.pclk_khz > kHdmi14Khz) {
        // HDMI Forum block: version 1, TMDS rate in 5 MHz units, SCDC present.
        const uint8_t forum[] = {0x67, 0xD8, 0x5D, 0xC4, 0x01, uint8_t((tmds + 4999) / 5000),
                                 0x80, 0x00};
        std::memcpy(b + n, forum, sizeof forum);
        n += sizeof forum;
    }
    b[2] = uint8_t(n);  // no detailed timings here
    checksum(b);
}

}  // namespace

bool modeForRequest(int width, int height, int rate, VideoMode& out) {
    if (width < 64 || width > 4095 || height < 64 || height > 4095 || rate < 1 || rate > 240) {
        return false;
    }
    if (const VideoMode* m = findStandardMode(width, height, rate, false)) {
        out = *m;
    } else if (!reducedBlanking(width, height, rate, out)) {
        return false;
    }
    return out.pclk_khz >= kMinDtdKhz && out.pclk_khz <= std::min(kMaxDtdKhz, kMaxTmdsKhz) &&
           out.htotal() - out.hact < 4096 && out.vtotal() - out.vact < 4096 &&
           hfreqKhz(out) <= kMaxLineKhz;
}

std::vector<uint8_t> build(int width, int height, int rate) {
    VideoMode m;
    if (!modeForRequest(width, height, rate, m)) return {};
    const bool cta = m.vic != 0 || m.pclk_khz > kSingleLinkKhz;
    std::vector<uint8_t> out(kBlockSize * (cta ? 2 : 1));
    buildBase(out.data(), m, height, cta ? 1 : 0);
    if (cta) buildCta(out.data() + kBlockSize, m);
    return out;
}

bool requestOf(const uint8_t* data, size_t size, int& width, int& height, int& rate) {
    if (!valid(data, size)) return false;
    const uint8_t* d = data + 54;
    const uint32_t khz = uint32_t(d[0] | d[1] << 8) * 10;
    const int hact = d[2] | (d[4] >> 4) << 8, hblank = d[3] | (d[4] & 15) << 8;
    const int vact = d[5] | (d[7] >> 4) << 8, vblank = d[6] | (d[7] & 15) << 8;
    if (khz == 0 || hact == 0 || vact == 0) return false;  // a display descriptor comes first
    width = hact;
    height = d[17] & 0x80 ? 2 * vact : vact;  // interlaced: a field's lines
    const double hz = khz * 1000.0 / (double(hact + hblank) * (vact + vblank));
    rate = int(std::lround(hz));
    // Built clocks are rounded down to 0.25 MHz, so the rate asked for may lie a little above.
    for (int r = int(std::floor(hz)); r <= int(std::ceil(hz * 1.05)); ++r) {
        const std::vector<uint8_t> built = build(width, height, r);
        if (built.size() == size && std::equal(built.begin(), built.end(), data)) {
            rate = r;
            break;
        }
    }
    return true;
}

bool valid(const uint8_t* data, size_t size) {
    if (size == 0 || size % kBlockSize != 0 || std::memcmp(data, kHeader, sizeof kHeader) != 0) {
        return false;
    }
    if (size_t(data[126]) + 1 != size / kBlockSize) return false;
    for (size_t off = 0; off < size; off += kBlockSize) {
        uint8_t sum = 0;
        for (size_t i = 0; i < kBlockSize; ++i) sum = uint8_t(sum + data[off + i]);
        if (sum != 0) return false;
    }
    return true;
}

}  // namespace edid
