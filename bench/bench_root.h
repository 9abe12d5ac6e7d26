// The simulated box of a benchmark program on a fresh root under the temporary folder
// ($TMPDIR or /tmp). The root, with the flash images the box keeps there, is removed when the
// program exits: main stops the threads that write under it before it returns.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/box.h"

// Selects the simulated box on a new root named after `tag`; false when none could be made.
inline bool selectBenchRoot(const char* tag) {
    static std::vector<std::string> roots;
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/zem-bench-" + tag + "-XXXXXX";
    if (!::mkdtemp(dir.data())) return false;
    if (roots.empty()) {
        std::atexit([] {
            for (const std::string& root : roots) {
                std::error_code ec;
                std::filesystem::remove_all(root, ec);
            }
        });
    }
    roots.push_back(dir);
    platform::selectSimulated(dir);
    return true;
}
