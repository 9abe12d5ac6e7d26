// EDIDs: built for the requested modes, written to the inputs' EEPROMs, announced by a
// hot-plug pulse, and uploaded tables checked before anything is written.
#include "video_io/edid.h"

#include <gmock/gmock.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>

#include "c331/c331_manage.h"
#include "core/globals.h"
#include "video_io_fixture.h"

using ::testing::HasSubstr;

namespace {

struct Request {
    int w, h, rate;
    const char* preferred;  // as edid-decode names the first detailed timing
    size_t blocks;
};

}  // namespace

class EdidTest : public InputSideTest {
protected:
    // What the C331 apply does when the EDID request of source s changed.
    void requestRewrite(int s, int w, int h, int rate) {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        para->wr16_no_gen_bump(896 + 6 * s, uint16_t(w));
        para->wr16_no_gen_bump(898 + 6 * s, uint16_t(h));
        para->wr16_no_gen_bump(900 + 6 * s, uint16_t(rate));
        src->edid_written[s] = 0;
        src->edid_rewrite[s] = 1;
    }
    void flagWaitingTable(int s) {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        src->edid_written[s] = 0;
        src->edid_rewrite[s] = 1;
    }
    bool rewriteDone(int s) {
        return waitFor([&] { return src->edid_written[s] == 1 && src->edid_rewrite[s] == 0; });
    }
    int saveRequests() const {
        const auto ids = refreshes();
        return int(std::count(ids.begin(), ids.end(), 1));
    }
    void upload(int s, const std::vector<uint8_t>& bytes) {
        writeFile(raviksource::edid_table_path(s), std::string(bytes.begin(), bytes.end()));
    }
};

TEST_F(EdidTest, RewrittenEdidsAreValidForEdidDecode) {
    if (!edidDecodeAvailable()) GTEST_SKIP() << "edid-decode is not installed";
    startSource();
    const Request requests[] = {
        {1920, 1080, 60, "1920x1080   60.000000 Hz  16:9", 2},
        {3840, 2160, 60, "3840x2160   60.000000 Hz  16:9", 2},
        {1280, 720, 50, "1280x720    50.000000 Hz  16:9", 2},
        {1366, 768, 60, "1366x768", 1},
        {1024, 768, 75, "1024x768", 1},
        {2560, 1440, 60, "2560x1440", 2},
        {384, 4000, 60, "384x4000", 1},  // a tall, narrow LED wall
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h) + "@" +
                     std::to_string(r.rate));
        requestRewrite(2, r.w, r.h, r.rate);
        ASSERT_TRUE(rewriteDone(2));
        const auto bytes = eeprom(2, 128 * r.blocks);
        EXPECT_EQ(bytes[126] + 1u, r.blocks);
        const std::string verdict = edidDecode(bytes, root_);
        EXPECT_THAT(verdict, HasSubstr("EDID conformity: PASS")) << verdict;
        EXPECT_THAT(verdict, HasSubstr(r.preferred)) << verdict;
        if (r.blocks == 2) {
            EXPECT_THAT(verdict, HasSubstr("CTA-861 Extension Block"));
        }
    }
}

TEST_F(EdidTest, BuilderRefusesModesNoEdidCanDescribe) {
    EXPECT_TRUE(edid::build(5000, 1080, 60).empty());   // wider than a detailed timing
    EXPECT_TRUE(edid::build(3840, 2160, 120).empty());  // beyond the TMDS clock
    EXPECT_TRUE(edid::build(1920, 1080, 0).empty());
    EXPECT_TRUE(edid::build(-1, 1080, 60).empty());
    // More lines a second than the range-limits descriptor can state (255 kHz).
    EXPECT_TRUE(edid::build(320, 4095, 120).empty());
    EXPECT_TRUE(edid::build(320, 2161, 240).empty());
    const auto ok = edid::build(1920, 1080, 60);
    EXPECT_TRUE(edid::valid(ok.data(), ok.size()));
}

