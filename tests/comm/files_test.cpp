// PC file transfers and the device, network, barcode and clock commands.
#include <gtest/gtest.h>

#include <cstring>

#include "c331/c331_manage.h"
#include "comm/comm_bridge.h"
#include "comm/comm_hooks.h"
#include "comm/comm_links.h"
#include "comm/link_session.h"
#include "comm/network_manage.h"
#include "comm/qz_uart_inout.h"
#include "comm/udpnet_manage.h"
#include "comm/wifi_config.h"
#include "comm_fixture.h"
#include "core/globals.h"
#include "core/json_files.h"
#include "core/zem_ram_para.h"
#include "platform/sim/sim_mtd.h"
#include "transfer_frames.h"

namespace {}  // namespace

class Files : public CommTest {
protected:
    void SetUp() override {
        CommTest::SetUp();
        QObject::connect(
            store(), &ZemRamPara::sig_update_para, &scope,
            [this](int id) { refreshes.push_back(id); }, Qt::DirectConnection);
    }
    // Sends a whole file; the end's status.
    uint8_t send(const std::string& tag, const std::string& data, const Bytes& md5,
                 const std::string& name = "") {
        if (status(handle(start(tag, uint32_t(data.size()), name))) != 0) return 0xF0;
        for (size_t i = 0; i < data.size(); i += 2)
            if (status(handle(piece(uint32_t(i), data.substr(i, 2)))) != 0) return 0xF1;
        return status(handle(end(md5)));
    }
    std::vector<int> refreshes;
};

TEST_F(Files, AliasFileIsWrittenOnlyWhenItsDigestMatches) {
    EXPECT_EQ(send("ALIS", "abc", hex("00112233445566778899aabbccddeeff")), 1);
    EXPECT_FALSE(exists("/data/configs/alias.json"));
    EXPECT_TRUE(refreshes.empty());
    EXPECT_EQ(send("ALIS", "abc", kMd5Abc), 0);
    EXPECT_EQ(readFile("/data/configs/alias.json"), "abc");
    EXPECT_EQ(refreshes, std::vector<int>{103});
    EXPECT_EQ(send("OSDS", "abc", kMd5Abc), 0);
    EXPECT_EQ(readFile("/data/configs/omenu.json"), "abc");
}

TEST_F(Files, ModeCopiesTakeTwoHexDigitsFrom01To10) {
    EXPECT_EQ(send("MO0a", "abc", kMd5Abc), 0);
    EXPECT_EQ(readFile("/data/modes/MO0a.json"), "abc");
    EXPECT_EQ(send("MO10", "abc", kMd5Abc), 0);
    EXPECT_TRUE(exists("/data/modes/MO10.json"));
    for (const char* bad : {"MO00", "MO11", "MOzz", "MO1 ", "XXXX"})
        EXPECT_EQ(status(handle(start(bad, 3))), 1) << bad;
}

TEST_F(Files, OutOfOrderOversizedAndUnstartedTransfersAreRefused) {
    EXPECT_EQ(status(handle(end(kMd5Abc))), 1);                     // end without a start
    EXPECT_EQ(status(handle(piece(0, "ab"))), 1);                   // data without a start
    EXPECT_EQ(status(handle(start("FMCU", kFileBufSize + 1))), 1);  // larger than the buffer
    EXPECT_EQ(status(handle(start("LOGO", 0x60001))), 1);           // larger than the target
    EXPECT_EQ(status(handle(start("ALIS", 0))), 1);
    ASSERT_EQ(status(handle(start("ALIS", 3))), 0);
    EXPECT_EQ(status(handle(piece(2, "c"))), 1);     // leaves a gap
    EXPECT_EQ(status(handle(piece(0, "abcd"))), 1);  // data past the announced length
    EXPECT_EQ(status(handle(piece(0, "ab"))), 0);
    EXPECT_EQ(status(handle(end(kMd5Abc))), 1);   // one byte short
    EXPECT_EQ(status(handle(piece(2, "c"))), 1);  // the failed end closed the transfer
    EXPECT_FALSE(exists("/data/configs/alias.json"));
}

TEST_F(Files, JsonFilesAreRefusedAboveTheSizeTheBoxReads) {
    for (const char* tag : {"ALIS", "OSDS", "MO01", "MO10"}) {
        EXPECT_EQ(status(handle(start(tag, kJsonFileMax + 1))), 1) << tag;
        EXPECT_EQ(status(handle(start(tag, kJsonFileMax))), 0) << tag;
    }
    // Kinds that are not JSON keep the transfer buffer's limit.
    EXPECT_EQ(status(handle(start("SMAP", kJsonFileMax + 1, "scan1.bin"))), 0);
}

