#include "backends/cdev_driver.h"
#include "backends/cdev_host_system.h"
#include "backends/driver_backends.h"

namespace kqfw {

DriverPort* linuxDriverInstance() {
    static CdevDriver driver(*hostCdevSystem());
    return &driver;
}

bool linuxFindsCamera() {
    return static_cast<CdevDriver*>(linuxDriverInstance())->findsCamera();
}

}  // namespace kqfw
