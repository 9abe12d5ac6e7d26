// The factory settings page as a user works it: the language row's stepping over the enabled
// languages (also none), applying a language, each reset's parameter RAM against the defaults
// (kept ranges, fade times, EDID flags), the LED-size handshake by FPGA 0's state and by a
// changed size or splice, "Reset ALL" with each network value off its default, a reset then
// OK, OK keeping the reset's language, and the font lines.
#include "ui/system/factory.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QSettings>
#include <QWindow>
#include <cstring>

#include "c331/c331_manage.h"
#include "core/config_engine.h"
#include "core/globals.h"
#include "core/led_size_handshake.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "page_driver.h"
#include "ui/shell/panel_view.h"
#include "ui/system/firmware_update.h"
#include "ui_factory.h"
#include "video_io/raviksource.h"

namespace {

const char* const kIni = "/data/configs/tcpip.ini";

uint8_t defaultOf(int addr) {
    return default_para_ramlist[addr - 766];
}

int takeApply() {
    zem::MutexLocker lock(c331_manage::c331_mutex);
    int n = 0;
    while (c331_manage::take_apply() != 0) ++n;
    return n;
}

class FactoryPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        led_size_handshake::get().clear();
    }
    void TearDown() override {
        led_size_handshake::get().clear();
        PanelTest::TearDown();
    }
    // Saved and refreshed: both records equal the RAM.
    void saveShadow() {
        std::memcpy(store().shadow, store().ram.data(), sizeof store().ram);
        std::memcpy(store().persisted.data(), store().ram.data(), sizeof store().ram);
    }
    void onPage(std::vector<Item> steps) {
        startPanel();
        steps.insert(steps.begin(), [] { panel::openRegistered(kPageFactory); });
        steps.push_back([this] {
            if (g_factory) key(kKeyBack);
        });
        session(steps);
        EXPECT_EQ(g_factory, nullptr);
        EXPECT_EQ(g_page_focus, kPageAdvancedOption);
    }
    void focusOn(int row) {
        for (int n = 0; n < factory::kRows && focused() != row; ++n) key(kKeyRight);
        ASSERT_EQ(focused(), row);
    }
    // The row drawn with the focus or the edit border.
    static int focused() {
        const QWidget* rows[] = {g_factory->ui->Box_lang_2, g_factory->ui->Button_rst1,
                                 g_factory->ui->Button_rst2, g_factory->ui->Button_rst3};
        for (int i = 0; i < factory::kRows; ++i)
            if (panel_style::stateOf(rows[i]) == panel_style::kFocus ||
                panel_style::stateOf(rows[i]) == panel_style::kEdit)
                return i;
        return -1;
    }
    // Parameter RAM 768..4095 off its defaults, saved as such.
    void scramble() {
        for (int a = 768; a < 4096; ++a) store().ram[a] = uint8_t(a * 7 + 3);
        store().ram[ZemRamPara::kRamLanguage] = 1;
        store().ram[769] = 0;
        saveShadow();
    }
    static void setFpgas(uint8_t f0, uint8_t f1) {
        fpga_manage* f = fpga_manage::pInstance();
        zem::MutexLocker lock(f->mirror_mutex);
        f->MCU_REG_func[0][80] = f0;
        f->MCU_REG_func[1][80] = f1;
    }
    void configure(const char* ip, const char* mask, const char* gateway) {
        writeFile(kIni, std::string("[config]\nIPAddress=") + ip + "\nSubNetMask=" + mask +
                            "\nGateWay=" + gateway + "\n");
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
        Utils::getIPAddress();
    }
    QString ini(const char* key) const {
        QSettings s(QString::fromStdString(local(kIni)), QSettings::IniFormat);
        return s.value(QString("config/") + key).toString();
    }
};

struct StepCase {
    const char* name;
    uint32_t enabled;
    int start;  // g_language when the page opens
    std::vector<int> keys;
    std::vector<int> shown;  // the combo after each key
};