TEST_F(Files, NamedFilesStayInTheirFolder) {
    int back = 0;
    QObject::connect(
        comm_bridge::pInstance(), &comm_bridge::sig_smartmapping_written, &scope, [&] { ++back; },
        Qt::DirectConnection);
    // A ".new" name is the temporary file of another transfer's write.
    for (const char* bad : {"../x", "a/b", "..", ".", "", "scan1.bin.new"})
        EXPECT_EQ(status(handle(start("SMAP", 3, bad))), 1) << bad;
    EXPECT_EQ(send("SMAP", "abc", kMd5Abc, "scan1.bin"), 0);
    EXPECT_EQ(readFile("/data/smartmapping/scan1.bin"), "abc");
    EXPECT_EQ(back, 1);
    int deleted = -1;
    QObject::connect(
        comm_bridge::pInstance(), &comm_bridge::sig_file_deleted, &scope,
        [&](int folder) { deleted = folder; }, Qt::DirectConnection);
    const Bytes del = body(0x83, cat({text("SMAP"), {9}, text("scan1.bin")}));
    EXPECT_EQ(status(handle(del)), 0);
    EXPECT_FALSE(exists("/data/smartmapping/scan1.bin"));
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(status(handle(del)), 1);  // already gone
    EXPECT_EQ(status(handle(body(0x83, cat({text("RCVR"), {5}, text("../ab")})))), 1);
    EXPECT_EQ(status(handle(body(0x83, cat({text("ALIS"), {1}, text("a")})))), 1);
}

// Each file the box writes beside its own and renames leaves its ".new" when the write is cut:
// the start removes it by that name, and no other file of the folder.
TEST_F(Files, HalfWrittenFilesOfAKilledTransferAreRemovedAtStart) {
    const char* const partial[] = {
        "/data/configs/alias.json.new", "/data/configs/omenu.json.new",
        "/data/app/zemT57N2.new",       "/data/smartmapping/scan1.bin.new",
        "/data/rcvrecovery/r.new",      "/data/modes/MO01.json.new",
        "/data/modes/MO10.json.new",    "/data/ram_device_info.new",
        "/data/modes/custom_mode1.new", "/data/modes/custom_mode16.new",
        "/etc/rtl_hostapd_2G.conf.new", "/etc/udhcpd.conf.new"};
    const char* const kept[] = {"/data/configs/alias.json",
                                "/data/smartmapping/scan1.bin",
                                "/data/modes/custom_mode1",
                                "/data/x.new",
                                "/data/configs/x.new",
                                "/data/modes/custom_mode17.new",
                                "/etc/x.new"};
    for (const char* f : partial) writeFile(f, "half");
    for (const char* f : kept) writeFile(f, "whole");
    // The store's start, then the links', with the WiFi off: its files are not written anew.
    store()->reload();
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store()->ram[774] = 1;
    }
    g_port = 0;
    udpnetManage::udp_port_setting = 0;
    udpnetManage::wifi_port_setting = 0;
    comm_start_links();
    for (const char* f : partial) EXPECT_FALSE(exists(f)) << f;
    for (const char* f : kept) EXPECT_EQ(readFile(f), "whole") << f;
    comm_stop_links();
}

TEST_F(Files, ProgramTransferStartsTheUpdate) {
    int starts = 0;
    QObject::connect(
        comm_bridge::pInstance(), &comm_bridge::sig_update_start, &scope, [&] { ++starts; },
        Qt::DirectConnection);
    g_update_flag = 0;
    EXPECT_EQ(send("FMCU", "abc", kMd5Abc), 0);
    EXPECT_EQ(readFile("/data/app/zemT57N2"), "abc");
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(g_update_flag, 1);
    EXPECT_EQ(refreshes, (std::vector<int>{105, 103}));
}

TEST_F(Files, BootLogoIsErasedWithoutUnlockAndWrittenToItsPartition) {
    auto mtd = platform::sim::simMtd("/dev/mtd8");
    mtd->unlock_error = -EOPNOTSUPP;  // NAND refuses MEMUNLOCK
    EXPECT_EQ(send("LOGO", "abc", kMd5Abc), 0);
    const std::vector<uint8_t> flash = mtd->contents();
    ASSERT_EQ(flash.size(), 0x60000u);
    EXPECT_EQ(std::string(flash.begin(), flash.begin() + 3), "abc");
    EXPECT_EQ(flash[3], 0xFF);
    EXPECT_EQ(flash.back(), 0xFF);
    for (const auto& op : mtd->ops()) EXPECT_NE(op.kind, platform::sim::SimMtd::Op::Unlock);
}

