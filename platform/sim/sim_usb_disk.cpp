#include "platform/sim/sim_usb_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/box.h"
#include "platform/hotplug.h"
#include "platform/own_files.h"

namespace platform::sim {
namespace fs = std::filesystem;
namespace {

constexpr int kMountFailed = 32;  // mount's and umount's exit status for a failure
constexpr const char* kMountNote = "/sim/usb-mount";  // the program path of the mount point

// The host paths of the mount point and its note while mounted, empty otherwise, kept as plain
// characters for the stop signal's handler.
char g_mount_link[4096];
char g_mount_note[4096];
// The host path of "/sim", where scripts/sim-ctl.sh copies each disk's files.
char g_copies_dir[4096];
constexpr char kCopyPrefix[] = "usb-disk.";
constexpr int kMaxCopyDepth = 32;

struct Dirent64 {  // the kernel's getdents64 record
    uint64_t ino;
    int64_t off;
    uint16_t reclen;
    uint8_t type;
    char name[1];
};

bool dotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Calls each(dir, name) for the entries of the open folder dir, until a pass finds nothing to
// do; each returns whether it removed the entry. Only system calls: safe in a signal handler.
template <typename Each>
void forEachEntry(int dir, Each each) {
    alignas(8) char buf[1024];
    for (bool removed = true; removed;) {
        removed = false;
        ::lseek(dir, 0, SEEK_SET);
        for (long n; (n = ::syscall(SYS_getdents64, dir, buf, sizeof buf)) > 0;)
            for (long at = 0; at < n;) {
                const auto* e = reinterpret_cast<const Dirent64*>(buf + at);
                at += e->reclen;
                if (!dotOrDotDot(e->name) && each(dir, e->name)) removed = true;
            }
    }
}

// Removes the entry name of the folder parent, with everything below it; never follows a link.
bool removeTreeAt(int parent, const char* name, int depth) {
    if (::unlinkat(parent, name, 0) == 0) return true;
    if (errno != EISDIR || depth > kMaxCopyDepth) return false;
    const int dir = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return false;
    forEachEntry(dir,
                 [depth](int at, const char* entry) { return removeTreeAt(at, entry, depth + 1); });
    ::close(dir);
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

// The disks' copies in "/sim" go: the box keeps no disk across a stop.
void removeDiskCopies() {
    if (!g_copies_dir[0]) return;
    const int dir = ::open(g_copies_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    forEachEntry(dir, [](int at, const char* entry) {
        return std::strncmp(entry, kCopyPrefix, sizeof kCopyPrefix - 1) == 0 &&
               removeTreeAt(at, entry, 0);
    });
    ::close(dir);
}

void keepForStop(const std::string& link, const std::string& note) {
    if (link.size() >= sizeof g_mount_link || note.size() >= sizeof g_mount_note) return;
    std::memcpy(g_mount_note, note.c_str(), note.size() + 1);
    std::memcpy(g_mount_link, link.c_str(), link.size() + 1);
}

// The mount point back to an empty folder, as umount leaves it.
void emptyMountPoint(const fs::path& at) {
    std::error_code ec;
    if (!fs::is_symlink(at, ec)) return;  // a folder of its own is no mount of this disk
    fs::remove(at, ec);                   // the link only, never the disk's files
    makeDirs(at);
}

// The kernel's event, in the new-line form the simulated source takes.
std::string uevent(const std::string& action, const std::string& dev, const std::string& type) {
    return action + "@/devices/platform/usb/block/" + dev + "\nACTION=" + action +
           "\nSUBSYSTEM=block\nDEVNAME=" + dev + "\nDEVTYPE=" + type + "\n";
}

bool safeProgramPath(const std::string& p) {
    return !p.empty() && p[0] == '/' && p.find("..") == std::string::npos;
}

}  // namespace

int SimUsbDisk::plug(const std::string& contents) {
    {
        zem::MutexLocker lock(mutex_);
        if (state_.plugged) return -EBUSY;
        std::error_code ec;
        if (safeProgramPath(contents) && fs::is_symlink(path(contents), ec)) return -ELOOP;
        if (!safeProgramPath(contents) || !fs::is_directory(path(contents), ec)) return -ENOENT;
        state_.plugged = true;
        state_.contents = contents;
    }
    makeDirs(path("/proc/scsi/usb-storage"));
    injectHotplug(uevent("add", kDisk, "disk"));
    injectHotplug(uevent("add", kPartition, "partition"));
    return 0;
}

int SimUsbDisk::unplug() {
    {
        zem::MutexLocker lock(mutex_);
        if (!state_.plugged) return -ENODEV;
        state_.plugged = false;
    }
    std::error_code ec;
    fs::remove_all(path("/proc/scsi/usb-storage"), ec);
    injectHotplug(uevent("remove", kPartition, "partition"));
    injectHotplug(uevent("remove", kDisk, "disk"));
    return 0;
}

int SimUsbDisk::mount(const std::string& device, const std::string& dir) {
    zem::MutexLocker lock(mutex_);
    if (device != std::string("/dev/") + kPartition) return -1;
    // The partition of a disk that was pulled is gone: mount fails as it does on the box.
    if (!state_.plugged || !state_.mounted_at.empty() || !safeProgramPath(dir)) return kMountFailed;
    const fs::path at = path(dir);
    std::error_code ec;
    // A mount point is an empty folder; the files show through a link to the disk's folder.
    if (fs::exists(at, ec) && (!fs::is_directory(at, ec) || !fs::is_empty(at, ec)))
        return kMountFailed;
    fs::remove(at, ec);
    makeDirs(at.parent_path());
    fs::create_directory_symlink(path(state_.contents), at, ec);
    if (ec) return kMountFailed;
    state_.mounted_at = dir;
    if (!refuseLink(path(kMountNote))) std::ofstream(path(kMountNote)) << dir;
    keepForStop(at.string(), path(kMountNote));
    return 0;
}

int SimUsbDisk::unmount(const std::string& dir) {
    zem::MutexLocker lock(mutex_);
    if (state_.mounted_at.empty() || dir != state_.mounted_at) return -1;
    emptyMountPoint(path(dir));
    state_.mounted_at.clear();
    g_mount_link[0] = '\0';
    std::error_code ec;
    fs::remove(path(kMountNote), ec);
    return 0;
}

void SimUsbDisk::clearStaleMount() {
    g_mount_link[0] = '\0';  // a mount of the box before belongs to that box
    const std::string copies = path("/sim");
    if (copies.size() < sizeof g_copies_dir)
        std::memcpy(g_copies_dir, copies.c_str(), copies.size() + 1);
    std::string dir;
    if (mayRead(path(kMountNote), "the mount point a box before named is left as it is") &&
        std::getline(std::ifstream(path(kMountNote)), dir) && safeProgramPath(dir))
        emptyMountPoint(path(dir));
    std::error_code ec;
    fs::remove(path(kMountNote), ec);
    removeDiskCopies();  // those a box that was killed left
}

void SimUsbDisk::clearMountAtStop() {
    if (g_mount_link[0]) {
        ::unlink(g_mount_link);
        ::mkdir(g_mount_link, 0755);
        ::unlink(g_mount_note);
    }
    removeDiskCopies();
}

void SimUsbDisk::pullAfterRead(int64_t bytes) {
    zem::MutexLocker lock(mutex_);
    read_budget_ = bytes;
}

uint32_t SimUsbDisk::takeRead(uint32_t n) {
    std::string mounted_at;
    uint32_t allowed = n;
    {
        zem::MutexLocker lock(mutex_);
        if (read_budget_ < 0) return n;
        if (read_budget_ >= int64_t(n)) {
            read_budget_ -= n;
            return n;
        }
        allowed = uint32_t(read_budget_);
        read_budget_ = -1;
        mounted_at = state_.mounted_at;
    }
    if (!mounted_at.empty()) unmount(mounted_at);
    unplug();
    return allowed;
}

SimUsbDisk::State SimUsbDisk::state() const {
    zem::MutexLocker lock(mutex_);
    return state_;
}

}  // namespace platform::sim
