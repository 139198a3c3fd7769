#include "platform/thread.h"

#include <system_error>

namespace kqfw {

namespace {
std::atomic<int> threadStartsToFail{0};
}

void failNextThreadStarts(int count) {
    threadStartsToFail = count;
}

Thread::~Thread() {
    join();
}

bool Thread::start(std::function<void()> body, size_t /*stackSizeHint*/,
                   ThreadPriority /*priority*/) {
    if (thread_.joinable()) {
        return false;
    }
    int pending = threadStartsToFail.load();
    while (pending > 0 && !threadStartsToFail.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending > 0) {
        return false;
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    try {
        thread_ = std::thread([body = std::move(body), ended] {
            body();
            ended->store(true);
        });
    } catch (const std::system_error&) {
        return false;
    }
    ended_ = std::move(ended);
    return true;
}

void Thread::join() {
    if (isCurrent()) {
        detach();
    } else if (thread_.joinable()) {
        thread_.join();
    }
}

void Thread::detach() {
    if (thread_.joinable()) {
        thread_.detach();
    }
}

}  // namespace kqfw
