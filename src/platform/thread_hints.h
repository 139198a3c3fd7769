#pragma once

#include <thread>

#include "platform/thread.h"

namespace kqfw {

// Gives a started thread its priority where the platform lets a process choose it (Windows);
// elsewhere the thread keeps the platform's default, as the Thread class promises.
void applyThreadPriority(std::thread& thread, ThreadPriority priority);

}  // namespace kqfw
