#include "ui/system/factory.h"

#include <cstring>
#include <mutex>

#include "c331/c331_manage.h"
#include "comm/message_deal.h"
#include "core/globals.h"
#include "core/led_size.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "ui/led/no_touch.h"
#include "ui/shell/page_store.h"
#include "ui/system/net_address.h"
#include "ui_factory.h"
#include "video_io/raviksource.h"

factory* g_factory = nullptr;

namespace {

const char* const kPlainFormat = "<font style = 'font-size:12px' color = #ffffff >%1</font>";
const char* const kPresentFormat = "<font style = 'font-size:13px' color = #00ff00 >%1</font>";
const char* const kMissingFormat = "<font style = 'font-size:13px' color = #ff0000 >%1</font>";

constexpr int kEdidStart = 896;  // RAM 896..1375: the inputs' EDID block
constexpr int kEdidEnd = 1376;
constexpr int kDefaultsOffset = 766;  // table byte k holds the default of RAM 766 + k
constexpr int kFadeEntries = 16;
constexpr uint8_t kFadeTime = 60;
constexpr int kLanguages = 5;
constexpr int kEnglish = 1;

// clang-format off
const Texts kTitle = {"工厂设置", "Factory setup", "Системные настройки", "Khôi phục cài đăt gốc", "工廠設置"};
const Texts kLanguageLabel = {"语言", "language", "Язык", "Ngôn ngữ", "語言"};
const Texts kResetTitle = {"工厂复位", "Factory reset", "Сброс настроек", "Khôi phục cài đặt gốc", "工廠復位"};
const Texts kKeepIpText = {"保持IP不变", "Keep IP", "Сохранить IP", "Giữ nguyên IP", "保持IP不變"};
const Texts kKeepEdidText = {"IP和EDID保持不变", "Keep IP,EDID", "Сохранить IP и EDID", "IP và EDID vẫn giữ nguyên", "IP和EDID保持不變"};
const Texts kResetAllText = {"全部恢复出厂设置", "Reset ALL", "Сбросить все", "Khôi phục cài đặt gốc tất cả", "全部恢復出廠設置"};
const Texts kPressOk = {"点击OK应用", "Press Ok", "Нажмите ОК", "Đồng ý", "點擊OK應用"};
const Texts kFontCn = {"中文:", "CN:", "CN:", "CN:", "CN:"};
const Texts kFontEn = {"英文:", "EN:", "EN:", "EN:", "EN:"};
const Texts kSize32 = {"32宽", "32", "32", "32", "32寬"};
const Texts kSize64 = {"64宽", "64", "64", "64", "64寬"};
const Texts kSize128 = {"128宽", "128", "128", "128", "128寬"};
// clang-format on

bool enabled(int lang) {
    return lang >= 0 && lang < kLanguages && (Utils::configValue(&g_lcd_lang_valid) >> lang & 1);
}
bool anyEnabled() {
    return (Utils::configValue(&g_lcd_lang_valid) & 0x1F) != 0;
}

// One font line: the prefix, the 32-dot size by its own bit, then the 64 and 128 sizes, which
// share the 64-dot bit.
QString fontLine(const Texts& prefix, bool has32, bool has64) {
    const QString sep = QString(kPlainFormat).arg("|");
    const auto size = [](const Texts& t, bool has) {
        return QString(has ? kPresentFormat : kMissingFormat).arg(text(t));
    };
    return QString(kPlainFormat).arg(text(prefix)) + size(kSize32, has32) + sep +
           size(kSize64, has64) + sep + size(kSize128, has64);
}

// The factory reset hands the LED size over when FPGA 0 runs (register 80 of its mirror reads
// 3), whatever FPGA 1 does. Asked before the C331 mutex: the FPGA side's locks come after it.
bool fpga0Running() {
    fpga_manage* f = fpga_manage::p_fpga_manage;
    if (!f) return false;
    zem::MutexLocker lock(f->mirror_mutex);
    return f->reg_mirror[0][80] == 3;
}

}  // namespace

factory::factory(QWidget* parent) : PanelPage(kPageFactory, parent), ui(new Ui::factory) {
    ui->setupUi(this);
    // A touched combo would show a language that is neither applied nor chosen.
    ignoreTouch(ui->Box_lang_2);
    menulist_init();
    language_changed();
}

factory::~factory() {
    delete ui;
}

void factory::menulist_init() {
    focus.setItems({{ui->Box_lang_2, panel_style::kCombo},
                    {ui->Button_rst1, panel_style::kButton},
                    {ui->Button_rst2, panel_style::kButton},
                    {ui->Button_rst3, panel_style::kButton}},
                   kLanguage);
    const int lang = g_language;
    lcdlang_current = uint8_t(lang != kEnglish && enabled(lang) ? lang : kEnglish);
    lang_edit = 0;
    ui->Box_lang_2->setCurrentIndex(lcdlang_current);
}

void factory::language_changed() {
    ui->label_factory->setText(text(kTitle));
    setFittedText(ui->label_lang, text(kLanguageLabel));
    ui->label_rst->setText(text(kResetTitle));
    setFittedText(ui->label_ip, text(kKeepIpText));
    setFittedText(ui->label_edid, text(kKeepEdidText));
    setFittedText(ui->label_all, text(kResetAllText));
    for (QPushButton* b : {ui->Button_rst1, ui->Button_rst2, ui->Button_rst3})
        b->setText(text(kPressOk));
    showFontLines();
}

