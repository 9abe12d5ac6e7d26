// The Ethernet address page as a user works it: the rows from the configuration, the focus ring
// and its styles, the keypad's titles, octets refused or trimmed at the keypad, Apply with
// nothing, one row or a bad stored row changed (the ini file, the shell, the refresh), a
// stored address too short to fill a row, Back and the language.
#include "ui/system/linkwlan.h"

#include <QLabel>
#include <QLineEdit>
#include <QSettings>

#include "core/config_engine.h"
#include "core/globals.h"
#include "core/utils.h"
#include "page_driver.h"
#include "ui/shell/number_keyboard.h"
#include "ui_linkwlan.h"

// Readable QStrings in failure messages.

namespace {

const char* const kIni = "/data/configs/tcpip.ini";
constexpr int kClear = 10, kDelete = 11, kOkItem = 13;

class EthernetPage : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        QObject::connect(&store(), &ZemRamPara::sig_update_para,
                         [this](int id) { refreshes.push_back(id); });
    }
    // The configuration as the box starts with it.
    void configure(const char* ip, const char* mask, const char* gateway) {
        writeFile(kIni, std::string("[config]\nIPAddress=") + ip + "\nSubNetMask=" + mask +
                            "\nGateWay=" + gateway + "\n");
        ConfigEngine::p_config = nullptr;  // the box starts again: a new engine reads the file
        ConfigEngine::pInstance();
        Utils::getIPAddress();
    }
    QString ini(const char* key) const {
        QSettings s(QString::fromStdString(local(kIni)), QSettings::IniFormat);
        return s.value(QString("config/") + key).toString();
    }
    void onPage(std::vector<Item> steps) {
        startPanel();
        steps.insert(steps.begin(), [] { panel::openRegistered(kPageLinkWlan); });
        steps.push_back([this] {
            if (g_linkwlan) key(kKeyBack);
        });
        session(steps);
        EXPECT_EQ(g_linkwlan, nullptr);
        EXPECT_EQ(g_page_focus, kPageLinkOption);
    }
    static QLineEdit* field(int index) {
        return g_linkwlan->findChildren<QLineEdit*>(kFieldNames[index]).value(0);
    }
    static QString row(int r) {
        QStringList parts;
        for (int o = 0; o < 4; ++o) parts << field(4 * r + o)->text();
        return parts.join(',');
    }
    void focusOn(int index) {
        for (int n = 0; n < 14 && focusIndex() != index; ++n) key(kKeyRight);
    }
    static bool focused(const QWidget* w) {
        const panel_style::State s = panel_style::stateOf(w);
        return s == panel_style::kFocus || s == panel_style::kWrongFocus;
    }
    static bool wrong(const QWidget* w) {
        const panel_style::State s = panel_style::stateOf(w);
        return s == panel_style::kWrong || s == panel_style::kWrongFocus;
    }
    static int focusIndex() {
        for (int i = 0; i < 12; ++i)
            if (focused(field(i))) return i;
        if (focused(g_linkwlan->ui->Button_apply)) return 12;
        return 13;
    }
    // Types into field `index` on the keypad (C, the digits, OK; an empty text by deleting).
    std::vector<Item> type(int index, const QString& digits) {
        return {[this, index] {
                    focusOn(index);
                    key(kKeyOk);  // the keypad's loop runs the next step
                },
                [this, digits] {
                    EXPECT_TRUE(g_numberkeyboard->isVisible());
                    if (digits.isEmpty()) {
                        pressUntil([this] { pressKeypad(kDelete); },
                                   [] { return g_numberkeyboard->text().isEmpty(); },
                                   "the keypad's text empty");
                    } else {
                        pressKeypad(kClear);
                        for (QChar c : digits) pressKeypad(c == '0' ? 9 : c.digitValue() - 1);
                    }
                    pressKeypad(kOkItem);
                }};
    }
    void apply() {
        focusOn(12);
        key(kKeyOk);
    }
    static std::vector<Item> join(std::vector<std::vector<Item>> parts) {
        std::vector<Item> all;
        for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }

    static constexpr const char* kFieldNames[12] = {
        "lineEditIp1",   "lineEditIp2",   "lineEditIp3",   "lineEditIp4",
        "lineEditMask1", "lineEditMask2", "lineEditMask3", "lineEditMask4",
        "lineEditGate1", "lineEditGate2", "lineEditGate3", "lineEditGate4"};
    std::vector<int> refreshes;
};

