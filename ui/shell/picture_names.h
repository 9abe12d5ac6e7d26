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
constexpr PictureName kWorded[] = {kMachineState, kInputChoose, kCustomMode, kOption,
                                   kCall,         kUncall,      kSave,       kUnsave};

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
constexpr PictureName kPlain[] = {kLed,       kBright,     kCheck,      kContrast,  kDelete,
                                  kFreeze,    kIp,         kMenuStatus, kOsdYes,    kPointer,
                                  kStateOn,   kStateOff,   kTools,      kLock,      kUnlock,
                                  kCloseLed,  kUncloseLed, kSilence,    kUnsilence, kModeExist,
                                  kModeBlank, kVolumeOpen, kVolumeClose};
// The LED set-up page's warning and splice modes (in its combo's order), and the test pattern
// tiles 1..8: without words.
constexpr PictureName kWarning{"warning"};
constexpr PictureName kSplice[] = {{"out_horizontal"}, {"out_vertical"}, {"out_copy"}};
constexpr PictureName kTestPattern[] = {{"img_test1"}, {"img_test2"}, {"img_test3"}, {"img_test4"},
                                        {"img_test5"}, {"img_test6"}, {"img_test7"}, {"img_test8"}};
}  // namespace pic
