#include "backends/cdev_driver.h"
#include "backends/driver_backends.h"
#include "sim/sim_fw_node.h"

namespace kqfw {

DriverPort* linuxSimDriverInstance() {
    static CdevDriver driver(*simCdevSystem());
    return &driver;
}

}  // namespace kqfw
