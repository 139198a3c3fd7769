#include "backends/driver_backends.h"

namespace kqfw {

DriverPort* linuxDriverInstance() {
    return nullptr;
}

bool linuxFindsCamera() {
    return false;
}

DriverPort* linuxSimDriverInstance() {
    return nullptr;
}

}  // namespace kqfw