TEST_F(FactoryPage, TheLanguageRowStepsOverTheEnabledLanguagesOnly) {
    const int R = kKeyRight, L = kKeyLeft;
    const StepCase cases[] = {
        {"0, 1, 4 from English, Right", 0x13, 1, {R, R, R}, {4, 0, 1}},
        {"0, 1, 4 from Chinese, Left", 0x13, 0, {L, L, L}, {4, 1, 0}},
        {"all five", 0x1F, 3, {R, R, L, L, L}, {4, 0, 4, 3, 2}},
        {"only Russian", 0x04, 2, {R, L, R}, {2, 2, 2}},
        {"Russian opened but not enabled", 0x13, 2, {R}, {4}},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_lcd_lang_valid = c.enabled;
        g_language = uint8_t(c.start);
        store().ram[ZemRamPara::kRamLanguage] = uint8_t(c.start);
        saveShadow();
        onPage({[&] {
            key(kKeyOk);
            EXPECT_EQ(g_factory->lang_edit, 1);
            for (size_t i = 0; i < c.keys.size(); ++i) {
                key(c.keys[i]);
                EXPECT_EQ(g_factory->ui->Box_lang_2->currentIndex(), c.shown[i]) << i;
            }
            EXPECT_EQ(focused(), factory::kLanguage) << "the focus stays on the row";
            key(kKeyBack);  // drops the choice
        }});
        EXPECT_EQ(store().ram[ZemRamPara::kRamLanguage], c.start) << "Back applied nothing";
        EXPECT_EQ(takeApply(), 0);
        stopPanel();
    }
}

TEST_F(FactoryPage, WithNoLanguageEnabledTheRowShowsEnglishAndHasNoEditState) {
    g_lcd_lang_valid = 0;
    g_language = 2;
    onPage({[this] {
        EXPECT_EQ(g_factory->ui->Box_lang_2->currentIndex(), 1);
        EXPECT_EQ(g_factory->ui->label_factory->text(), "Factory setup");
        keys({kKeyOk, kKeyRight});
        EXPECT_EQ(g_factory->lang_edit, 0);
        EXPECT_EQ(focused(), factory::kKeepIp) << "Right moved the focus";
        EXPECT_EQ(takeApply(), 0);
        shot("nolanguage");
    }});
}

TEST_F(FactoryPage, OkOkAppliesTheChosenLanguageAndTheOneInForceWritesNothing) {
    onPage({[this] {
        keys({kKeyOk, kKeyOk});
        EXPECT_EQ(takeApply(), 0) << "English is in force";
        keys({kKeyOk, kKeyRight, kKeyOk});
        EXPECT_EQ(store().ram[ZemRamPara::kRamLanguage], 2);
        EXPECT_EQ(store().ram[769], 0);
        EXPECT_EQ(g_language, 2);
        EXPECT_EQ(takeApply(), 1);
        EXPECT_EQ(g_factory->ui->label_factory->text(), QString::fromUtf8("Системные настройки"));
        shot("russian");
    }});
}

TEST_F(FactoryPage, KeepIpResetsTheWholeRamWithSixtyFadeTimesAndAnnouncesEveryEdid) {
    raviksource* src = raviksource::pInstance();
    for (auto& f : src->edid_rewrite) f = 0;
    scramble();
    // The close-LED and brightness it writes are the user's writes (their write generations
    // grow), which the FPGA side tells from its own echoes.
    const auto gens = [this] {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        return std::make_pair(store().word_gen(2116), store().word_gen(2176));
    };
    const auto before = gens();
    onPage({[this] {
        focusOn(factory::kKeepIp);
        key(kKeyOk);
        EXPECT_EQ(focused(), factory::kKeepIp) << "the focus stays";
        shot("keepip");
    }});
    EXPECT_GT(gens().first, before.first);
    EXPECT_GT(gens().second, before.second);
    for (int a = 768; a < 4096; ++a) {
        const bool fade = a >= 2816 && a < 2880 && (a - 2816) % 4 != 1 && (a - 2816) % 4 != 3;
        ASSERT_EQ(store().ram[a], fade ? 60 : defaultOf(a)) << "RAM " << a;
    }
    EXPECT_EQ(store().rd16(1378), 1920);
    EXPECT_EQ(store().rd16(1376), 4);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(src->edid_rewrite[i], 1) << i;
    EXPECT_EQ(takeApply(), 1);
}

