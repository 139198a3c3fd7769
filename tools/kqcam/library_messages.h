#pragma once

#include <string>

#include "kqfw/kqfw.h"

namespace kqcam {

// Takes over the library's error reports for the life of the tool: the newest one is kept and
// printed with the failure it explains, so a user sees the status, its text and the library's
// own words on one line rather than a bare number.
void captureLibraryMessages();

// "status 24: receive failed; the library said: Acquisition error 24", the last part only when
// the library reported something since the previous call.
std::string describeStatus(StatusCode status);

// Prints a report that no failure explained (a warning of a command that still succeeded).
void flushLibraryMessages();

}  // namespace kqcam