TEST_F(EthernetPage, RowsShowTheStoredAddressesAndTheFocusRingsOverFourteenItems) {
    configure("192.168.1.199", "255.255.255.0", "192.168.1.1");
    onPage({[this] {
        EXPECT_EQ(row(0), "192,168,1,199");
        EXPECT_EQ(row(1), "255,255,255,0");
        EXPECT_EQ(row(2), "192,168,1,1");
        EXPECT_EQ(focusIndex(), 0);
        shot("start");
        key(kKeyLeft);
        EXPECT_EQ(focusIndex(), 13) << "Left on the first octet goes to Cancel";
        key(kKeyRight);
        EXPECT_EQ(focusIndex(), 0);
        for (int i = 0; i < 4; ++i) key(kKeyRight);
        EXPECT_EQ(panel_style::stateOf(field(3)), panel_style::kNormal);
        EXPECT_EQ(field(3)->styleSheet(),
                  panel_style::sheet(panel_style::kAddressRight, panel_style::kNormal))
            << "the right field style once the focus leaves the fourth octet";
        for (int i = 0; i < 10; ++i) key(kKeyRight);
        EXPECT_EQ(focusIndex(), 0) << "fourteen presses come round";
    }});
}

TEST_F(EthernetPage, TheKeypadIsTitledMaskOnTheNetmaskRowAndIpOnTheOthers) {
    configure("192.168.1.199", "255.255.255.0", "192.168.1.1");
    const std::pair<int, const char*> cases[] = {{0, "IP"}, {5, "Mask"}, {10, "IP"}};
    std::vector<Item> steps;
    for (auto c : cases) {
        steps.push_back([this, c] {
            focusOn(c.first);
            key(kKeyOk);
        });
        steps.push_back([this, c] {
            EXPECT_EQ(g_numberkeyboard->findChild<QLabel*>("label")->text(), c.second);
            shot(QString("keypad-%1").arg(c.first));
            key(kKeyBack);  // closed without OK: the field keeps its text
        });
    }
    steps.push_back([this] { EXPECT_EQ(row(2), "192,168,1,1"); });
    onPage(steps);
}

struct ApplyCase {
    const char* name;
    int field;
    const char* typed;
    const char* shown;    // the row of that field afterwards
    const char* address;  // ini values afterwards
    const char* mask;
    const char* gateway;
    bool written;
    bool touched = false;  // Apply touched, not chosen with the keys
};

TEST_F(EthernetPage, ApplyStoresOnlyGoodChangedAddresses) {
    // clang-format off
    const ApplyCase cases[] = {
        {"unchanged", 0, "192", "192,168,1,199", "192.168.1.199", "255.255.255.0", "192.168.1.1", false},
        {"octet 300 refused", 3, "300", "192,168,1,199", "192.168.1.199", "255.255.255.0", "192.168.1.1", false},
        {"empty octet refused", 1, "", "192,168,1,199", "192.168.1.199", "255.255.255.0", "192.168.1.1", false},
        {"leading zeros dropped", 3, "001", "192,168,1,1", "192.168.1.1", "255.255.255.0", "192.168.1.1", true},
        {"only the gateway", 11, "254", "192,168,1,254", "192.168.1.199", "255.255.255.0", "192.168.1.254", true},
        {"netmask", 7, "128", "255,255,255,128", "192.168.1.199", "255.255.255.128", "192.168.1.1", true},
        {"Apply touched", 11, "254", "192,168,1,254", "192.168.1.199", "255.255.255.0", "192.168.1.254", true, true},
    };
    // clang-format on
    for (const ApplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        configure("192.168.1.199", "255.255.255.0", "192.168.1.1");
        shell().clear();
        refreshes.clear();
        onPage(join({type(c.field, c.typed), {[this, c] {
                         EXPECT_EQ(row(c.field / 4), c.shown);
                         if (c.touched)
                             touch(panelPoint(g_linkwlan->ui->Button_apply));
                         else
                             apply();
                         EXPECT_EQ(panel_style::stateOf(g_linkwlan->ui->label_IpSet),
                                   panel_style::kNormal);
                         shot(QString("applied-%1").arg(c.field));
                     }}}));
        EXPECT_EQ(ini("IPAddress"), c.address);
        EXPECT_EQ(ini("SubNetMask"), c.mask);
        EXPECT_EQ(ini("GateWay"), c.gateway);
        const std::vector<std::string> cmds = commands();
        if (c.written) {
            ASSERT_GE(cmds.size(), 3u);
            EXPECT_EQ(cmds[0], "sync");
            EXPECT_NE(
                std::find(
                    cmds.begin(), cmds.end(),
                    QString("ifconfig eth0 %1 netmask %2").arg(c.address, c.mask).toStdString()),
                cmds.end());
            EXPECT_EQ(Utils::configValue(&g_str_gateway), c.gateway);
            EXPECT_EQ(refreshes, std::vector<int>({1}));
        } else {
            EXPECT_TRUE(cmds.empty()) << cmds.front();
            EXPECT_TRUE(refreshes.empty());
        }
        stopPanel();
    }
}

