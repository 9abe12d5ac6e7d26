// MD5 of the PC file transfer against the RFC 1321 test suite.
#include "core/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string hex(const uint8_t* d) {
    std::string out;
    char b[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(b, sizeof b, "%02x", d[i]);
        out += b;
    }
    return out;
}

std::string md5Of(const std::string& text) {
    MD5 m;
    m.update(text.data(), unsigned(text.size()));
    return hex(m.digest());
}

struct Vector {
    const char* text;
    const char* digest;
};

// RFC 1321, appendix A.5.
const Vector kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, MatchesTheRfcSuite) {
    for (const auto& v : kRfcSuite) EXPECT_EQ(md5Of(v.text), v.digest) << '"' << v.text << '"';
}

// Pieces of every size from 1 to 130 bytes cross the 64-byte block edges at every offset.
TEST(Md5, PiecewiseFeedingGivesTheSameDigest) {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += char('A' + i * 7 % 26);
    const std::string whole = md5Of(text);
    for (size_t piece = 1; piece <= 130; ++piece) {
        MD5 m;
        for (size_t at = 0; at < text.size(); at += piece)
            m.update(text.data() + at, unsigned(std::min(piece, text.size() - at)));
        EXPECT_EQ(hex(m.digest()), whole) << "piece " << piece;
    }
    MD5 bytewise;
    for (const char* p = kRfcSuite[6].text; *p; ++p) bytewise.update(p, 1);
    EXPECT_EQ(hex(bytewise.digest()), kRfcSuite[6].digest);
}

// Padding needs a second block when 56..63 bytes are left over.
TEST(Md5, LengthsAroundThePaddingEdge) {
    const std::vector<std::pair<size_t, const char*>> cases = {
        {55, "ef1772b6dff9a122358552954ad0df65"},
        {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},
    };
    for (const auto& [n, digest] : cases) EXPECT_EQ(md5Of(std::string(n, 'a')), digest) << n;
}

TEST(Md5, DigestIsStableUntilReset) {
    MD5 m;
    m.update("abc", 3);
    const std::string first = hex(m.digest());
    EXPECT_EQ(hex(m.digest()), first);
    m.update("def", 3);  // after finishing, the digest stays what it was
    EXPECT_EQ(hex(m.digest()), first);
    m.reset();
    m.update("message ", 8);
    m.update("digest", 6);
    EXPECT_EQ(hex(m.digest()), "f96b697d7cb7938d525a2f31aaf161d0");
    m.reset();
    EXPECT_EQ(hex(m.digest()), "d41d8cd98f00b204e9800998ecf8427e");
}

// Finishing pads a copy: the chaining words and the bit count are left as they were.
TEST(Md5, FinishingDoesNotDisturbTheRunningState) {
    MD5 m;
    m.update("abc", 3);
    uint32_t before[4] = {m.state[0], m.state[1], m.state[2], m.state[3]};
    const uint64_t count = m.count;
    m.digest();
    EXPECT_EQ(m.count, count);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m.state[i], before[i]);
}

TEST(Md5, GlobalTransferDigestStartsFresh) {
    md5.reset();
    md5.update("a", 1);
    EXPECT_EQ(hex(md5.digest()), "0cc175b9c0f1b6a831c399e269772661");
}

}  // namespace
