#include "local_command.h"

#include <unistd.h>

#include <cstdio>

namespace {
constexpr char kEdidDecode[] = "/usr/bin/edid-decode";
}

std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    return out;
}

bool edidDecodeAvailable() {
    return ::access(kEdidDecode, X_OK) == 0;
}

std::string edidDecodeFile(const std::string& file) {
    return commandOutput(std::string(kEdidDecode) + " --check '" + file + "' 2>&1");
}
