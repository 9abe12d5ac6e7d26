// The alias and OSD menu files: valid files, files that parse but lack something (kept),
// files that do not parse (deleted, only the file read) and hostile ones (no crash, nothing
// half-read).
#include "core/json_files.h"

#include <algorithm>

#include "store_fixture.h"

namespace {

const char* kAlias = "/data/configs/alias.json";
const char* kMenu = "/data/configs/omenu.json";

class JsonFilesTest : public StoreTest {
protected:
    bool ran(const std::string& cmd) const {
        const auto c = commands();
        return std::find(c.begin(), c.end(), cmd) != c.end();
    }
    int alias(const std::string& category, int id, ALIAS_PARA* out = nullptr) {
        ALIAS_PARA local;
        return get_json_alias_para(out ? out : &local, category, id);
    }
};

const char* kAliasFile = R"({
  "version": 2,
  "namelist": {
    "source": [
      {"id": 2, "valid": "on", "name": "Camera"},
      {"id": "3", "valid": "on", "name": "Laptop"},
      {"id": 4, "valid": "off", "name": "Hidden"},
      {"id": 5, "valid": "OFF", "name": "Shown"},
      {"id": 2, "valid": "on", "name": "Second"}
    ],
    "usermode": [ {"id": 0, "valid": "on", "name": ""} ],
    "win": []
  }
})";

TEST_F(JsonFilesTest, AliasLookups) {
    writeFile(kAlias, kAliasFile);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 1);
    EXPECT_EQ(a.name, "Camera") << "the first entry of an id wins";
    EXPECT_EQ(a.id, 2);
    EXPECT_EQ(a.valid, "on");
    EXPECT_EQ(alias("source", 3), 1) << "an id given as a string";
    EXPECT_EQ(get_json_alias_para(&a, "source", 4), 0);
    EXPECT_EQ(a.name, "Hidden") << "the record is filled also when the alias is off";
    EXPECT_EQ(alias("source", 5), 1) << "only \"off\" disables";
    EXPECT_EQ(get_json_alias_para(&a, "usermode", 0), 0);
    EXPECT_EQ(a.valid, "on");
    EXPECT_EQ(a.name, "");

    ALIAS_PARA mine;
    mine.id = 77;
    mine.name = "mine";
    EXPECT_EQ(get_json_alias_para(&mine, "win", 1), 0) << "empty category";
    EXPECT_EQ(get_json_alias_para(&mine, "crop", 1), 0) << "absent category";
    EXPECT_EQ(get_json_alias_para(&mine, "source", 9), 0) << "absent id";
    EXPECT_EQ(mine.id, 77);
    EXPECT_EQ(mine.name, "mine");
    EXPECT_TRUE(exists(kAlias));
    EXPECT_TRUE(commands().empty()) << "a good file is never deleted";
}

// The PC's upload takes JSON files up to this same size (comm/message_files.cpp).
TEST_F(JsonFilesTest, AnAliasFileUpToTheLimitIsReadOneByteMoreIsDeleted) {
    std::string text = kAliasFile;
    text.resize(kJsonFileMax, ' ');
    writeFile(kAlias, text);
    EXPECT_EQ(alias("source", 2), 1);
    writeFile(kAlias, text + " ");
    EXPECT_EQ(alias("source", 2), 0);
    EXPECT_FALSE(exists(kAlias));
}

TEST_F(JsonFilesTest, AMissingAliasFileIsNoAlias) {
    EXPECT_EQ(alias("source", 2), 0);
    EXPECT_TRUE(commands().empty());
}

