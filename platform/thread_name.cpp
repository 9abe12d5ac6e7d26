#include "platform/thread_name.h"

#include <pthread.h>

#include <cstring>
#include <string>

namespace platform {

void nameThread(std::thread& thread, const char* name) {
    if (!thread.joinable()) return;
    const std::string cut(name, std::min<size_t>(std::strlen(name), 15));
    pthread_setname_np(thread.native_handle(), cut.c_str());
}

}  // namespace platform
