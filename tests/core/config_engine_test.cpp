// The INI configuration, the globals it sets, the device id and the start-up program check.
#include <gtest/gtest.h>

#include <QStringList>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "core/globals.h"
#include "core_fixture.h"
#include "platform/sim/sim_soc.h"

namespace {

const char* kIni = "/data/configs/tcpip.ini";

class ConfigEngineTest : public CoreTest {};

TEST_F(ConfigEngineTest, WithoutAFileStartUpWritesEveryDefault) {
    ASSERT_FALSE(exists(kIni));
    freshConfig();
    ASSERT_TRUE(exists(kIni));
    EXPECT_NE(readFile(kIni).find("[config]"), std::string::npos);

    const std::vector<std::pair<const char*, const char*>> defaults = {
        {"TcpPort", "5005"},
        {"UdpPort", "5008"},
        {"IPAddress", "192.168.1.199"},
        {"SubNetMask", "255.255.255.0"},
        {"GateWay", "192.168.1.1"},
        {"MAC", "FF:FF:FF:FF:FF:FF"},
        {"Barcode", " "},
        {"WifiIPAddress", "192.168.22.101"},
        {"EDIDCheck", "Once"},
        {"SourceCheck", "255"},
        {"ImageLayoutPassword", "No"},
        {"Wenxcloudserverip", " "},
        {"Wenxcloudserverport", " "},
        {"Wenxclouduserip", " "},
        {"Wenxcloudcontrollername", " "},
        {"ZemMaxPixel_UINT", "13107200"},
        {"usbupgradedir", "ZEM-T73"},
        {"ZemLCDLang", "65567"},
    };
    QSettings s(QString::fromStdString(local(kIni)), QSettings::IniFormat);
    s.beginGroup("config");
    EXPECT_EQ(s.childKeys().size(), 18);
    for (const auto& [key, value] : defaults) EXPECT_EQ(s.value(key).toString(), value) << key;

    // The globals take the defaults too (one text, one number and one hex item).
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    EXPECT_EQ(g_check_source, 255u);
    EXPECT_EQ(g_zem_max_pixel, 0xC80000u);
    // Synchronous writes are asked for on the file.
    const auto cmds = commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "chattr +S /data/configs/tcpip.ini"), cmds.end());
}

TEST_F(ConfigEngineTest, AValueInTheFileWinsAndMissingKeysAreAdded) {
    writeFile(kIni, "[config]\nTcpPort=6000\nIPAddress=\nSourceCheck=abc\n");
    auto* c = freshConfig();
    EXPECT_EQ(g_port, 6000u);
    EXPECT_EQ(g_int_tcp_port, 6000u);
    EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toString(), "6000");
    // An empty value counts as missing; a number item holding text loads as 0 and is kept.
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    EXPECT_EQ(iniValue(kIni, "config/IPAddress"), "192.168.1.199");
    EXPECT_EQ(g_check_source, 0u);
    EXPECT_EQ(iniValue(kIni, "config/SourceCheck"), "abc");
    EXPECT_EQ(iniValue(kIni, "config/TcpPort"), "6000");
    EXPECT_EQ(iniValue(kIni, "config/usbupgradedir"), "ZEM-T73");
}

TEST_F(ConfigEngineTest, AWriteReachesTheFileAndTheNextStart) {
    auto* c = freshConfig();
    c->write_config_variant(ConfigItem::IPAddress, QString("10.0.0.5"));
    c->write_config_variant(ConfigItem::TcpPort, 7000);
    EXPECT_EQ(c->read_config_variant(ConfigItem::IPAddress).toString(), "10.0.0.5");
    EXPECT_EQ(iniValue(kIni, "config/IPAddress"), "10.0.0.5");
    EXPECT_EQ(iniValue(kIni, "config/TcpPort"), "7000");
    // Writers set the matching global themselves; the next start loads the file.
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    freshConfig();
    EXPECT_EQ(g_str_ip, "10.0.0.5");
    EXPECT_EQ(g_port, 7000u);
}

