// The USB disk of the simulated box: a folder under the root holds the disk's files. Plugging it
// in raises the kernel's hot-plug events for the disk "sda" and its partition "sda1" on the
// event source the USB watcher waits on, and creates "/proc/scsi/usb-storage" as the USB storage
// driver does; the shell's "mount /dev/sda1 DIR" then shows the files at DIR, and "umount"
// takes them away again. Pulling it raises the removal events. The mount is noted in
// "/sim/usb-mount" under the root, so that a box stopped without cleaning up (kill -9) finds
// the mount point it left at its next start.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "core/thread_safety.h"

namespace platform::sim {

class SimUsbDisk {
public:
    // contents: a folder, as a program path ("/sim/usb-disk"). 0, -ENOENT when it is no folder,
    // -ELOOP when it is a symbolic link (a disk holds none), -EBUSY when a disk is plugged in
    // already.
    int plug(const std::string& contents);
    // 0, or -ENODEV when no disk is plugged in.
    int unplug();

    // The shell's side: exit status of "mount DEVICE DIR" and "umount [-l] DIR", or -1 when
    // the command is not about this disk (it is then only recorded). Mounting the partition
    // while no disk is plugged in fails.
    int mount(const std::string& device, const std::string& dir);
    int unmount(const std::string& dir);

    // Fault switch: the disk is pulled (unmounted, then unplugged) once `bytes` more bytes of
    // its files have been read; -1 never (the default).
    void pullAfterRead(int64_t bytes);
    // Called before each read of n bytes of the disk's files: how many of them are read before
    // the disk goes (n while no pull is due).
    uint32_t takeRead(uint32_t n);

    struct State {
        bool plugged = false;
        std::string contents;    // program path of the files
        std::string mounted_at;  // program path, empty when not mounted
    };
    State state() const;

    // A simulated box starts with no disk: the mount point a stopped box left behind becomes an
    // empty folder again, and the disks' copies ("/sim/usb-disk.*", made by scripts/sim-ctl.sh)
    // go (called by SimBox::reset, that is at every start).
    void clearStaleMount();
    // At the box's stop (the end of the program, or its stop signals): the mount point becomes an
    // empty folder and the disks' copies go. Safe in a signal handler: only system calls.
    static void clearMountAtStop();

    static constexpr const char* kDisk = "sda";
    static constexpr const char* kPartition = "sda1";

private:
    mutable zem::Mutex mutex_;
    State state_ GUARDED_BY(mutex_);
    int64_t read_budget_ GUARDED_BY(mutex_) = -1;
};

}  // namespace platform::sim
