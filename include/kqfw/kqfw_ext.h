/*
 * kqfw extensions beyond the camera API.
 */
#ifndef KQFW_KQFW_EXT_H
#define KQFW_KQFW_EXT_H

#include "kqfw/kqfw.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Receives the text of each error report (the library's message boxes) while error messages
 * are enabled. The text keeps the library's Windows-1252 bytes and is at most 255 characters.
 * The sink may be called from any library thread; it must not call back into the library.
 */
typedef void (*KqfwMessageSink)(const char* text, void* userData);

/* Installs a sink; a null sink restores the default (one line on stderr, or a message box). */
KQFW_API void kqfwSetMessageSink(KqfwMessageSink sink, void* userData);

/* The library version, "major.minor.patch". */
KQFW_API const char* kqfwVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* KQFW_KQFW_EXT_H */