void factory::showFontLines() {
    const c331_manage* c = c331_manage::p_c331_manage;
    const uint32_t mask = c ? c->g_osd_font_mask.load() : 0;
    ui->FontCN->setText(fontLine(kFontCn, mask & 1, mask & 4));
    ui->FontEN->setText(fontLine(kFontEn, mask & 2, mask & 8));
}

// A language change (this row's, or a reset's) shows the language in force, and the row's
// choice follows it: OK, OK after a reset must not bring the earlier language back.
void factory::languageRefresh() {
    const int lang = g_language;
    if (lang >= 0 && lang < kLanguages) {
        if (focus.ui_select == kLanguage && lang_edit) setLanguageEdit(false);
        ui->Box_lang_2->setCurrentIndex(lang);
        lcdlang_current = uint8_t(lang);
    }
    language_changed();
}

void factory::setLanguageEdit(bool on) {
    lang_edit = on ? 1 : 0;
    panel_style::apply(ui->Box_lang_2, panel_style::kCombo,
                       on ? panel_style::kEdit : panel_style::kFocus);
}

void factory::on_Button_lang_clicked() {
    if (!lang_edit || lcdlang_current >= kLanguages ||
        lcdlang_current == store().rd8_locked(ZemRamPara::kRamLanguage))
        return;
    g_language = lcdlang_current;
    {
        zem::MutexLocker lock(c331_manage::c331_mutex);
        store().ram[ZemRamPara::kRamLanguage] = lcdlang_current;
        c331_manage::raise_apply(1);
    }
    language_changed();
}

void factory::lcdlang_current_checkplus() {
    const int c = lcdlang_current;
    if (c >= kLanguages || enabled(c)) return;
    for (int i = c + 1; i < kLanguages; ++i)
        if (enabled(i)) return void(lcdlang_current = uint8_t(i));
    if (c == 0) return;
    for (int i = 0; i < c; ++i)
        if (enabled(i)) return void(lcdlang_current = uint8_t(i));
}

void factory::lcdlang_current_checkmin() {
    const int c = lcdlang_current;
    if (c >= kLanguages) return;
    for (int i = c; i >= 0; --i)
        if (enabled(i)) return void(lcdlang_current = uint8_t(i));
    for (int i = kLanguages - 1; i > c; --i)
        if (enabled(i)) return void(lcdlang_current = uint8_t(i));
}

void factory::keyRight() {
    if (!lang_edit) return focus.move(+1);
    ++lcdlang_current;
    lcdlang_current_checkplus();
    if (lcdlang_current >= kLanguages) {
        lcdlang_current = 0;
        lcdlang_current_checkplus();
    }
    ui->Box_lang_2->setCurrentIndex(lcdlang_current);
}

void factory::keyLeft() {
    if (!lang_edit) return focus.move(-1);
    lcdlang_current = uint8_t(lcdlang_current == 0 ? kLanguages - 1 : lcdlang_current - 1);
    lcdlang_current_checkmin();
    ui->Box_lang_2->setCurrentIndex(lcdlang_current);
}

void factory::keyOk() {
    switch (focus.ui_select) {
        case kLanguage:
            if (!lang_edit) {
                // With no language enabled there is nothing to choose from: English stays.
                if (anyEnabled()) setLanguageEdit(true);
                return;
            }
            on_Button_lang_clicked();
            setLanguageEdit(false);
            return;
        case kKeepIp:
            lang_edit = 0;
            return on_Button_reset1_clicked();
        case kKeepIpEdid:
            lang_edit = 0;
            return on_Button_reset2_clicked();
        default:
            lang_edit = 0;
            return on_Button_reset3_clicked();
    }
}

void factory::resetParameters(bool keepEdid) {
    const bool fpga0 = fpga0Running();
    ZemRamPara& s = store();
    // RAM [from, to) from the defaults table, as a user's write: the words other threads write
    // back (the close-LED, the brightness) count as written.
    const auto defaults = [&s](int from, int to) REQUIRES(c331_manage::c331_mutex) {
        s.ZemRamParaDeal(default_para_ramlist.data() + (from - kDefaultsOffset),
                         uint16_t(to - from), uint32_t(from));
    };
    zem::MutexLocker lock(c331_manage::c331_mutex);
    if (keepEdid) {
        defaults(ZemRamPara::kPersistStart, kEdidStart);
        defaults(kEdidEnd, ZemRamPara::kRamSize);
    } else {
        defaults(ZemRamPara::kPersistStart, ZemRamPara::kRamSize);
    }
    for (int k = 0; k < kFadeEntries; ++k) {
        s.ram[ZemRamPara::kRamFade + 4 * k] = kFadeTime;
        s.ram[ZemRamPara::kRamFade + 4 * k + 2] = kFadeTime;
    }
    led_size::take_or_refuse(&s, "factory reset");
    led_size_handshake_locked(&s, fpga0, true);
    if (!keepEdid && raviksource::p_ravik_source)
        for (auto& flag : raviksource::p_ravik_source->edid_rewrite) flag = 1;
    c331_manage::raise_apply(1);
}

void factory::on_Button_reset1_clicked() {
    resetParameters(false);
}

void factory::on_Button_reset2_clicked() {
    resetParameters(true);
}

// The network first: any of the three off its default puts all three back.
void factory::on_Button_reset3_clicked() {
    if (Utils::configValue(&g_str_ip) != net_address::kDefaultIp ||
        Utils::configValue(&g_srt_mask) != net_address::kDefaultMask ||
        Utils::configValue(&g_str_gateway) != net_address::kDefaultGateway)
        net_address::store(net_address::kDefaultIp, net_address::kDefaultMask,
                           net_address::kDefaultGateway);
    resetParameters(false);
}

void factory::slot_Button_back_clicked() {
    panel::back(this);
}
