// The user-mode files that could not be written or removed, named together on the terminal: the
// error-by-kind limit says one line of a kind a minute, so saves failing in a row would leave
// all but the first unsaid until a later error or the stop.
#include <string>
#include <utility>

#include "core/globals.h"
#include "core/zem_ram_para.h"

namespace {

// "mode 3 not written", "modes 3, 5, 9 not written"; empty when no bit is set.
std::string modesLine(uint16_t modes, const char* what) {
    std::string numbers;
    int count = 0;
    for (int m = 0; m < ZemRamPara::kModeCount; ++m) {
        if (!(modes >> m & 1)) continue;
        numbers += (count++ ? ", " : "") + std::to_string(m + 1);
    }
    if (count == 0) return {};
    return (count == 1 ? "mode " : "modes ") + numbers + " " + what;
}

}  // namespace

void ZemRamPara::sayFailed(const FailedFiles& failed) {
    const std::string written = modesLine(failed.not_written, "not written");
    const std::string removed = modesLine(failed.not_removed, "not removed");
    if (written.empty() && removed.empty()) return;
    const std::string line = "user mode files failed: " + written +
                             (written.empty() || removed.empty() ? "" : "; ") + removed;
    writeLogMsg(kLogEachLine, "user mode files failed", line.c_str());
}

void ZemRamPara::keep_failed_file(int m, bool removal) {
    zem::MutexLocker lock(mutex);
    if (!failed_files_.not_written && !failed_files_.not_removed)
        failed_files_.since = G_timeTicks.load();
    uint16_t& kept = removal ? failed_files_.not_removed : failed_files_.not_written;
    kept = uint16_t(kept | 1u << m);
}

ZemRamPara::FailedFiles ZemRamPara::take_failed_files(const uint32_t* now_tick) {
    zem::MutexLocker lock(mutex);
    if (now_tick && *now_tick - failed_files_.since < kFailedFilesTicks) return {};
    return std::exchange(failed_files_, FailedFiles());
}

void ZemRamPara::say_failed_files(uint32_t now_tick) {
    sayFailed(take_failed_files(&now_tick));
}

void ZemRamPara::say_failed_files_now() {
    sayFailed(take_failed_files(nullptr));
}