TEST_F(EdidTest, ImpossibleRequestWritesNothingAndEndsTheRequest) {
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(0) & 0x80) == 0; }));  // first check done
    side->eeprom[1]->clearWrites();
    requestRewrite(1, 3840, 2160, 120);
    ASSERT_TRUE(waitFor([&] { return src->edid_rewrite[1] == 0; }));
    EXPECT_EQ(src->edid_written[1], 0);
    EXPECT_TRUE(side->eeprom[1]->writes().empty());
    EXPECT_EQ(side->receiver[1]->hotPlugLowCount(), 0);
}

TEST_F(EdidTest, EveryBuiltEdidNamesTheRequestItWasBuiltFor) {
    int built = 0;
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{640, 480},
                                                               {1024, 768},
                                                               {1280, 720},
                                                               {1366, 768},
                                                               {1920, 1080},
                                                               {2560, 1440},
                                                               {3840, 2160},
                                                               {384, 4000},
                                                               {64, 64},
                                                               {4095, 100}}) {
        for (int rate : {1, 24, 25, 30, 50, 59, 60, 75, 100, 120, 144, 240}) {
            const auto e = edid::build(w, h, rate);
            if (e.empty()) continue;
            ++built;
            int rw = 0, rh = 0, rr = 0;
            ASSERT_TRUE(edid::requestOf(e.data(), e.size(), rw, rh, rr));
            EXPECT_EQ(std::vector<int>({rw, rh, rr}), std::vector<int>({w, h, rate}));
        }
    }
    EXPECT_GT(built, 60);
    const std::vector<uint8_t> blank(128, 0);
    int w, h, rate;
    EXPECT_FALSE(edid::requestOf(blank.data(), blank.size(), w, h, rate));
}

// A request that no EDID can describe is put back to what the input's EEPROM announces (the
// defaults when it holds none): the PC reads the refusal back, the console names the values as
// they were sent, and the parameter file, saved before and after, ends without them.
TEST_F(EdidTest, AnImpossibleRequestIsPutBackToWhatTheEepromHolds) {
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(0) & 0x80) == 0; }));
    struct Case {
        const char* name;
        int source, w, h, rate;
        std::vector<int> after;  // the request in RAM, the file and the EEPROM afterwards
    };
    const Case cases[] = {
        {"valid", 3, 1280, 720, 60, {1280, 720, 60}},
        {"0x0@0", 3, 0, 0, 0, {1280, 720, 60}},
        {"4096x2160@120", 3, 4096, 2160, 120, {1280, 720, 60}},
        {"65535x65535@255", 3, 65535, 65535, 255, {1280, 720, 60}},
        {"valid again", 3, 1024, 768, 75, {1024, 768, 75}},
        {"blank EEPROM", 1, 65535, 65535, 255, {1920, 1080, 60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int base = 896 + 6 * c.source;
        const bool refused = edid::build(c.w, c.h, c.rate).empty();
        const int saves_before = saveRequests();
        side->eeprom[c.source]->clearWrites();
        LogTestHooks::forget();  // each case's line said at once
        testing::internal::CaptureStderr();
        requestRewrite(c.source, c.w, c.h, c.rate);
        para->ram_para_persist();  // the PC's write was saved before the source thread saw it
        if (refused) {
            ASSERT_TRUE(waitFor([&] { return saveRequests() > saves_before; }));
        } else {
            ASSERT_TRUE(rewriteDone(c.source));
        }
        const std::string console = testing::internal::GetCapturedStderr();
        para->ram_para_persist();  // what the refresh hub does on that refresh
        EXPECT_EQ(src->edid_rewrite[c.source], 0);
        EXPECT_EQ(std::vector<int>({ram16(base), ram16(base + 2), ram16(base + 4)}), c.after);
        const std::string file = readFile(ZemRamPara::kParaFile);
        ASSERT_EQ(file.size(), 4096u);
        std::vector<int> saved;
        for (int i = 0; i < 3; ++i) {
            const size_t at = size_t(base + 2 * i - 766);
            saved.push_back(uint8_t(file[at]) | uint8_t(file[at + 1]) << 8);
        }
        EXPECT_EQ(saved, c.after);
        EXPECT_THAT(console, ::testing::Not(HasSubstr("-1x-1")));
        if (refused) {
            EXPECT_TRUE(side->eeprom[c.source]->writes().empty());
            EXPECT_THAT(console, HasSubstr(std::to_string(c.w) + "x" + std::to_string(c.h)));
        }
        if (c.source == 1) continue;  // nothing in that EEPROM to agree with
        const auto bytes = eeprom(c.source, 256);
        int w = 0, h = 0, rate = 0;
        ASSERT_TRUE(edid::requestOf(bytes.data(), 128 * (1 + bytes[126]), w, h, rate));
        EXPECT_EQ(std::vector<int>({w, h, rate}), c.after);
    }
}

// What a PC can repeat reaches the terminal a line a minute at most, for each kind: impossible
// requests, their putting back, uploaded tables refused.
TEST_F(EdidTest, RepeatedRefusalsAreSaidOncePerKind) {
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(0) & 0x80) == 0; }));
    LogTestHooks::forget();
    testing::internal::CaptureStderr();
    for (int i = 0; i < 10; ++i) {
        const int saves_before = saveRequests();
        requestRewrite(3, 4096 + i, 2160, 120);
        ASSERT_TRUE(waitFor([&] { return saveRequests() > saves_before; }));
        upload(2, std::vector<uint8_t>(100, uint8_t(i)));
        EXPECT_EQ(src->edid_table_uploaded(2), -1);
    }
    const std::string console = testing::internal::GetCapturedStderr();
    const auto count = [&console](const std::string& what) {
        size_t n = 0;
        for (size_t at = 0; (at = console.find(what, at)) != std::string::npos; ++at) ++n;
        return n;
    };
    EXPECT_EQ(count("no EDID describes"), 1u) << console;
    EXPECT_EQ(count("EDID request put back"), 1u) << console;
    EXPECT_EQ(count("uploaded EDID refused"), 1u) << console;
    EXPECT_EQ(count("\n"), 3u) << console;
}

