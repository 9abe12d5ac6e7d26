#include "core/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Qt's options that the program passes on, as QApplication reads them (with one dash or two).
struct QtOption {
    const char* name;
    const char* value;  // nullptr for a flag
};
constexpr QtOption kQtOptions[] = {
    {"platform", "NAME"},
    {"platformpluginpath", "PATH"},
    {"platformtheme", "NAME"},
    {"plugin", "NAME"},
    {"qwindowgeometry", "WxH+X+Y"},
    {"qwindowicon", "FILE"},
    {"qwindowtitle", "TITLE"},
    {"session", "ID"},
    {"display", "DISPLAY"},
    {"geometry", "WxH+X+Y"},
    {"style", "NAME"},
    {"stylesheet", "FILE"},
    {"reverse", nullptr},
    {"widgetcount", nullptr},
    {"nograb", nullptr},
    {"dograb", nullptr},
};

void printUsage() {
    std::printf(
        "usage: zemT57N [--sim DIR] [Qt's options]\n"
        "  --sim DIR   run on the simulated box with DIR as its root (ZEM_SIM_ROOT=DIR does the\n"
        "              same); a build for a PC starts only so. The box starts the program as\n"
        "              /data/app/zemT57N -platform linuxfb.\n"
        "  --help      print this and exit\n"
        "Qt's options, passed on to Qt:\n");
    std::string line;
    for (const QtOption& o : kQtOptions) {
        const std::string option =
            std::string(" -") + o.name + (o.value ? " " : "") + (o.value ? o.value : "");
        if (line.size() + option.size() > 80) {
            std::printf("%s\n", line.c_str());
            line.clear();
        }
        line += option;
    }
    std::printf("%s\n", line.c_str());
}

int refuse(const std::string& what) {
    std::fprintf(stderr, "error: %s (zemT57N --help says how it is used)\n", what.c_str());
    return 1;
}

// The Qt option arg names ("-style", "--style", "-style=fusion"), or nullptr.
const QtOption* qtOption(const char* arg) {
    const char* name = arg + (std::strncmp(arg, "--", 2) == 0 ? 2 : 1);
    for (const QtOption& o : kQtOptions) {
        const size_t n = std::strlen(o.name);
        if (std::strncmp(name, o.name, n) == 0 && (name[n] == '\0' || (o.value && name[n] == '=')))
            return &o;
    }
    return nullptr;
}

void drop(int& argc, char** argv, int at, int count) {
    for (int j = at; j + count <= argc; ++j) argv[j] = argv[j + count];
    argc -= count;
}

}  // namespace

int readCommandLine(int& argc, char** argv, std::string& simRoot) {
    const char* env = std::getenv("ZEM_SIM_ROOT");
    simRoot = env ? env : "";
    for (int i = 1; i < argc;) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            printUsage();
            return 0;
        }
        if (std::strcmp(arg, "--sim") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return refuse("--sim needs a DIR");
            simRoot = argv[i + 1];
            drop(argc, argv, i, 2);
            continue;
        }
        if (arg[0] != '-' || arg[1] == '\0') {
            ++i;
            continue;
        }
        const QtOption* qt = qtOption(arg);
        if (!qt) return refuse(std::string("unknown option ") + arg);
        // A value after the name belongs to the option, whatever it looks like.
        i += qt->value && !std::strchr(arg, '=') ? 2 : 1;
    }
    return -1;
}
