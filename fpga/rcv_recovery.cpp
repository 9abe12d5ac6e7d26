#include "fpga/rcv_recovery.h"

#include <filesystem>

#include "core/globals.h"
#include "platform/box.h"

int rcvRecovery::check_file_dir(const QString& dir) {
    const std::string local = platform::path(dir.toStdString());
    std::error_code ec;
    if (std::filesystem::is_directory(local, ec)) return 0;
    if (std::filesystem::create_directories(local, ec)) return 1;
    writeLogMsg(1, "rcvRecovery: directory could not be made");
    return 0;
}