TEST_F(EdidTest, WrittenEdidIsAnnouncedByAHotPlugPulse) {
    startSource();
    requestRewrite(0, 1920, 1080, 60);
    ASSERT_TRUE(rewriteDone(0));
    ASSERT_TRUE(waitFor([&] { return side->receiver[0]->hotPlugLowCount() == 1; }));
    EXPECT_TRUE(waitFor([&] { return side->receiver[0]->hotPlugHigh(); }));
    EXPECT_EQ(side->receiver[3]->hotPlugLowCount(), 0);  // the other inputs stay
    EXPECT_NE(status(1) & 0x01, 0);                      // source 0 holds a valid EDID
    EXPECT_EQ(status(0) & 0x01, 0);                      // nothing pending
}

TEST_F(EdidTest, FlagWithMarkAlreadySetOnlyReannounces) {
    // A page sets the flag and leaves an earlier mark: the EDID is not rewritten.
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(0) & 0x80) == 0; }));
    side->eeprom[4]->clearWrites();
    src->edid_written[4] = 1;
    src->edid_rewrite[4] = 1;
    ASSERT_TRUE(waitFor([&] { return side->receiver[4]->hotPlugLowCount() == 1; }));
    EXPECT_EQ(src->edid_rewrite[4], 0);
    EXPECT_TRUE(side->eeprom[4]->writes().empty());
}

TEST_F(EdidTest, EepromErrorIsRetriedNotMarkedWritten) {
    startSource();
    side->eeprom[5]->fail_errno = -EREMOTEIO;
    requestRewrite(5, 1920, 1080, 60);
    ASSERT_TRUE(waitFor([&] { return (status(0) & 0x20) != 0; }));
    EXPECT_EQ(src->edid_written[5], 0);
    side->eeprom[5]->fail_errno = 0;
    ASSERT_TRUE(rewriteDone(5));
    const auto bytes = eeprom(5, 256);
    EXPECT_TRUE(edid::valid(bytes.data(), 128 * (1 + bytes[126])));
}