// Only a file that does not parse is deleted; one that parses but lacks something is no alias
// (or, for an entry without an integer id, that entry is skipped).
TEST_F(JsonFilesTest, OnlyAnAliasFileThatDoesNotParseIsDeleted) {
    struct Case {
        const char* name;
        std::string text;
        int result;
        bool deleted;
    };
    const std::vector<Case> cases = {
        {"truncated", std::string(kAliasFile).substr(0, 120), 0, true},
        {"deep nesting", std::string(200000, '[') + std::string(200000, ']'), 0, true},
        {"binary", std::string("\0\xff\x01{\"", 5), 0, true},
        {"no namelist", R"({"names": {}})", 0, false},
        {"id not a number",
         R"({"namelist": {"source": [{"id": "two", "valid": "on", "name": "x"},
                                     {"id": 2, "valid": "on", "name": "kept"}]}})",
         1, false},
        {"id too large",
         R"({"namelist": {"source": [{"id": 99999999999, "valid": "on", "name": "x"},
                                     {"id": 2, "valid": "on", "name": "kept"}]}})",
         1, false},
        {"id an object",
         R"({"namelist": {"source": [{"valid": "on", "name": "x"}, {"id": {}, "name": "y"},
                                     {"id": 2, "valid": "on", "name": "kept"}]}})",
         1, false},
        {"no name", R"({"namelist": {"source": [{"id": 2, "valid": "on"}]}})", 0, false},
        {"name an object",
         R"({"namelist": {"source": [{"id": 2, "valid": "on", "name": {"a": 1}}]}})", 0, false},
        {"category an object", R"({"namelist": {"source": {"id": 2}}})", 0, false},
    };
    for (const auto& c : cases) {
        shell().clear();
        writeFile(kAlias, c.text);
        ALIAS_PARA a;
        a.name = "mine";
        EXPECT_EQ(get_json_alias_para(&a, "source", 2), c.result) << c.name;
        EXPECT_EQ(a.name, c.result ? "kept" : "mine") << c.name;
        EXPECT_EQ(ran("rm -rf /data/configs/alias.json"), c.deleted) << c.name;
        EXPECT_EQ(exists(kAlias), !c.deleted) << c.name;
    }
}

const char* kMenuFile = R"({
  "name": "subtitle",
  "osdcount": 2,
  "oactcount": "1",
  "menu": [
    {"type": 0, "status": "on",
     "pos": {"x": 10, "y": 20, "w": 640, "h": 64, "layer": "buttom"},
     "act": {"effect": 1, "speed": 3, "staytime": 5, "h_align": "center", "v_align": "bottom"},
     "backpara": {"enable": "off", "color": "00FF00"},
     "fontpara": {"startx": 1, "starty": 2, "fontw": 32, "fonth": 32, "wordspace": 0,
                  "verticalspace": 0, "color": "FF0000"},
     "texts": ["Hello\nWorld", "ignored"]},
    {"type": 0, "status": "off",
     "pos": {"x": 0, "y": 0, "w": 100, "h": 32},
     "act": {"effect": 0, "speed": 0, "staytime": 0},
     "backpara": {"enable": "on", "color": "000000"},
     "fontpara": {"startx": 0, "starty": 0, "fontw": 64, "fonth": 64, "wordspace": 0,
                  "verticalspace": 0, "color": "FFFFFF"},
     "texts": ["Two"]},
    {"type": 1, "status": "on", "pos": {"x": 5, "y": 6, "w": 7, "h": 8},
     "act": {"effect": 2, "speed": 1, "staytime": 0}, "bmppara": {}, "start": 100, "end": 200},
    {"type": 7, "status": "on"},
    {"type": 7, "status": "on"}
  ]
})";

TEST_F(JsonFilesTest, AMenuFileIsReadIntoItsFirstThreeItems) {
    writeFile(kMenu, kMenuFile);
    OSD_LIST list;
    get_json_omenu_para(kMenu, &list);
    EXPECT_EQ(list.osdcount, 2);
    EXPECT_EQ(list.oactcount, 1);
    const OMENU_PARA& a = list.menu[0];
    EXPECT_EQ(a.status, "on");
    EXPECT_EQ(a.w, 640);
    EXPECT_EQ(a.layer, "buttom");
    EXPECT_EQ(a.h_align, "center");
    EXPECT_EQ(a.v_align, "bottom");
    EXPECT_EQ(a.enable, "off");
    EXPECT_EQ(a.color, "00FF00");
    EXPECT_EQ(a.font_color, "FF0000");
    EXPECT_EQ(a.fontw, 32);
    EXPECT_EQ(a.texts, "Hello\nWorld");
    const OMENU_PARA& b = list.menu[1];
    EXPECT_EQ(b.h_align, "left") << "default";
    EXPECT_EQ(b.v_align, "top");
    EXPECT_EQ(b.layer, "");
    EXPECT_EQ(list.menu[2].type, 1);
    EXPECT_EQ(list.menu[2].start, 100);
    EXPECT_EQ(list.menu[2].end, 200);
    EXPECT_EQ(list.menu[2].x, 5);
    EXPECT_TRUE(commands().empty());
}

