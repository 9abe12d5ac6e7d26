// Names a worker thread, so that "top -H", a debugger and ThreadSanitizer reports say which is
// which. Linux keeps at most 15 characters.
#pragma once

#include <thread>

namespace platform {

void nameThread(std::thread& thread, const char* name);

}  // namespace platform
