// Whether a folder is a mount point now. A folder left behind by a failed mount, or by a disk
// that went while the program was not running, is not one: only the kernel's mount table (or,
// on the simulated box, the simulated USB disk) says so. No "this process mounted it" flag:
// after a program restart the kernel's mount stays, and it is real. And the reads of the disk's
// files, which the simulated disk can cut short as a pulled disk does.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Where the USB watcher mounts the disk's partition.
constexpr const char* kUsbMountPoint = "/mnt/usb1";

// dir, a program path with or without a trailing '/': listed in /proc/mounts on the box; on
// the simulated box, where the simulated USB disk is mounted.
bool mountedAt(const std::string& dir);
// The USB disk is mounted at kUsbMountPoint: only then are its files read.
bool usbDiskMounted();

// n bytes at off of a file on the USB disk (a path on this machine); false when they could not
// all be read: the file is shorter, or the disk went during the read.
bool readUsbDiskFile(const std::string& file, uint64_t off, uint32_t n, uint8_t* out);

// Whether a mount table in the form of /proc/mounts (mount points with the kernel's octal
// escapes) lists dir as a mount point.
bool mountTableLists(const std::string& table, const std::string& dir);

}  // namespace platform