TEST_F(JsonFilesTest, ABitmapItemKeepsTheTextFieldsOfTheLastRead) {
    writeFile(kMenu, kMenuFile);
    OSD_LIST list;
    get_json_omenu_para(kMenu, &list);
    std::string swapped = kMenuFile;
    const auto bitmap = swapped.find("{\"type\": 1");
    const auto first = swapped.find("{\"type\": 0");
    // The bitmap item takes slot 1 in the second read.
    const std::string bitmapItem =
        swapped.substr(bitmap, swapped.find('}', swapped.find("\"end\"", bitmap)) + 1 - bitmap);
    swapped = swapped.substr(0, first) + bitmapItem + "]}";
    writeFile(kMenu, swapped);
    get_json_omenu_para(kMenu, &list);
    ASSERT_EQ(list.osdcount, 2);
    EXPECT_EQ(list.menu[0].type, 1);
    EXPECT_EQ(list.menu[0].x, 5);
    EXPECT_EQ(list.menu[0].h_align, "center");
    EXPECT_EQ(list.menu[0].texts, "Hello\nWorld");
    EXPECT_EQ(list.menu[0].font_color, "FF0000");
}

TEST_F(JsonFilesTest, ACountOfZeroOrAMissingFileShowsNothing) {
    writeFile(kMenu, kMenuFile);
    OSD_LIST list;
    get_json_omenu_para(kMenu, &list);
    std::string zero = kMenuFile;
    zero.replace(zero.find("\"osdcount\": 2"), 13, "\"osdcount\": 0");
    writeFile(kMenu, zero);
    get_json_omenu_para(kMenu, &list);
    EXPECT_EQ(list.osdcount, 0);
    EXPECT_EQ(list.menu[0].texts, "Hello\nWorld") << "the OSD is left as it was";

    get_json_omenu_para("/data/configs/none.json", &list);
    EXPECT_EQ(list.osdcount, 0);
    EXPECT_TRUE(commands().empty());
}

// Only a menu that does not parse is deleted. One that parses but lacks a field shows no OSD
// and leaves the last menu as it was; a count with no items is read as far as it goes.
TEST_F(JsonFilesTest, OnlyAMenuThatDoesNotParseIsDeleted) {
    std::string emptyTexts = kMenuFile;
    emptyTexts.replace(emptyTexts.find("[\"Two\"]"), 7, "[]");
    std::string noFont = kMenuFile;
    noFont.replace(noFont.find("\"fontpara\""), 10, "\"fontparb\"");
    std::string badInt = kMenuFile;
    badInt.replace(badInt.find("\"w\": 640"), 8, "\"w\": 6.5");
    struct Case {
        const char* name;
        std::string text;
        int osdcount;
        bool deleted;
    };
    const std::vector<Case> cases = {
        {"truncated", std::string(kMenuFile).substr(0, 300), 0, true},
        {"deep nesting", "{\"menu\":" + std::string(100000, '['), 0, true},
        {"empty texts in item 2", emptyTexts, 0, false},
        {"no fontpara", noFont, 0, false},
        {"not an integer", badInt, 0, false},
        {"no name", R"({"osdcount": 0, "oactcount": 0})", 0, false},
        {"no menu", R"({"name": "x", "osdcount": 1, "oactcount": 0})", 1, false},
        {"empty menu", R"({"name": "x", "osdcount": 1, "oactcount": 0, "menu": []})", 1, false},
    };
    for (const auto& c : cases) {
        writeFile(kMenu, kMenuFile);
        OSD_LIST list;
        get_json_omenu_para(kMenu, &list);
        shell().clear();
        writeFile(kMenu, c.text);
        list.osdcount = 5;
        get_json_omenu_para(kMenu, &list);
        EXPECT_EQ(list.osdcount, c.osdcount) << c.name;
        EXPECT_EQ(list.menu[0].w, 640) << c.name << ": nothing half-read";
        EXPECT_EQ(list.menu[1].texts, "Two") << c.name;
        EXPECT_EQ(ran("rm -rf /data/configs/omenu.json"), c.deleted) << c.name;
        EXPECT_EQ(exists(kMenu), !c.deleted) << c.name;
    }
}

TEST_F(JsonFilesTest, ABrokenModeCopyDeletesThatCopyOnly) {
    writeFile(kMenu, kMenuFile);
    writeFile("/data/modes/MO03.json", "{\"name\": ");
    OSD_LIST list;
    get_json_omenu_para("/data/modes/MO03.json", &list);
    EXPECT_EQ(list.osdcount, 0);
    EXPECT_TRUE(ran("rm -rf /data/modes/MO03.json"));
    EXPECT_FALSE(exists("/data/modes/MO03.json"));
    EXPECT_TRUE(exists(kMenu));
}

}  // namespace
