// Files that survive a power cut: a whole file is written beside the old one, flushed, renamed
// over it and the folder synced, so a reader finds the old file or the new one, never a mix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace file_io {

// Replaces the program path absPath ("/data/ram_device_info") with len bytes of data: writes
// "<absPath>.new", fsyncs it, renames it over absPath and fsyncs the folder. Creates missing
// parent folders. 0 on success, else -errno (the old file is then untouched).
int writeFileAtomic(const std::string& absPath, const void* data, size_t len);

// The system-wide flush ("sync" through the shell) and a 100 ms pause that end every write
// meant to survive power loss.
void syncAndSettle();

// Installs "/data/app/zemT57N2" as the program (moved over "/data/app/zemT57N" through the
// shell) and, unless the start-up file already names it, records it there; ends with "sync".
// The caller then asks for the reboot.
void installNewProgram();

// Reads at most cap bytes of the program path absPath into buf; the count read, or -errno. On
// the simulated root a link there is not read (-ELOOP): one line says so, ending with instead,
// what the caller uses in its place.
long readFileBytes(const std::string& absPath, uint8_t* buf, size_t cap, const char* instead);

// Removes the "<absPath>.new" a write cut by a power loss or a kill left beside the file
// written (on the box, beside the file a link at absPath leads to), by its exact name: at start,
// before anything reads or writes absPath.
void removeLeftover(const std::string& absPath);

// What only tests set: false skips the fsyncs, "sync" and pause of every write, for tests that
// write thousands of files and check what they hold, not that they survive a power cut.
struct TestHooks {
    bool durable = true;
};
TestHooks& hooks();

}  // namespace file_io
