// The framer on its own: bytes as a link receives them, frames and drops as the handlers see them.
#include <gtest/gtest.h>

#include "comm/protocol_phy.h"
#include "comm_fixture.h"

namespace {

struct Fed {
    std::vector<Bytes> frames;
    std::vector<protocol_phy::Drop> drops;
};

void feed(protocol_phy& phy, const Bytes& in, Fed& out, size_t step = 0) {
    const size_t chunk = step ? step : in.size();
    for (size_t i = 0; i < in.size(); i += chunk) {
        phy.feed(
            in.data() + i, std::min(chunk, in.size() - i),
            [&](uint8_t* b, uint32_t n) { out.frames.emplace_back(b, b + n); },
            [&](protocol_phy::Drop d) { out.drops.push_back(d); });
    }
}

// A body holding every byte that needs escaping.
const Bytes kAwkward = body(0x60, {0xA5, 0xA6, 0x5A, 0x5B, 0x00, 0xFF});

Bytes withCheck(const Bytes& b) {
    Bytes w = b;
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    w.push_back(x);
    return w;
}

}  // namespace

TEST(Framer, EscapesEverySpecialByteAndRoundTrips) {
    const Bytes w = wire(kAwkward);
    EXPECT_EQ(Bytes(w.begin(), w.begin() + 3), hex("a5a5a5"));
    EXPECT_EQ(w.back(), 0x5A);
    const std::string text = toHex(w);
    EXPECT_NE(text.find("a6 02 a6 01 5b 02 5b 01"), std::string::npos) << text;
    protocol_phy phy;
    Fed out;
    feed(phy, w, out);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0], withCheck(kAwkward));
}

TEST(Framer, ResumesAcrossSplitReadsAndTakesSeveralFramesPerRead) {
    const Bytes one = wire(kAwkward), two = wire(readRam(0, 4));
    protocol_phy phy;
    Fed out;
    feed(phy, cat({hex("00 11 5a a5 a5 22"), one, two, one}), out, 1);  // noise, byte by byte
    ASSERT_EQ(out.frames.size(), 3u);
    EXPECT_EQ(out.frames[1], withCheck(readRam(0, 4)));
    Fed out2;
    feed(phy, cat({one, two}), out2);
    EXPECT_EQ(out2.frames.size(), 2u);
    EXPECT_TRUE(out.drops.empty() && out2.drops.empty());
}

TEST(Framer, DropsBadFramesAndResynchronisesOnTheNextStart) {
    const Bytes good = wire(readRam(0, 2));
    Bytes badCheck = good;
    badCheck[badCheck.size() - 2] ^= 0x01;
    const Bytes badEscape = cat(
        {Bytes(good.begin(), good.begin() + 5), hex("a6 07"), Bytes(good.begin() + 5, good.end())});
    Bytes truncated(good.begin(), good.end() - 4);  // cut off by the next start
    Bytes oversized = hex("a5a5a5");
    oversized.insert(oversized.end(), comm::kMaxBody + 10, 0x11);
    oversized.push_back(0x5A);
    const Bytes tiny = hex("a5a5a5 01 02 5a");

    protocol_phy phy;
    Fed out;
    feed(phy, cat({badCheck, good, badEscape, good, truncated, good, oversized, good, tiny, good}),
         out, 7);
    EXPECT_EQ(out.frames.size(), 5u);
    ASSERT_EQ(out.drops.size(), 5u);
    EXPECT_EQ(out.drops[0], protocol_phy::kBadCheck);
    EXPECT_EQ(out.drops[1], protocol_phy::kBadEscape);
    EXPECT_EQ(out.drops[2], protocol_phy::kShort);
    EXPECT_EQ(out.drops[3], protocol_phy::kOverflow);
    EXPECT_EQ(out.drops[4], protocol_phy::kShort);
    EXPECT_EQ(phy.dropped, 5u);
}

TEST(Framer, SwapsTheHeadAddressesOfAReply) {
    Bytes b = withCheck(body(0x61, {}, 0xF100, 0xF010));
    protocol_phy::swap_phy_head(b.data());
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), hex("10 f0 00 f1"));
}