// The device information reports g_str_mac: after a restart it is the interface's own MAC when
// eth0 can be asked, else the MAC the PC set (kept in the configuration), never FF:FF:...
TEST_F(ConfigEngineTest, TheMacAfterARestartIsTheInterfacesOrTheConfiguredOne) {
    const std::string busybox =
        "eth0      Link encap:Ethernet  HWaddr 00:1A:2B:3C:4D:5E  \n"
        "          inet addr:192.168.1.199  Bcast:192.168.1.255  Mask:255.255.255.0\n";
    const std::string netTools =
        "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n"
        "        ether 00:1a:2b:3c:4d:5f  txqueuelen 1000  (Ethernet)\n";
    struct Case {
        const char* name;
        std::string configured, printed;
        QString shown;
    } cases[] = {
        {"interface not asked", "02:11:22:33:44:55", "", "02:11:22:33:44:55"},
        {"busybox ifconfig", "02:11:22:33:44:55", busybox, "00:1A:2B:3C:4D:5E"},
        {"net-tools ifconfig", "02:11:22:33:44:55", netTools, "00:1a:2b:3c:4d:5f"},
        {"no such interface", "02:11:22:33:44:55",
         "ifconfig: eth0: error fetching interface information: Device not found\n",
         "02:11:22:33:44:55"},
        {"configured text not a MAC", "02:11:22:33:44", "", "FF:FF:FF:FF:FF:FF"},
    };
    for (const Case& c : cases) {
        freshConfig()->write_config_variant(ConfigItem::MAC, QString::fromStdString(c.configured));
        shell().answer("ifconfig eth0", 0, c.printed);
        g_str_mac = "FF:FF:FF:FF:FF:FF";  // power-on value
        freshConfig();
        EXPECT_EQ(g_str_mac, c.shown) << c.name;
    }
}

TEST_F(ConfigEngineTest, TextWithCommasSurvivesTheRoundTrip) {
    auto* c = freshConfig();
    c->write_config_variant(ConfigItem::Barcode, QString("AB,12;x=\"y\""));
    freshConfig();
    EXPECT_EQ(g_str_barcode, "AB,12;x=\"y\"");
    // A hand-edited file with an unquoted comma still reads as the whole text.
    writeFile(kIni, "[config]\nBarcode=AB,CD\n");
    freshConfig();
    EXPECT_EQ(g_str_barcode, "AB,CD");
}

// A tcpip.ini that is a link leads to a file that is not the box's: it is neither read nor
// written, the box uses its defaults, and its line says so.
TEST_F(ConfigEngineTest, AFileThatIsALinkIsNotReadAndTheDefaultsAreUsed) {
    const std::string outside = makeTempDir("outside") + "/tcpip.ini";
    const std::string text = "[config]\nTcpPort=7777\nIPAddress=10.1.2.3\n";
    std::ofstream(outside) << text;
    platform::makeParentDirs(kIni);
    std::filesystem::create_symlink(outside, local(kIni));
    LogTestHooks::forget();  // the line of its kind an earlier test said
    testing::internal::CaptureStderr();
    auto* c = freshConfig();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(local(kIni) +
                        " is a symbolic link: refused (the box uses its own files, never through a "
                        "link): the configuration's defaults are used"),
              std::string::npos)
        << said;
    EXPECT_EQ(g_port, 5005u);
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    c->write_config_variant(ConfigItem::TcpPort, 6000);
    EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 6000);
    std::stringstream kept;
    kept << std::ifstream(outside).rdbuf();
    EXPECT_EQ(kept.str(), text);
    std::filesystem::remove(local(kIni));
    removeTree(outside.substr(0, outside.rfind('/')));
}

TEST_F(ConfigEngineTest, MemoryOnlyItemsAreNotWritten) {
    auto* c = freshConfig();
    c->items[ConfigItem::MAC].memoryOnly = true;
    c->write_config_variant(ConfigItem::MAC, QString("00:11:22:33:44:55"));
    EXPECT_EQ(c->read_config_variant(ConfigItem::MAC).toString(), "00:11:22:33:44:55");
    EXPECT_EQ(iniValue(kIni, "config/MAC"), "FF:FF:FF:FF:FF:FF");
}

// Pages and protocol threads write at the same time: every last value lands, in memory and
// in the file, and the file keeps all its keys.
TEST_F(ConfigEngineTest, ConcurrentWritesAllLand) {
    auto* c = freshConfig();
    const ConfigItem::ConfigName ids[] = {ConfigItem::Barcode,   ConfigItem::MAC,
                                          ConfigItem::EDIDCheck, ConfigItem::usbupgradedir,
                                          ConfigItem::GateWay,   ConfigItem::Wenxclouduserip};
    constexpr int kWrites = 40;
    std::atomic<int> reads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kWrites; ++i) {
                c->write_config_variant(ids[t], QString("w%1-%2").arg(t).arg(i));
                if (!c->read_config_variant(ConfigItem::TcpPort).toString().isEmpty()) ++reads;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(reads.load(), 6 * kWrites);
    QSettings s(QString::fromStdString(local(kIni)), QSettings::IniFormat);
    s.beginGroup("config");
    EXPECT_EQ(s.childKeys().size(), 18);
    for (int t = 0; t < 6; ++t) {
        const QString last = QString("w%1-%2").arg(t).arg(kWrites - 1);
        EXPECT_EQ(c->read_config_variant(ids[t]).toString(), last);
        EXPECT_EQ(s.value(c->items[ids[t]].key.mid(7)).toString(), last);
    }
}