TEST_F(FactoryPage, KeepIpEdidKeepsTheEdidBlockAndLeavesTheEdidFlags) {
    raviksource* src = raviksource::pInstance();
    for (auto& f : src->edid_rewrite) f = 0;
    scramble();
    uint8_t edid[480];
    std::memcpy(edid, store().ram.data() + 896, sizeof edid);
    onPage({[this] {
        focusOn(factory::kKeepIpEdid);
        key(kKeyOk);
    }});
    EXPECT_EQ(std::memcmp(edid, store().ram.data() + 896, sizeof edid), 0);
    for (int a : {768, 800, 895, 1376, 1378, 1380, 2000, 4095})
        EXPECT_EQ(store().ram[a], defaultOf(a)) << "RAM " << a;
    EXPECT_EQ(store().ram[2816], 60);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(src->edid_rewrite[i], 0) << i;
    EXPECT_EQ(takeApply(), 1);
}

struct HandshakeCase {
    const char* name;
    uint16_t width, splice;  // saved before the reset (defaults 1920 and 4)
    uint8_t fpga0, fpga1;
    bool handshake;
};

TEST_F(FactoryPage, TheResetHandsOverTheLedSizeWhenSizeOrSpliceChangedAndFpgaZeroRuns) {
    const HandshakeCase cases[] = {
        {"defaults already", 1920, 4, 3, 3, false},
        {"size changed, FPGA 0 runs", 1280, 4, 3, 0, true},
        {"size changed, only FPGA 1 runs", 1280, 4, 0, 3, false},
        {"only the splice changed", 1920, 2, 3, 3, true},
    };
    for (const HandshakeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::memcpy(store().ram.data() + 768, default_para_ramlist.data() + 2, 3328);
        store().wr16_no_gen_bump(1378, c.width);
        store().wr16_no_gen_bump(1376, c.splice);
        saveShadow();
        setFpgas(c.fpga0, c.fpga1);
        led_size_handshake::get().clear();
        onPage({[this] {
            focusOn(factory::kKeepIp);
            key(kKeyOk);
        }});
        EXPECT_EQ(led_size_handshake::get().state(),
                  c.handshake ? led_size_handshake::kBlanking : led_size_handshake::kIdle);
        EXPECT_EQ(takeApply(), 1) << "the parameters reach the C331 thread either way";
        stopPanel();
    }
}

struct NetCase {
    const char* ip;
    const char* mask;
    const char* gateway;
    bool written;
};

TEST_F(FactoryPage, ResetAllPutsTheWholeNetworkBackWhenAnyPartDiffers) {
    const NetCase cases[] = {
        {"10.0.0.5", "255.255.255.0", "192.168.1.1", true},
        {"192.168.1.199", "255.255.0.0", "192.168.1.1", true},
        {"192.168.1.199", "255.255.255.0", "192.168.1.254", true},
        {"192.168.1.199", "255.255.255.0", "192.168.1.1", false},
    };
    for (const NetCase& c : cases) {
        SCOPED_TRACE(std::string(c.ip) + " " + c.mask + " " + c.gateway);
        configure(c.ip, c.mask, c.gateway);
        scramble();
        shell().clear();
        onPage({[this] {
            focusOn(factory::kResetAll);
            key(kKeyOk);
            shot("resetall");
        }});
        EXPECT_EQ(ini("IPAddress"), "192.168.1.199");
        EXPECT_EQ(ini("SubNetMask"), "255.255.255.0");
        EXPECT_EQ(ini("GateWay"), "192.168.1.1");
        const std::vector<std::string> cmds = commands();
        if (c.written) {
            ASSERT_FALSE(cmds.empty());
            EXPECT_EQ(cmds[0], "sync");
            EXPECT_NE(std::find(cmds.begin(), cmds.end(),
                                "ifconfig eth0 192.168.1.199 netmask 255.255.255.0"),
                      cmds.end());
            EXPECT_EQ(Utils::configValue(&g_str_gateway), "192.168.1.1");
        } else {
            EXPECT_TRUE(cmds.empty());
        }
        EXPECT_EQ(store().rd16(1378), 1920) << "then the parameters";
        EXPECT_EQ(takeApply(), 1);
        stopPanel();
    }
}

