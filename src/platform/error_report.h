#pragma once

#include <cstdint>
#include <string>

#include "kqfw/kqfw_ext.h"

namespace kqfw {

// The process-wide switch of error reports (the message boxes); on by default.
void setErrorMessagesEnabled(uint32_t on);
uint32_t errorMessagesEnabled();

// Formats printf-style into 256 bytes (longer texts are cut at 255 characters) and hands the
// text to the message sink, only while error messages are enabled. Callable from any thread.
void reportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Null restores the default sink.
void setMessageSink(KqfwMessageSink sink, void* userData);

// Messages keep their Windows-1252 bytes; a terminal wants UTF-8.
std::string windows1252ToUtf8(const char* text);

}  // namespace kqfw
