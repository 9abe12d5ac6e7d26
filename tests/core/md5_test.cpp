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

// RFC 1321 appendix A.5, then lengths around the padding edge (a second block when 56..63
// bytes are left over).
const std::pair<std::string, const char*> kSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
};

TEST(Md5, MatchesTheRfcSuiteAndThePaddingEdge) {
    for (const auto& [text, digest] : kSuite) EXPECT_EQ(md5Of(text), digest) << text.size();
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
}

// The transfer's digest: stable once finished, fresh after a reset.
TEST(Md5, DigestIsStableUntilReset) {
    md5.reset();
    md5.update("abc", 3);
    const std::string first = hex(md5.digest());
    EXPECT_EQ(hex(md5.digest()), first);
    md5.update("def", 3);  // after finishing, the digest stays what it was
    EXPECT_EQ(hex(md5.digest()), first);
    md5.reset();
    md5.update("message ", 8);
    md5.update("digest", 6);
    EXPECT_EQ(hex(md5.digest()), "f96b697d7cb7938d525a2f31aaf161d0");
}

}  // namespace