// The boot logo and the kernel are written in place: a partition that does not read back what
// was written fails the file's end with status 2, so the PC sends it again.
TEST_F(Files, APartitionThatReadsBackOtherBytesFailsTheEnd) {
    struct Row {
        const char* tag;
        const char* device;
    };
    for (const Row& r : {Row{"LOGO", "/dev/mtd8"}, Row{"FKRN", "/dev/mtd10"}}) {
        SCOPED_TRACE(r.tag);
        auto mtd = platform::sim::simMtd(r.device);
        mtd->stuck_byte_at = 1;
        EXPECT_EQ(send(r.tag, "abc", kMd5Abc), 2);
        EXPECT_EQ(mtd->contents()[1], 0xFF) << "the cell kept its erased value";
        mtd->stuck_byte_at = -1;
        EXPECT_EQ(send(r.tag, "abc", kMd5Abc), 0);
        const std::vector<uint8_t> flash = mtd->contents();
        EXPECT_EQ(std::string(flash.begin(), flash.begin() + 3), "abc");
    }
}

using Device = CommTest;

TEST_F(Device, InfoCarriesIdPortMacAndBarcode) {
    std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    g_port = 5005;
    g_str_mac = "00:11:22:33:44:55";
    g_str_barcode = "SN42";
    const Bytes r = handle(body(0x90, {}));
    ASSERT_EQ(r.size(), 10u + 56 + 4);
    EXPECT_EQ(r[10], 0);
    EXPECT_EQ(std::string(r.begin() + 11, r.begin() + 43), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(Bytes(r.begin() + 43, r.begin() + 47), le32(5005));
    EXPECT_EQ(std::string(r.begin() + 47, r.begin() + 64), "00:11:22:33:44:55");
    EXPECT_EQ(r[65], 4);
    EXPECT_EQ(std::string(r.begin() + 66, r.end()), "SN42");
    EXPECT_EQ(handle(body(0x90, {1, 2, 3})), r) << "data sent with it are ignored";
}

TEST_F(Device, NetworkSetTakesOnlyStrictAddressesAndPorts) {
    auto set = [&](const std::string& ip, const std::string& mask, const std::string& gw,
                   const std::string& port) {
        std::string t = ip + '\0' + mask + '\0' + gw + '\0' + port;
        return status(handle(body(0x91, text(t))));
    };
    shell().clear();
    EXPECT_EQ(set("192.168.1.256", "255.255.255.0", "192.168.1.1", "5005"), 1);
    EXPECT_EQ(set("192.168.01.5", "255.255.255.0", "192.168.1.1", "5005"), 1);
    EXPECT_EQ(set("192.168.1.5", "255.255.255.0", "192.168.1", "5005"), 1);
    EXPECT_EQ(set("192.168.1.5", "255.255.255.0", "192.168.1.1", "0"), 1);
    EXPECT_EQ(set("192.168.1.5", "255.255.255.0", "192.168.1.1", "65536"), 1);
    EXPECT_EQ(set("192.168.1.5", "255.255.255.0", "192.168.1.1", "+80"), 1);
    EXPECT_EQ(set("192.168.1.5", "255.255.255.0", "192.168.1.1", "005005"), 1) << "six digits";
    // The texts' count: three, a fifth, two NULs after the port, none at all.
    EXPECT_EQ(status(handle(body(0x91, text(std::string("192.168.1.5\0"
                                                        "255.255.255.0\0"
                                                        "5005",
                                                        30))))),
              1);
    EXPECT_EQ(set("192.168.1.5", "255.255.255.0", "192.168.1.1", std::string("5005\0x", 6)), 1);
    EXPECT_EQ(set("192.168.1.5", "255.255.255.0", "192.168.1.1", std::string("5005\0\0", 6)), 1);
    EXPECT_EQ(status(handle(body(0x91, {}))), 1);
    EXPECT_TRUE(commands().empty());
    // One NUL after the port, as a C program sends its last string, is taken.
    EXPECT_EQ(set("192.168.1.60", "255.255.255.0", "192.168.1.1", std::string("6000\0", 5)), 0);
    EXPECT_NE(readFile("/data/configs/tcpip.ini").find("IPAddress=192.168.1.60"),
              std::string::npos);
    EXPECT_EQ(set("192.168.1.50", "255.255.255.0", "192.168.1.1", "6000"), 0);
    const std::string ini = readFile("/data/configs/tcpip.ini");
    EXPECT_NE(ini.find("IPAddress=192.168.1.50"), std::string::npos) << ini;
    EXPECT_NE(ini.find("TcpPort=6000"), std::string::npos) << ini;
    bool ifconfig = false;
    for (const std::string& c : commands())
        ifconfig |= c == "ifconfig eth0 192.168.1.50 netmask 255.255.255.0";
    EXPECT_TRUE(ifconfig);
    // A port with leading zeros is taken as its number.
    EXPECT_EQ(set("192.168.1.50", "255.255.255.0", "192.168.1.1", "05005"), 0);
    EXPECT_NE(readFile("/data/configs/tcpip.ini").find("TcpPort=5005\n"), std::string::npos);
    const Bytes info = handle(body(0x90, {}));
    ASSERT_GE(info.size(), 47u);
    EXPECT_EQ(info[43] | info[44] << 8 | info[45] << 16 | info[46] << 24, 5005) << "0x90 says so";
}

TEST_F(Device, MacAndBarcodeAreCheckedAndStored) {
    EXPECT_EQ(status(handle(body(0x92, text("00:11:22:33:44:5G")))), 1);
    EXPECT_EQ(status(handle(body(0x92, text("00:11:22:33:44:55")))), 0);
    EXPECT_EQ(g_str_mac, "00:11:22:33:44:55");
    EXPECT_EQ(status(handle(body(0x94, text(std::string(65, 'x'))))), 1);
    const Bytes control = {0x61, 0x07};
    EXPECT_EQ(status(handle(body(0x94, control))), 1);
    EXPECT_EQ(status(handle(body(0x94, text("SN-0001")))), 0);
    EXPECT_EQ(g_str_barcode, "SN-0001");
    EXPECT_NE(readFile("/data/configs/tcpip.ini").find("SN-0001"), std::string::npos);
}

// Seconds, minutes, hours, day, weekday, month, year and century, in BCD.
TEST_F(Device, ClockSetTakesOnlyValidDatesTheBoxCanHold) {
    shell().clear();
    auto rtc = [&](const Bytes& t) { return status(handle(body(0x95, t))); };
    const struct {
        const char* what;
        const char* time;
    } refused[] = {
        {"seconds 5A", "5a 30 12 06 00 12 26 20"},
        {"minute 60", "00 60 12 06 00 12 26 20"},
        {"hour 24", "00 30 24 06 00 12 26 20"},
        {"day 0", "00 30 12 00 00 12 26 20"},
        {"month 13", "00 30 12 06 00 13 26 20"},
        {"30 February", "00 00 00 30 00 02 26 20"},
        {"before 1970", "59 59 23 31 00 12 69 19"},
        {"past signed 32-bit seconds", "08 14 03 19 00 01 38 20"},
        {"year 9999", "00 00 00 01 00 01 99 99"},
    };
    for (const auto& c : refused) EXPECT_EQ(rtc(hex(c.time)), 1) << c.what;
    EXPECT_EQ(rtc(hex("00 30 12 06 00 12 26")), 3);
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(rtc(hex("07 30 12 06 00 12 26 20")), 0);
    EXPECT_EQ(rtc(hex("00 00 00 01 00 01 70 19")), 0);
    EXPECT_EQ(rtc(hex("07 14 03 19 00 01 38 20")), 0);
    EXPECT_EQ(rtc(hex("07 14 03 19 00 01 38 20 FF")), 0) << "a ninth byte is ignored";
    const std::vector<std::string> expected{"date -s \"2026-12-06 12:30:07\"", "hwclock -w",
                                            "date -s \"1970-01-01 00:00:00\"", "hwclock -w",
                                            "date -s \"2038-01-19 03:14:07\"", "hwclock -w",
                                            "date -s \"2038-01-19 03:14:07\"", "hwclock -w"};
    EXPECT_EQ(commands(), expected);
}

TEST_F(Device, CardPassThroughWithoutAnAnswerTimesOutAndTheLinkGoesOn) {
    zem::Mutex irq;
    int sent = 0, polls = 0;
    comm_hooks& h = comm_hooks::get();
    h.irq_mutex = &irq;
    comm_hooks::AnswerFn answerTo;
    h.pc_to_eth = [&](uint32_t, uint8_t*, comm_hooks::AnswerFn answer, comm_hooks::CardWindow&) {
        answerTo = std::move(answer);
        return ++sent, 1;
    };
    h.poll_cards = [&] { ++polls; };
    const Bytes toCard = body(0x61, {1, 2}, 0x0001, 0xF010);
    EXPECT_TRUE(handle(toCard).empty());
    EXPECT_EQ(sent, 1);
    EXPECT_GT(polls, 1);
    EXPECT_EQ(g_passby_trans_port, 2);  // TCP
    EXPECT_EQ(status(handle(readRam(0, 1))), 0);
    // A card answer queued by the FPGA side goes back to the PC as it is.
    Bytes answer = body(0x61, {0, 9}, 0xF010, 0x0001);
    answer.push_back(0x61 ^ 9 ^ 0x10 ^ 0xF0 ^ 0x01);  // its check byte
    h.poll_cards = [&] { answerTo(answer.data(), uint32_t(answer.size())); };
    EXPECT_EQ(handle(toCard), body(0x61, {0, 9}, 0xF010, 0x0001));
    h = comm_hooks();
}
