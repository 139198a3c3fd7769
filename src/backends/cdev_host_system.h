#pragma once

#include "transport/cdev_system.h"

namespace kqfw {

// The kernel's own system calls (Linux builds only).
CdevSystem* hostCdevSystem();

}  // namespace kqfw
