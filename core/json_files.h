// The two JSON files the PC sends: the alias file "/data/configs/alias.json" (names the user
// gave to sources, user modes, windows and crops) and the OSD menu file
// "/data/configs/omenu.json" (with its per-mode copies "/data/modes/MO<hh>.json").
#pragma once

#include <cstdint>
#include <string>

// A JSON file larger than this is not read (the PC's menu and alias files are far smaller).
constexpr uint32_t kJsonFileMax = 1 << 20;

struct ALIAS_PARA {
    int32_t id = 0;
    std::string valid;  // "off" disables the alias
    std::string name;
};

struct OMENU_PARA {
    int32_t type = 0;  // 0 text item, 1 bitmap item
    std::string status;
    int32_t x = 0, y = 0, w = 0, h = 0;
    int32_t effect = 0, speed = 0, staytime = 0;
    std::string h_align;
    std::string v_align;
    std::string enable;  // background: "off" is transparent
    std::string color;   // background colour, hexadecimal RRGGBB
    std::string layer;   // "buttom" puts the OSD on the bottom layer
    int32_t startx = 0, starty = 0, fontw = 0, fonth = 0, wordspace = 0, verticalspace = 0;
    std::string font_color;  // hexadecimal RRGGBB
    std::string texts;       // the whole OSD text, lines separated by "\n"
    int32_t start = 0, end = 0;
};

struct OSD_LIST {
    int32_t osdcount = 0;
    int32_t oactcount = 0;
    OMENU_PARA menu[3];
};

// The OSD menu the video-processor thread applies; read and written by that thread only.
extern OSD_LIST g_osd_list;

// Looks up the alias of thing id in category ("source", "usermode", "win", "crop"). 1 when an
// entry was found that is not "off" and has a name; 0 otherwise. The record is written only
// when an entry with that id was found. A file that does not parse or lacks what a lookup
// needs is deleted (the pages then show their built-in names).
int get_json_alias_para(ALIAS_PARA* para, std::string category, int id);

// Reads the OSD menu file at the program path into list. On return osdcount is 0 when there is
// nothing to show; the rest of list changes only when the whole file was read. A file that
// does not parse or lacks a required member is deleted.
void get_json_omenu_para(const char* path, OSD_LIST* list);
