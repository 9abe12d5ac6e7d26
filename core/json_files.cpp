#include "core/json_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
// Boost's JSON parser includes the old <boost/bind.hpp> and uses its placeholders unqualified:
// ask for them in the global namespace, as it needs, instead of getting the deprecation note.
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "core/globals.h"
#include "core/utils.h"
#include "platform/box.h"
#include "platform/own_files.h"

OSD_LIST g_osd_list;

namespace {

namespace pt = boost::property_tree;

constexpr int kMaxDepth = 32;  // the parser recurses once per level

// The file as read, and which file it was, so a delete never hits a newer one.
struct JsonFile {
    std::string text;
    dev_t dev = 0;
    ino_t ino = 0;
};

// 1 read, 0 no such file (or not readable, or a link on the simulated root: instead then ends
// the line that says so), -1 unusable (too big).
int readJson(const std::string& absPath, JsonFile& out, const char* instead) {
    const std::string local = platform::path(absPath);
    if (!platform::mayRead(local, instead)) return 0;
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return 0;
    }
    out.dev = st.st_dev;
    out.ino = st.st_ino;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 && out.text.size() <= kJsonFileMax)
        out.text.append(buf, size_t(n));
    ::close(fd);
    return out.text.size() > kJsonFileMax ? -1 : 1;
}

// Nesting beyond any real file would only exhaust the stack of the recursive parser.
bool shallow(const std::string& text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxDepth) return false;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return true;
}

// Deletes the broken file, but only while the path still names the file that was read.
void dropBroken(const std::string& absPath, const JsonFile& f, const char* why) {
    ZEM_DEBUG("json error: %s\n", why);
    struct stat st;
    if (::stat(platform::path(absPath).c_str(), &st) != 0 || st.st_dev != f.dev ||
        st.st_ino != f.ino)
        return;
    Utils::system_mutex(QString::fromStdString("rm -rf " + absPath));
}

// Parses the whole text; false with the parser's message in why.
bool parse(const JsonFile& f, pt::ptree& tree, std::string& why) {
    if (!shallow(f.text)) {
        why = "nested too deeply";
        return false;
    }
    try {
        std::istringstream in(f.text);
        pt::read_json(in, tree);
        return true;
    } catch (const pt::ptree_error& e) {
        why = e.what();
    } catch (const std::exception& e) {
        why = e.what();
    }
    return false;
}

bool scalar(const pt::ptree& node) {
    return node.empty();
}

bool isArray(const pt::ptree& node) {
    for (const auto& child : node)
        if (!child.first.empty()) return false;
    return node.data().empty();
}

// A decimal 32-bit integer, given as a JSON number or a string holding one.
bool toInt(const pt::ptree& node, int32_t& out) {
    if (!scalar(node)) return false;
    const std::string& s = node.data();
    if (s.empty() || s.size() > 12) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
    out = int32_t(v);
    return true;
}

bool getInt(const pt::ptree& node, const char* key, int32_t& out) {
    const auto child = node.get_child_optional(pt::ptree::path_type(key, '\0'));
    return child && toInt(*child, out);
}

bool getText(const pt::ptree& node, const char* key, std::string& out) {
    const auto child = node.get_child_optional(pt::ptree::path_type(key, '\0'));
    if (!child || !scalar(*child)) return false;
    out = child->data();
    return true;
}

// An optional text member: absent leaves out alone, present must be text.
bool getOptionalText(const pt::ptree& node, const char* key, std::string& out) {
    return !node.get_child_optional(pt::ptree::path_type(key, '\0')) || getText(node, key, out);
}

const pt::ptree* getObject(const pt::ptree& node, const char* key) {
    const auto child = node.get_child_optional(pt::ptree::path_type(key, '\0'));
    return child ? &*child : nullptr;
}

// The entry of id in the category arrays of "namelist": true when found with its valid and
// name. Entries without an integer id, and categories that are no list, are passed over.
bool findAlias(const pt::ptree& tree, const std::string& category, int id, ALIAS_PARA& out) {
    const pt::ptree* names = getObject(tree, "namelist");
    if (!names) return false;
    for (const auto& member : *names) {
        if (member.first != category || !isArray(member.second)) continue;
        for (const auto& entry : member.second) {
            int32_t eid;
            if (!getInt(entry.second, "id", eid) || eid != id) continue;
            out.id = eid;
            return getText(entry.second, "valid", out.valid) &&
                   getText(entry.second, "name", out.name);
        }
    }
    return false;
}

bool readArea(const pt::ptree& item, OMENU_PARA& m) {
    const pt::ptree* pos = getObject(item, "pos");
    return pos && getInt(*pos, "x", m.x) && getInt(*pos, "y", m.y) && getInt(*pos, "w", m.w) &&
           getInt(*pos, "h", m.h);
}

bool readMotion(const pt::ptree& item, OMENU_PARA& m) {
    const pt::ptree* act = getObject(item, "act");
    return act && getInt(*act, "effect", m.effect) && getInt(*act, "speed", m.speed) &&
           getInt(*act, "staytime", m.staytime);
}

void traceAlign(const pt::ptree& act, const char* key, const std::string& value) {
    if (act.get_child_optional(key)) {
        ZEM_DEBUG("\n find %s = %s\n", key, value.c_str());
    } else {
        ZEM_DEBUG("\n not find %s n", key);
    }
}

