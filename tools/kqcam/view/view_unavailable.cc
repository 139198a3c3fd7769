// The build without the web server or the JPEG encoder (the Windows cross-build) has no view.
#include <cstdio>

#include "../commands.h"

namespace kqcam {

int view(int32_t, const ViewOptions&) {
    std::fprintf(stderr,
                 "kqcam: view is not available in this build (it was built without cpp-httplib "
                 "and libturbojpeg); use kqcam stream, or the Linux build\n");
    return kExitUsage;
}

}  // namespace kqcam
