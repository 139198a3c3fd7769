#include <pthread.h>
#include <windows.h>

#include "platform/thread_hints.h"

namespace kqfw {

void applyThreadPriority(std::thread& thread, ThreadPriority priority) {
    // The C++ library's threads are winpthreads threads; their Win32 handle takes the priority.
    HANDLE handle = pthread_gethandle(thread.native_handle());
    if (handle != nullptr) {
        SetThreadPriority(handle, static_cast<int>(priority));
    }
}

}  // namespace kqfw