bool readTextItem(const pt::ptree& item, OMENU_PARA& m) {
    m.layer.clear();
    m.h_align = "left";
    m.v_align = "top";
    const pt::ptree* pos = getObject(item, "pos");
    const pt::ptree* act = getObject(item, "act");
    const pt::ptree* back = getObject(item, "backpara");
    const pt::ptree* font = getObject(item, "fontpara");
    const pt::ptree* texts = getObject(item, "texts");
    if (!readArea(item, m) || !getOptionalText(*pos, "layer", m.layer)) return false;
    if (!readMotion(item, m) || !getOptionalText(*act, "h_align", m.h_align) ||
        !getOptionalText(*act, "v_align", m.v_align))
        return false;
    traceAlign(*act, "h_align", m.h_align);
    traceAlign(*act, "v_align", m.v_align);
    if (!back || !getText(*back, "enable", m.enable) || !getText(*back, "color", m.color))
        return false;
    if (!font || !getInt(*font, "startx", m.startx) || !getInt(*font, "starty", m.starty) ||
        !getInt(*font, "fontw", m.fontw) || !getInt(*font, "fonth", m.fonth) ||
        !getInt(*font, "wordspace", m.wordspace) ||
        !getInt(*font, "verticalspace", m.verticalspace) || !getText(*font, "color", m.font_color))
        return false;
    if (!texts || !isArray(*texts) || texts->empty() || !scalar(texts->front().second))
        return false;
    m.texts = texts->front().second.data();
    return true;
}

bool readBitmapItem(const pt::ptree& item, OMENU_PARA& m) {
    return readArea(item, m) && readMotion(item, m) && getObject(item, "bmppara") &&
           getInt(item, "start", m.start) && getInt(item, "end", m.end);
}

bool readItem(const pt::ptree& item, OMENU_PARA& m) {
    if (!getInt(item, "type", m.type) || !getText(item, "status", m.status)) return false;
    if (m.type == 0) return readTextItem(item, m);
    if (m.type == 1) return readBitmapItem(item, m);
    return true;
}

void traceItem(int n, const OMENU_PARA& m) {
    ZEM_DEBUG("\n *************************osd%d start******************************** ", n);
    ZEM_DEBUG("  type: %d , status: %s \n", m.type, m.status.c_str());
    ZEM_DEBUG("  pos_x: %d , pos_y: %d , pos_w: %d , pos_h: %d \n", m.x, m.y, m.w, m.h);
    ZEM_DEBUG("  effect: %d , speed: %d , staytime: %d \n", m.effect, m.speed, m.staytime);
    ZEM_DEBUG("  backpara_enable: %s , backpara_color: %s ,backpara_layer:%s\n", m.enable.c_str(),
              m.color.c_str(), m.layer.c_str());
    ZEM_DEBUG("  startx: %d , starty: %d , fontw: %d , fonth: %d \n", m.startx, m.starty, m.fontw,
              m.fonth);
    ZEM_DEBUG("  wordspace: %d , verticalspace: %d , font_color: %s \n", m.wordspace,
              m.verticalspace, m.font_color.c_str());
    ZEM_DEBUG("  texts: %s \n", m.texts.c_str());
    ZEM_DEBUG("\n *************************osd%d over******************************** ", n);
}

// Reads the whole menu into list (a copy); false with the reason when something is missing.
bool readMenu(const pt::ptree& tree, const char* path, OSD_LIST& list, std::string& why) {
    std::string name;
    if (!getText(tree, "name", name) || !getInt(tree, "osdcount", list.osdcount) ||
        !getInt(tree, "oactcount", list.oactcount) || list.osdcount < 0) {
        why = "bad name, osdcount or oactcount";
        return false;
    }
    ZEM_DEBUG("\n *************************START OSDS******************************** ");
    ZEM_DEBUG(" \n file_name: %s , osdcount: %d , oactcount: %d\n", path, list.osdcount,
              list.oactcount);
    if (list.osdcount == 0) return true;
    // The items are read while they exist: a count without a menu leaves them as they were.
    const pt::ptree* menu = getObject(tree, "menu");
    if (!menu || !isArray(*menu)) return true;
    int n = 0;
    for (auto it = menu->begin(); it != menu->end() && n < 3; ++it, ++n) {
        if (!readItem(it->second, list.menu[n])) {
            why = "menu item " + std::to_string(n + 1) + " incomplete";
            return false;
        }
        traceItem(n + 1, list.menu[n]);
    }
    ZEM_DEBUG("\n *************************OSDS OVER******************************** ");
    return true;
}

}  // namespace

int get_json_alias_para(ALIAS_PARA* para, std::string category, int id) {
    static const std::string kPath = "/data/configs/alias.json";
    JsonFile f;
    const int r = readJson(kPath, f, "no alias is used");
    if (r == 0) return 0;
    pt::ptree tree;
    std::string why = "file too large";
    if (r < 0 || !parse(f, tree, why)) {
        dropBroken(kPath, f, why.c_str());
        return 0;
    }
    ALIAS_PARA found;
    if (!findAlias(tree, category, id, found)) return 0;
    *para = found;
    return para->valid != "off" && !para->name.empty() ? 1 : 0;
}

// Only a file that does not parse is deleted; one that lacks a field shows no OSD and stays.
void get_json_omenu_para(const char* path, OSD_LIST* list) {
    list->osdcount = 0;
    if (!path) return;
    JsonFile f;
    const int r = readJson(path, f, "no OSD menu is shown");
    if (r == 0) return;
    pt::ptree tree;
    std::string why = "file too large";
    if (r < 0 || !parse(f, tree, why)) {
        dropBroken(path, f, why.c_str());
        return;
    }
    OSD_LIST copy = *list;
    if (!readMenu(tree, path, copy, why)) {
        ZEM_DEBUG("json: %s not used: %s\n", path, why.c_str());
        return;
    }
    *list = copy;
}
