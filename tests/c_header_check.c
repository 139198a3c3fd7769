/* The public headers are C: this file includes them in a C translation unit and calls through
 * them, so a C++-only construct in a header fails the build. */
#include <stdio.h>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"

int main(void) {
    uint32_t version = 0;
    StatusCode status = IxenGetCurrentContextVersion(&version);
    if (status != KQFW_STATUS_OK || version != KQFW_CONTEXT_VERSION) {
        fprintf(stderr, "context version %u, status %u\n", (unsigned)version, (unsigned)status);
        return 1;
    }
    KqsimCameraConfig config;
    kqsimDefaultConfig(KQSIM_MODEL_KQM, &config);
    return config.model == KQSIM_MODEL_KQM && kqfwVersion()[0] != '\0' ? 0 : 1;
}
