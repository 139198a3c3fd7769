#pragma once

namespace kqfw {

// Shows an error report where no sink is installed: a task-modal message box with the
// exclamation icon on Windows, one line on stderr (converted to UTF-8) elsewhere. The text
// keeps the library's Windows-1252 bytes.
void showDefaultReport(const char* text);

}  // namespace kqfw
