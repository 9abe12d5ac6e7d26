// The names of the panel's pictures, as the picture generator draws them. picture() and
// pictureOf() take only these, so a page cannot name a picture that is not drawn; the picture
// test loads each one in each language.
#pragma once

struct PictureName {
    const char* name;
};

namespace pic {
// With words: one file per language.
constexpr PictureName kMachineState{"machinestate"};
constexpr PictureName kInputChoose{"inputchoose"};
constexpr PictureName kCustomMode{"custommode"};
constexpr PictureName kOption{"option"};
constexpr PictureName kCall{"call"};
constexpr PictureName kUncall{"uncall"};
constexpr PictureName kSave{"save"};
constexpr PictureName kUnsave{"unsave"};
// The options menu; the English advanced entry has a name of its own.
constexpr PictureName kOutputSet{"output_set"};
constexpr PictureName kInputCut{"input_cut"};
constexpr PictureName kImageLayout{"image_layout"};
constexpr PictureName kLinkSet{"link_set"};
constexpr PictureName kImageQuality{"image_quality"};
constexpr PictureName kTestChart{"test_chart"};
constexpr PictureName kSmartMapping{"smart_mapping"};
constexpr PictureName kAdvanceButton{"AdvanceButton"};
constexpr PictureName kAdvanceOption{"advance_option"};
constexpr PictureName kWorded[] = {
    kMachineState, kInputChoose, kCustomMode,   kOption,        kCall,         kUncall,
    kSave,         kUnsave,      kOutputSet,    kInputCut,      kImageLayout,  kLinkSet,
    kImageQuality, kTestChart,   kSmartMapping, kAdvanceButton, kAdvanceOption};

// Without words: one file.
constexpr PictureName kLed{"LED"};
constexpr PictureName kBright{"bright"};
constexpr PictureName kCheck{"check_180"};
constexpr PictureName kContrast{"contrast"};
constexpr PictureName kDelete{"delete"};
constexpr PictureName kFreeze{"freeze"};
constexpr PictureName kIp{"ip"};
constexpr PictureName kMenuStatus{"menu_status"};
constexpr PictureName kOsdYes{"osd_yes"};
constexpr PictureName kPointer{"pointer"};
constexpr PictureName kStateOn{"state_on"};
constexpr PictureName kStateOff{"state_off"};
constexpr PictureName kTools{"tools"};
constexpr PictureName kLock{"lock"};
constexpr PictureName kUnlock{"unlock"};
constexpr PictureName kCloseLed{"closeled"};
constexpr PictureName kUncloseLed{"uncloseled"};
constexpr PictureName kSilence{"slience"};
constexpr PictureName kUnsilence{"unslience"};
constexpr PictureName kModeExist{"mode_exist"};
constexpr PictureName kModeBlank{"mode_blank"};
constexpr PictureName kVolumeOpen{"volume_open"};
constexpr PictureName kVolumeClose{"volume_close"};
constexpr PictureName kUpdate{"update"};
constexpr PictureName kPrevious{"previous"};
constexpr PictureName kNext{"next"};
constexpr PictureName kAdd{"add"};
constexpr PictureName kOkEnter{"OK_Enter"};
constexpr PictureName kBackReturn{"back_return"};
constexpr PictureName kOutputState{"output_state"};
constexpr PictureName kInputState{"input_state"};
constexpr PictureName kVersionState{"version_state"};
constexpr PictureName kOnline{"online"};
constexpr PictureName kOffline{"offline"};
constexpr PictureName kMirrorOn[4] = {
    {"mirror1_on"}, {"mirror2_on"}, {"mirror3_on"}, {"mirror4_on"}};
constexpr PictureName kMirrorOff[4] = {
    {"mirror1_off"}, {"mirror2_off"}, {"mirror3_off"}, {"mirror4_off"}};
constexpr PictureName kPlain[] = {
    kLed,          kBright,       kCheck,        kContrast,    kDelete,       kFreeze,
    kIp,           kMenuStatus,   kOsdYes,       kPointer,     kStateOn,      kStateOff,
    kTools,        kLock,         kUnlock,       kCloseLed,    kUncloseLed,   kSilence,
    kUnsilence,    kModeExist,    kModeBlank,    kVolumeOpen,  kVolumeClose,  kAdd,
    kOkEnter,      kBackReturn,   kOutputState,  kInputState,  kVersionState, kOnline,
    kOffline,      kMirrorOn[0],  kMirrorOn[1],  kMirrorOn[2], kMirrorOn[3],  kMirrorOff[0],
    kMirrorOff[1], kMirrorOff[2], kMirrorOff[3], kUpdate,      kPrevious,     kNext};
// The LED set-up page's warning and splice modes (in its combo's order), and the test pattern
// tiles 1..8: without words.
constexpr PictureName kWarning{"warning"};
constexpr PictureName kSplice[] = {{"out_horizontal"}, {"out_vertical"}, {"out_copy"}};
constexpr PictureName kTestPattern[] = {{"img_test1"}, {"img_test2"}, {"img_test3"}, {"img_test4"},
                                        {"img_test5"}, {"img_test6"}, {"img_test7"}, {"img_test8"}};
// The output ports page's scroll arrows and port links: without words.
constexpr PictureName kLeftArrow{"ltri"};
constexpr PictureName kRightArrow{"rtri"};
constexpr PictureName kPortOnline{"online_up"};
constexpr PictureName kPortOffline{"offline_up"};
constexpr PictureName kPortsPage[] = {kLeftArrow, kRightArrow, kPortOnline, kPortOffline};
// The smart-mapping wizard: the mapping switch and the 16 routings (its paging arrows are the
// lists' kPrevious and kNext).
constexpr PictureName kButtonOn{"button_on"};
constexpr PictureName kButtonOff{"button_off"};
constexpr PictureName kRouting[] = {
    {"line1"}, {"line2"},  {"line3"},  {"line4"},  {"line5"},  {"line6"},  {"line7"},  {"line8"},
    {"line9"}, {"line10"}, {"line11"}, {"line12"}, {"line13"}, {"line14"}, {"line15"}, {"line16"}};
}  // namespace pic
