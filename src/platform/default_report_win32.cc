#include <windows.h>

#include "platform/default_report.h"

namespace kqfw {

void showDefaultReport(const char* text) {
    // No owner window and the system's default caption, as the camera API has always shown them.
    MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
}

}  // namespace kqfw
