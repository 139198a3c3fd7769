#include "platform/error_report.h"

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

#include "platform/default_report.h"

namespace kqfw {

namespace {

constexpr size_t kMessageBytes = 256;

std::atomic<uint32_t> messagesEnabled{1};

struct Sink {
    KqfwMessageSink sink = nullptr;
    void* userData = nullptr;
};

// The sink is called outside the lock, so that it may call the library (also to replace
// itself). A replacement waits for the calls of older sinks still in progress, so the
// application may free what the old sink used once the replacement returned; a sink that
// replaces itself does not wait for its own call.
std::mutex sinkMutex;
std::condition_variable sinkCallEnded;
Sink currentSink;                   // guarded by sinkMutex
uint64_t sinkGeneration = 0;        // guarded by sinkMutex; counts replacements
std::map<uint64_t, int> sinkCalls;  // guarded by sinkMutex; calls in progress by generation
thread_local int sinkCallsOnThisThread = 0;

// Code points of 0x80..0x9F; 0 where Windows-1252 leaves a byte undefined.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

void setErrorMessagesEnabled(uint32_t on) {
    messagesEnabled = on;
}

uint32_t errorMessagesEnabled() {
    return messagesEnabled;
}

void setMessageSink(KqfwMessageSink sink, void* userData) {
    std::unique_lock lock(sinkMutex);
    currentSink = Sink{sink, userData};
    const uint64_t generation = ++sinkGeneration;
    if (sinkCallsOnThisThread > 0) {
        return;
    }
    sinkCallEnded.wait(lock,
                       [&] { return sinkCalls.empty() || sinkCalls.begin()->first >= generation; });
}

void reportError(const char* format, ...) {
    if (messagesEnabled == 0) {
        return;
    }
    char text[kMessageBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Sink sink;
    uint64_t generation = 0;
    {
        std::lock_guard lock(sinkMutex);
        sink = currentSink;
        generation = sinkGeneration;
        ++sinkCalls[generation];
    }
    ++sinkCallsOnThisThread;
    if (sink.sink != nullptr) {
        sink.sink(text, sink.userData);
    } else {
        showDefaultReport(text);
    }
    --sinkCallsOnThisThread;
    std::lock_guard lock(sinkMutex);
    if (--sinkCalls[generation] == 0) {
        sinkCalls.erase(generation);
        sinkCallEnded.notify_all();
    }
}

std::string windows1252ToUtf8(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        uint32_t c = *p;
        if (c >= 0x80 && c < 0xA0) {
            c = kHighControls[c - 0x80] != 0 ? kHighControls[c - 0x80] : 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

}  // namespace kqfw

extern "C" KQFW_API void kqfwSetMessageSink(KqfwMessageSink sink, void* userData) {
    kqfw::setMessageSink(sink, userData);
}