TEST_F(EdidTest, UploadedTableIsWrittenAsItIsAndConsumed) {
    startSource();
    auto table = edid::build(1280, 720, 60);
    table[8] = 0x10;  // another maker, so it can't be mistaken for a built one
    table[127] = uint8_t(table[127] - 0x10 + 0x68);
    ASSERT_TRUE(edid::valid(table.data(), table.size()));
    upload(3, table);
    ASSERT_EQ(src->edid_table_uploaded(3), 0);
    EXPECT_EQ(edid_ram_table_from[3], 1);
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        EXPECT_TRUE(c331_manage::apply_pending());  // the C331 apply turns it into a request
    }
    flagWaitingTable(3);
    ASSERT_TRUE(rewriteDone(3));
    EXPECT_EQ(eeprom(3, table.size()), table);
    EXPECT_EQ(edid_ram_table_from[3], 0);
    EXPECT_FALSE(exists(raviksource::edid_table_path(3)));
}

TEST_F(EdidTest, BadUploadedTablesAreRefusedAndNothingIsWritten) {
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(0) & 0x80) == 0; }));
    side->eeprom[2]->clearWrites();
    auto table = edid::build(1920, 1080, 60);
    auto bad_sum = table;
    bad_sum[200] ^= 0x01;
    upload(2, bad_sum);
    EXPECT_EQ(src->edid_table_uploaded(2), -1);
    upload(2, std::vector<uint8_t>(table.begin(), table.begin() + 100));
    EXPECT_EQ(src->edid_table_uploaded(2), -1);
    auto wrong_count = table;
    wrong_count[126] = 2;  // claims a block that is not there
    wrong_count[127] = uint8_t(wrong_count[127] - 1);
    upload(2, wrong_count);
    EXPECT_EQ(src->edid_table_uploaded(2), -1);
    EXPECT_EQ(edid_ram_table_from[2], 0);

    // A table spoiled after it was queued is refused when its turn comes.
    upload(2, table);
    ASSERT_EQ(src->edid_table_uploaded(2), 0);
    upload(2, bad_sum);
    flagWaitingTable(2);
    ASSERT_TRUE(waitFor([&] { return src->edid_rewrite[2] == 0; }));
    EXPECT_EQ(src->edid_written[2], 0);
    EXPECT_EQ(edid_ram_table_from[2], 0);
    EXPECT_TRUE(side->eeprom[2]->writes().empty());
}

TEST_F(EdidTest, TablesWaitingAtStartAreQueued) {
    upload(1, edid::build(1920, 1080, 50));
    upload(4, {1, 2, 3});
    startSource();
    EXPECT_EQ(edid_ram_table_from[1], 1);
    EXPECT_EQ(edid_ram_table_from[4], 0);
}

TEST_F(EdidTest, StartUpCheckReportsWhichEepromsHoldAnEdid) {
    const auto good = edid::build(1920, 1080, 60);
    for (size_t i = 0; i < good.size(); ++i) side->eeprom[2]->setReg(uint8_t(i), good[i]);
    side->eeprom[3]->fail_errno = -EREMOTEIO;
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(0) & 0x80) == 0; }));
    EXPECT_EQ(status(1) & 0x3F, 0x04);  // only source 2 (blank or silent elsewhere)
}

// Shut down and started again, the source manager checks the EEPROMs anew, as at a start of
// the box.
TEST_F(EdidTest, AManagerStartedAgainChecksTheEepromsAgain) {
    const auto good = edid::build(1920, 1080, 60);
    for (size_t i = 0; i < good.size(); ++i) side->eeprom[2]->setReg(uint8_t(i), good[i]);
    startSource();
    ASSERT_TRUE(waitFor([&] { return (status(1) & 0x3F) == 0x04; }));
    raviksource::shutdown();
    for (size_t i = 0; i < good.size(); ++i) side->eeprom[5]->setReg(uint8_t(i), good[i]);
    startSource();
    EXPECT_TRUE(waitFor([&] { return (status(1) & 0x3F) == 0x24; }));
}

TEST_F(EdidTest, AnUploadLargerThanTheTableIsRefusedWithoutBeingReadWhole) {
    startSource();
    const auto table = edid::build(1920, 1080, 60);
    upload(4, table);
    // A valid table followed by 256 MiB (a sparse file: no disk is used).
    std::filesystem::resize_file(local(raviksource::edid_table_path(4)), 256u << 20);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(src->edid_table_uploaded(4), -1);
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kB more at the peak";
    EXPECT_EQ(edid_ram_table_from[4], 0);
}
