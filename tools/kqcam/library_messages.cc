#include "library_messages.h"

#include <cstdio>
#include <mutex>

#include "kqfw/kqfw_ext.h"

namespace kqcam {

namespace {

std::mutex lock;
std::string lastReport;  // UTF-8; guarded by lock

// The reports keep the library's Windows-1252 bytes; its texts use only the Latin-1 part of
// it (0xB4 in "Couldn´t"), which maps one to one onto U+00A0..U+00FF.
std::string toUtf8(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0xA0) {
            out += '?';
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Library threads call it, several at once.
void keepReport(const char* text, void*) {
    std::string utf8 = toUtf8(text);
    std::lock_guard<std::mutex> guard(lock);
    lastReport = std::move(utf8);
}

std::string takeReport() {
    std::lock_guard<std::mutex> guard(lock);
    std::string report;
    report.swap(lastReport);
    return report;
}

}  // namespace

void captureLibraryMessages() {
    kqfwSetMessageSink(keepReport, nullptr);
}

std::string describeStatus(StatusCode status) {
    std::string text = "status " + std::to_string(status) + ": " + kqfwStatusText(status);
    const std::string report = takeReport();
    if (!report.empty()) {
        text += "; the library said: " + report;
    }
    return text;
}

void flushLibraryMessages() {
    const std::string report = takeReport();
    if (!report.empty()) {
        std::fprintf(stderr, "kqcam: the library reported: %s\n", report.c_str());
    }
}

}  // namespace kqcam