TEST_F(FactoryPage, AfterAResetOkOkKeepsTheResetsLanguage) {
    g_lcd_lang_valid = 0x1F;
    g_language = 2;
    store().ram[ZemRamPara::kRamLanguage] = 2;
    saveShadow();
    onPage({[this] {
        EXPECT_EQ(g_factory->ui->Box_lang_2->currentIndex(), 2);
        focusOn(factory::kKeepIp);
        key(kKeyOk);
        takeApply();
        store().test_signal(1);  // the C331 thread's refresh after it applied the reset
        EXPECT_EQ(g_language, 0);
        EXPECT_EQ(g_factory->ui->Box_lang_2->currentIndex(), 0);
        EXPECT_EQ(g_factory->ui->label_factory->text(), QString::fromUtf8("工厂设置"));
        focusOn(factory::kLanguage);
        keys({kKeyOk, kKeyOk});
        EXPECT_EQ(store().ram[ZemRamPara::kRamLanguage], 0) << "not the language before";
        EXPECT_EQ(g_language, 0);
        EXPECT_EQ(takeApply(), 0);
        shot("afterreset");
    }});
}

TEST_F(FactoryPage, ARefreshWithANewLanguageEndsTheEditStateAndTouchesDoNothing) {
    onPage({[this] {
        keys({kKeyOk, kKeyRight});
        store().ram[ZemRamPara::kRamLanguage] = 4;
        store().test_signal(1);
        EXPECT_EQ(g_factory->lang_edit, 0);
        EXPECT_EQ(g_factory->ui->Box_lang_2->currentIndex(), 4);
        EXPECT_EQ(g_factory->ui->FontCN->text(),
                  "<font style = 'font-size:12px' color = #ffffff >CN:</font>"
                  "<font style = 'font-size:13px' color = #ff0000 >32寬</font>"
                  "<font style = 'font-size:12px' color = #ffffff >|</font>"
                  "<font style = 'font-size:13px' color = #ff0000 >64寬</font>"
                  "<font style = 'font-size:12px' color = #ffffff >|</font>"
                  "<font style = 'font-size:13px' color = #ff0000 >128寬</font>")
            << "no C331 manager: no font found";
        QComboBox* c = g_factory->ui->Box_lang_2;
        const QPoint at = c->rect().center();
        QMouseEvent press(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(c, &press);
        EXPECT_FALSE(c->view()->isVisible()) << "a touch opens no list";
        g_factory->ui->Button_rst3->click();
        EXPECT_EQ(takeApply(), 0) << "a touched reset button does nothing";
        shot("traditional");
    }});
}

// The upgrade overlay hides the page: keys from the panel and from the control channel are
// dropped until it closes, so no reset runs unseen.
TEST_F(FactoryPage, KeysUnderTheUpgradeOverlayChangeNothing) {
    scramble();
    const std::vector<uint8_t> before(store().ram.data(), store().ram.data() + sizeof store().ram);
    onPage({[&] {
                focusOn(factory::kResetAll);
                g_update_flag = kUpdateByPc;
                firmware_update_start();
                for (int k : {kKeyRight, kKeyOk, kKeyOk}) {
                    key(k);
                    QWindow* window = panel::keyWindow();
                    ASSERT_TRUE(panel::postKey(k));
                    QCoreApplication::sendPostedEvents(window);
                }
                EXPECT_EQ(focused(), factory::kResetAll);
                EXPECT_EQ(g_page_focus, kPageFactory);
                EXPECT_TRUE(std::equal(before.begin(), before.end(), store().ram.data()))
                    << "nothing reset";
                shot("under-overlay");
                g_update_flag = 0;
                firmware_update_over();
            },
            [this] {
                key(kKeyRight);
                EXPECT_EQ(focused(), factory::kLanguage) << "keys work again once it has gone";
            }});
}

}  // namespace
