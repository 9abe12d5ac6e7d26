// The panel's pictures as data: one row per picture (name, size, what it shows, its words in
// the five languages). A row with words gives one file per language, named with the language
// prefix; a row without words gives one file with no prefix.
#pragma once

#include <QColor>
#include <QSize>

enum class Icon {
    Status,
    Input,
    Modes,
    Option,
    Lock,
    Unlock,
    Tools,
    Ip,
    Pointer,
    LedOff,
    LedOn,
    SoundOn,
    SoundOff,
    Call,
    Save,
    ModeSaved,
    ModeBlank,
    Check,
    Hdmi,
    Dvi,
    Ext,
    Connector,  // a video connector naming no input
    Delete,
    Dot,
    Led,
    Bright,
    Contrast,
    Menu,
    Current,
    Freeze,
    Warning,
    SpliceHorizontal,  // two outputs side by side
    SpliceVertical,    // one over the other
    SpliceCopy,        // both show the whole picture
    PatternFill,       // a test pattern: the whole tile in the accent colour
    PatternBars,
    PatternVLines,
    PatternHLines,
    Add,
    HintOk,
    HintBack,
    Bar,     // a section mark filling its box
    Mirror,  // a shape and its mirror image; the accent lit, grey unlit
    MirrorH,
    MirrorV,
    MirrorHV,
    PointerLeft,
    Update,
    Previous,
    Next,
    Switch,   // dimmed: off
    Routing,  // the cabling order named by the picture's number
};

// The language order of the panel: Simplified Chinese, English, Russian, Vietnamese,
// Traditional Chinese.
constexpr int kLanguages = 5;
extern const char* const kLanguagePrefix[kLanguages];

struct Picture {
    const char* name;
    QSize size;
    Icon icon;
    QColor accent;                  // the icon's colour
    const char* words[kLanguages];  // all null: a picture without words
    QSize wide_size = {};           // for Russian and Vietnamese when not empty
    QSize english_size = {};        // for English when not empty
    bool dimmed = false;            // drawn as "off" (inactive tool)
};

extern const Picture kPictures[];
extern const int kPictureCount;
