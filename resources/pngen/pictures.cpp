#include "pictures.h"

const char* const kLanguagePrefix[kLanguages] = {"", "en_", "ru_", "vn_", "tn_"};

namespace {

const QColor kWhite(255, 255, 255);
const QColor kOrange(255, 171, 84);
const QColor kBlue(0x47, 0x77, 0xFF);
const QColor kGreen(0x51, 0xBB, 0x28);
const QColor kGrey(150, 152, 160);
const QColor kRed(230, 70, 60);

}  // namespace

// clang-format off
const Picture kPictures[] = {
    // The main menu's four big buttons.
    {"machinestate", {64, 64}, Icon::Status, kBlue,
     {"设备状态", "Status", "Состояние", "Trạng thái", "設備狀態"}},
    {"inputchoose", {64, 64}, Icon::Input, kGreen,
     {"信号切换", "Source switch", "Выбор источника", "Chọn nguồn vào", "信號切換"},
     {96, 76}, {90, 64}},
    {"custommode", {64, 64}, Icon::Modes, kOrange,
     {"用户模式", "User mode", "Режимы", "Chế độ", "用戶模式"}},
    {"option", {64, 64}, Icon::Option, kWhite,
     {"设置", "Options", "Настройки", "Cài đặt", "設置"}},
    // Small pictures without words.
    {"lock", {16, 16}, Icon::Lock, kOrange, {}},
    {"unlock", {16, 16}, Icon::Unlock, kWhite, {}},
    {"tools", {16, 16}, Icon::Tools, kWhite, {}},
    {"ip", {16, 16}, Icon::Ip, kBlue, {}},
    {"pointer", {9, 12}, Icon::Pointer, kOrange, {}},
    {"mode_exist", {16, 16}, Icon::ModeSaved, kGreen, {}},
    {"mode_blank", {16, 16}, Icon::ModeBlank, kWhite, {}},
    {"check_180", {180, 180}, Icon::Check, kGreen, {}},
    // The tools bar.
    {"closeled", {24, 36}, Icon::LedOff, kRed, {}},
    {"uncloseled", {24, 36}, Icon::LedOn, kWhite, {}},
    {"slience", {24, 36}, Icon::SoundOff, kRed, {}},
    {"unslience", {24, 36}, Icon::SoundOn, kWhite, {}},
    {"call", {24, 36}, Icon::Call, kOrange, {"调用", "CALL", "ЗАГР", "GỌI", "調用"}},
    {"uncall", {24, 36}, Icon::Call, kWhite, {"调用", "CALL", "ЗАГР", "GỌI", "調用"}},
    {"save", {24, 36}, Icon::Save, kOrange, {"保存", "SAVE", "СОХР", "LƯU", "保存"}},
    {"unsave", {24, 36}, Icon::Save, kWhite, {"保存", "SAVE", "СОХР", "LƯU", "保存"}},
    // The inputs: offline, online ("lv") and the no-signal variant ("_1").
    // The one picture of the crop editor and the EDID page for EXT and the four HDMI inputs.
    {"HDMI", {40, 24}, Icon::Connector, kGrey, {}},
    {"DVI", {40, 24}, Icon::Dvi, kGrey, {}},
    {"HDMI13", {40, 24}, Icon::Hdmi, kGrey, {}},
    {"HDMI13_1", {40, 24}, Icon::Hdmi, kGrey, {}, {}, {}, true},
    {"HDMI20", {40, 24}, Icon::Hdmi, kBlue, {}},
    {"extlv", {40, 24}, Icon::Ext, kGreen, {}},
    {"dvilv", {40, 24}, Icon::Dvi, kGreen, {}},
    {"HDMI13_lv", {40, 24}, Icon::Hdmi, kGreen, {}},
    {"HDMI20_lv", {40, 24}, Icon::Hdmi, kGreen, {}},
    // The number keypad, the source page and the home screen.
    {"delete", {20, 20}, Icon::Delete, QColor(40, 44, 60), {}},
    {"state_on", {7, 7}, Icon::Dot, kGreen, {}},
    {"state_off", {7, 7}, Icon::Dot, kGrey, {}},
    {"LED", {16, 16}, Icon::Led, kBlue, {}},
    {"bright", {16, 16}, Icon::Bright, kOrange, {}},
    {"contrast", {16, 16}, Icon::Contrast, kWhite, {}},
    {"volume_open", {16, 16}, Icon::SoundOn, kGreen, {}},
    {"volume_close", {16, 16}, Icon::SoundOff, kRed, {}},
    {"menu_status", {20, 20}, Icon::Menu, kWhite, {}},
    {"osd_yes", {12, 12}, Icon::Current, kGreen, {}},
    {"freeze", {16, 16}, Icon::Freeze, QColor(120, 200, 255), {}},
    // The LED set-up page: the warning and the three splice modes.
    {"warning", {16, 16}, Icon::Warning, QColor(255, 200, 40), {}},
    {"out_horizontal", {70, 20}, Icon::SpliceHorizontal, kBlue, {}},
    {"out_vertical", {70, 20}, Icon::SpliceVertical, kBlue, {}},
    {"out_copy", {70, 20}, Icon::SpliceCopy, kBlue, {}},
    // The test pattern tiles.
    {"img_test1", {50, 50}, Icon::PatternFill, QColor(255, 0, 0), {}},
    {"img_test2", {50, 50}, Icon::PatternFill, QColor(0, 255, 0), {}},
    {"img_test3", {50, 50}, Icon::PatternFill, QColor(0, 0, 255), {}},
    {"img_test4", {50, 50}, Icon::PatternFill, kWhite, {}},
    {"img_test5", {50, 50}, Icon::PatternFill, QColor(0, 0, 0), {}},
    {"img_test6", {50, 50}, Icon::PatternBars, kWhite, {}},
    {"img_test7", {50, 50}, Icon::PatternVLines, kWhite, {}},
    {"img_test8", {50, 50}, Icon::PatternHLines, kWhite, {}},
    // The options menu (English sizes as its icons are set), the crop editor and the hints.
    {"output_set", {55, 60}, Icon::Led, kBlue, {"输出设置", "Output", "Выход", "Đầu ra", "輸出設置"}, {55, 60}, {75, 60}},
    {"input_cut", {55, 60}, Icon::Input, kGreen, {"输入截取", "Crop", "Обрезка", "Cắt", "輸入截取"}, {70, 60}, {70, 60}},
    {"image_layout", {55, 60}, Icon::Modes, kOrange, {"画面布局", "Layout", "Окна", "Bố cục", "畫面佈局"}, {55, 60}, {70, 60}},
    {"link_set", {55, 60}, Icon::Ip, kBlue, {"通讯设置", "Link", "Связь", "Kết nối", "通訊設置"}, {70, 60}, {70, 60}},
    {"image_quality", {55, 60}, Icon::Bright, kOrange, {"图像效果", "Picture", "Картинка", "Hình ảnh", "圖像效果"}, {55, 60}, {75, 60}},
    {"test_chart", {55, 60}, Icon::Status, kWhite, {"测试画面", "Test", "Тест", "Kiểm tra", "測試畫面"}},
    {"smart_mapping", {55, 60}, Icon::Menu, kGreen, {"智能走线", "Mapping", "Карта", "Ánh xạ", "智能走線"}},
    {"AdvanceButton", {55, 60}, Icon::Tools, kWhite, {"高级设置", "Advanced", "Дополн.", "Nâng cao", "高級設置"}, {70, 60}, {54, 60}},
    {"advance_option", {54, 60}, Icon::Tools, kWhite, {"高级设置", "Advanced", "Дополн.", "Nâng cao", "高級設置"}},
    {"add", {20, 20}, Icon::Add, kOrange, {}},
    {"OK_Enter", {51, 17}, Icon::HintOk, kOrange, {}},
    {"back_return", {56, 17}, Icon::HintBack, kWhite, {}},
    // The status page: its three section marks and the output ports' links.
    {"output_state", {15, 65}, Icon::Bar, kOrange, {}},
    {"input_state", {15, 55}, Icon::Bar, kGreen, {}},
    {"version_state", {15, 40}, Icon::Bar, kBlue, {}},
    {"online", {16, 14}, Icon::Dot, kGreen, {}},
    {"offline", {16, 14}, Icon::Dot, kGrey, {}},
    // The window layout page's mirror modes: none, horizontal, vertical, both.
    {"mirror1_on", {32, 32}, Icon::Mirror, kOrange, {}},
    {"mirror2_on", {32, 32}, Icon::MirrorH, kOrange, {}},
    {"mirror3_on", {32, 32}, Icon::MirrorV, kOrange, {}},
    {"mirror4_on", {32, 32}, Icon::MirrorHV, kOrange, {}},
    {"mirror1_off", {32, 32}, Icon::Mirror, kGrey, {}},
    {"mirror2_off", {32, 32}, Icon::MirrorH, kGrey, {}},
    {"mirror3_off", {32, 32}, Icon::MirrorV, kGrey, {}},
    {"mirror4_off", {32, 32}, Icon::MirrorHV, kGrey, {}},
    // The output ports page: the row's scroll arrows and the ports' links.
    {"ltri", {14, 14}, Icon::PointerLeft, kOrange, {}},
    {"rtri", {14, 14}, Icon::Pointer, kOrange, {}},
    {"online_up", {12, 10}, Icon::Dot, kGreen, {}},
    {"offline_up", {12, 10}, Icon::Dot, kGrey, {}},
    // The upgrade overlay and the paging arrows of the file lists.
    {"update", {64, 64}, Icon::Update, kBlue, {}},
    {"previous", {20, 20}, Icon::Previous, kWhite, {}},
    {"next", {20, 20}, Icon::Next, kWhite, {}},
    // The smart-mapping wizard: the list's paging, the mapping switch, routings.
    {"button_on", {40, 20}, Icon::Switch, kGreen, {}},
    {"button_off", {40, 20}, Icon::Switch, kGreen, {}, {}, {}, true},
    {"line1", {40, 25}, Icon::Routing, kOrange, {}},
    {"line2", {40, 25}, Icon::Routing, kOrange, {}},
    {"line3", {40, 25}, Icon::Routing, kOrange, {}},
    {"line4", {40, 25}, Icon::Routing, kOrange, {}},
    {"line5", {40, 25}, Icon::Routing, kOrange, {}},
    {"line6", {40, 25}, Icon::Routing, kOrange, {}},
    {"line7", {40, 25}, Icon::Routing, kOrange, {}},
    {"line8", {40, 25}, Icon::Routing, kOrange, {}},
    {"line9", {40, 25}, Icon::Routing, kOrange, {}},
    {"line10", {40, 25}, Icon::Routing, kOrange, {}},
    {"line11", {40, 25}, Icon::Routing, kOrange, {}},
    {"line12", {40, 25}, Icon::Routing, kOrange, {}},
    {"line13", {40, 25}, Icon::Routing, kOrange, {}},
    {"line14", {40, 25}, Icon::Routing, kOrange, {}},
    {"line15", {40, 25}, Icon::Routing, kOrange, {}},
    {"line16", {40, 25}, Icon::Routing, kOrange, {}},
};
// clang-format on

const int kPictureCount = int(sizeof kPictures / sizeof kPictures[0]);