TEST_F(ConfigEngineTest, KeysMapToIds) {
    auto* c = freshConfig();
    EXPECT_EQ(ConfigEngine::strToItem("IPAddress"), ConfigItem::IPAddress);
    EXPECT_EQ(ConfigEngine::strToItem("config/IPAddress"), ConfigItem::IPAddress);
    // An unknown key is not mistaken for TcpPort (id 0).
    for (const char* unknown : {"NoSuchKey", "config/NoSuchKey", ""})
        EXPECT_EQ(ConfigEngine::strToItem(unknown), -1) << unknown;
    EXPECT_EQ(ConfigEngine::containsItemStr("config/GateWay"), 1);
    EXPECT_EQ(ConfigEngine::containsItemStr("GateWay"), 0);
    ConfigItem* gw = c->getConfigItem("config/GateWay");
    ASSERT_NE(gw, nullptr);
    EXPECT_EQ(gw->id, ConfigItem::GateWay);
    EXPECT_EQ(c->getConfigItem("GateWay"), nullptr);
    EXPECT_FALSE(c->read_config_variant(ConfigItem::ConfigName(18)).isValid());
}

TEST_F(ConfigEngineTest, CloudIsOnAsSoonAsOneCloudSettingIsSet) {
    freshConfig();
    EXPECT_EQ(g_Wenx_cloud, 0);
    writeFile(kIni, "[config]\nWenxcloudcontrollername=hall-3\n");
    freshConfig();
    EXPECT_EQ(g_Wenx_cloud, 1);
    EXPECT_EQ(g_Wenx_controllername, "hall-3");
    writeFile(kIni, "[config]\nWenxcloudserverport=9000\n");
    freshConfig();
    EXPECT_EQ(g_Wenx_cloudserverport, 9000u);
    EXPECT_EQ(g_Wenx_cloud, 1);
}

struct IdCase {
    uint16_t w0, w1, w2;
    const char* id;
};

class DeviceIdTest : public CoreTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(DeviceIdTest, ComesFromTheIdentificationWords) {
    const IdCase& k = GetParam();
    box().soc.setIdentity(k.w0, k.w1, k.w2);
    freshConfig();
    EXPECT_EQ(std::string(g_pid), k.id);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DeviceIdTest,
    ::testing::Values(IdCase{0x1234, 0x5678, 0x9abc, "1597bca0886b31023001305032627494"},
                      IdCase{0, 0, 0, "00000000000000000000000000000000"},
                      IdCase{0xffff, 0xffff, 0xffff, "fffffff0fffff00ff000f0f0f0f0ffff"}));

TEST_F(ConfigEngineTest, ReadingTheIdClearsTheReadControlBitOnly) {
    box().soc.setWord(platform::sim::SimSoc::kIdControl, 0x0e35 | 0x0100);
    freshConfig();
    const auto writes = box().soc.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].offset, platform::sim::SimSoc::kIdControl);
    EXPECT_EQ(writes[0].value, 0x0e35);
}

TEST_F(ConfigEngineTest, WithoutTheSocWindowConfigurationStillLoads) {
    box().soc.identity_open_error = -EACCES;
    writeFile(kIni, "[config]\nTcpPort=7001\n");
    freshConfig();
    EXPECT_EQ(std::string(g_pid), std::string(32, '0'));
    EXPECT_EQ(g_port, 7001u);
    EXPECT_TRUE(box().soc.writes().empty());
}

TEST_F(ConfigEngineTest, StartUpProgramCheck) {
    const char* file = "/data/configs/led_load_config.ini";
    freshConfig();
    EXPECT_EQ(g_update_status, 0);  // no file
    writeFile(file, "[app-1]\napp_path=/data/app/zemT57N -platform linuxfb\n");
    factoryage_log << "aging line";
    factoryage_log_num = 1;
    // A later call reloads the check and empties the aging log.
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 1);
    EXPECT_TRUE(factoryage_log.isEmpty());
    EXPECT_EQ(factoryage_log_num, 0u);
    writeFile(file, "[app-1]\napp_path=/data/app/zemT57N2 -platform linuxfb\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);
    writeFile(file, "[app]\napp_path=/data/app/zemT57N -platform linuxfb\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);
}

}  // namespace

TEST_F(ConfigEngineTest, ATcpPortThatIsNoPortIsRefusedForTheDefault) {
    const struct {
        const char* text;
        uint32_t port;
    } rows[] = {{"6000", 6000},  {"1", 1},        {"65535", 65535}, {"0", 5005},
                {"65536", 5005}, {"70000", 5005}, {"-1", 5005},     {"abc", 5005},
                {"50 05", 5005}, {"5005x", 5005}, {"123456", 5005}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        writeFile(kIni, std::string("[config]\nTcpPort=") + row.text + "\n");
        freshConfig();
        EXPECT_EQ(g_port, row.port);
        EXPECT_EQ(g_int_tcp_port, row.port);
        EXPECT_EQ(iniValue(kIni, "config/TcpPort"), row.text) << "the file is left as it is";
    }
}