TEST_F(EthernetPage, ARefusedOctetKeepsItsValueInARedFieldUntilAGoodOneIsTyped) {
    configure("192.168.1.199", "255.255.255.0", "192.168.1.1");
    onPage(join({type(3, "300"),
                 {[this] {
                     EXPECT_EQ(row(0), "192,168,1,199") << "the old value stays";
                     EXPECT_EQ(panel_style::stateOf(field(3)), panel_style::kWrongFocus)
                         << "with the focus on it";
                     key(kKeyRight);
                     EXPECT_EQ(panel_style::stateOf(field(3)), panel_style::kWrong)
                         << "and once it has left";
                     EXPECT_FALSE(wrong(field(4)));
                     shot("refused-octet");
                 }},
                 type(3, "7"),
                 {[this] {
                     EXPECT_EQ(row(0), "192,168,1,7");
                     EXPECT_FALSE(wrong(field(3)));
                 }}}));
}

TEST_F(EthernetPage, AStoredAddressTooShortShowsEmptyFieldsAndApplyRefusesItInRed) {
    configure("192.168.1", "255.255.255.0", "192.168.1.1");
    shell().clear();
    onPage(join(
        {{[this] {
             EXPECT_EQ(row(0), ",,,");
             EXPECT_EQ(row(1), "255,255,255,0");
             apply();
             EXPECT_EQ(panel_style::stateOf(g_linkwlan->ui->label_IpSet), panel_style::kWrong);
             EXPECT_EQ(panel_style::stateOf(g_linkwlan->ui->label_netmask), panel_style::kNormal);
             EXPECT_TRUE(commands().empty());
             shot("refused");
         }},
         type(0, "10"),
         type(1, "0"),
         type(2, "0"),
         type(3, "7"),
         {[this] {
             apply();
             EXPECT_EQ(panel_style::stateOf(g_linkwlan->ui->label_IpSet), panel_style::kNormal);
             shot("fixed");
         }}}));
    EXPECT_EQ(ini("IPAddress"), "10.0.0.7");
    EXPECT_EQ(Utils::configValue(&g_str_ip), "10.0.0.7");
}

TEST_F(EthernetPage, CancelAndBackDropTheEditsAndALanguageChangeKeepsThem) {
    configure("192.168.1.199", "255.255.255.0", "192.168.1.1");
    onPage(join({type(8, "10"), {[this] {
                     store().ram[ZemRamPara::kRamLanguage] = 0;
                     store().test_signal(1);
                     EXPECT_EQ(g_linkwlan->ui->label_wlan->text(), QString::fromUtf8("网口设置"));
                     EXPECT_EQ(row(2), "10,168,1,1") << "the octets being edited stay";
                     shot("chinese");
                     focusOn(13);
                     key(kKeyOk);
                 }}}));
    EXPECT_EQ(ini("GateWay"), "192.168.1.1");
    stopPanel();
    // A touch on Cancel goes back as OK on it does.
    onPage(join({type(8, "10"), {[this] {
                     touch(panelPoint(g_linkwlan->ui->Button_cancle));
                     EXPECT_EQ(g_linkwlan, nullptr) << "closed by the touch";
                 }}}));
    EXPECT_EQ(ini("GateWay"), "192.168.1.1");
    stopPanel();
    onPage({[this] { EXPECT_EQ(row(2), "192,168,1,1"); }});
}

}  // namespace
