// The files the box writes are its own: none is written through a symbolic link at its last
// component, which would take the write anywhere. Links at the folders on the way are followed:
// only the root's owner can make them (the root is refused at start when another user can write
// to it).
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

// open(2) of a path of this machine, a file of the box's own, never through a link there
// (O_NOFOLLOW and O_CLOEXEC added): the descriptor, or -errno; a link is refused with one line,
// -ELOOP.
int openOwnFile(const std::string& local, int flags, mode_t mode = 0644);

// True, after the refusal's line, when the path of this machine is a symbolic link: for the
// writers that open a file by its name themselves (QSettings, std::ofstream, QImage). The line
// ends with instead ("the defaults are used") when the caller does something else than nothing.
bool refuseLink(const std::string& local, const char* instead = nullptr);

// Where a refusal's line goes: stderr unless the program's error log takes it (it says a
// file's line once a minute at most).
void setRefusalSink(void (*sink)(const char* line));

}  // namespace platform
