// The files of the box under the root, and symbolic links at their own names. On the box its
// files are read and written as they are: a link there is followed, and a write through it
// replaces the file it leads to (its new file beside that one, renamed over it), so the link
// stays. On the simulated root (and before a back end is chosen) a link at a file's own name is
// refused, for reads and writes alike, with one line saying what is used instead: a root under
// /tmp may hold links another user planted. Links at the folders on the way are followed
// everywhere: only the root's owner can make them (the root is refused at start when another
// user can write to it).
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

// Whether a link at a file's own name is followed: on the box only.
bool linksFollowed();

// open(2) of a path of this machine, a file of the box's own (O_CLOEXEC added; O_NOFOLLOW too
// where links are refused): the descriptor, or -errno; a refused link is said in one line,
// -ELOOP.
int openOwnFile(const std::string& local, int flags, mode_t mode = 0644);

// True, after the refusal's line, when the path of this machine is a symbolic link and links
// are refused: for the writers that open a file by its name themselves (QSettings,
// std::ofstream, QImage). The line ends with instead ("the defaults are used") when the caller
// does something else than nothing. Always false on the box.
bool refuseLink(const std::string& local, const char* instead = nullptr);

// Whether a file of the box (a path of this machine) may be read: not through a link where
// links are refused, which one line says, ending with what the reader uses instead ("the
// defaults are used", "user mode 7 is empty").
bool mayRead(const std::string& local, const char* instead);

// The file a write of the path of this machine replaces, beside which its new file is made: on
// the box the file a link there leads to (links followed to the end; it need not exist yet),
// elsewhere the path itself, a link there being replaced by the rename.
std::string fileWritten(const std::string& local);

// Where a refusal's line goes: stderr unless the program's error log takes it (it says a
// file's line once a minute at most).
void setRefusalSink(void (*sink)(const char* line));

}  // namespace platform
