// The kernel's own system calls behind the Linux FireWire backend's seam.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "backends/cdev_host_system.h"

namespace kqfw {

namespace {

int negativeErrno() {
    return errno == 0 ? -EIO : -errno;
}

class HostCdevSystem final : public CdevSystem {
  public:
    std::vector<std::string> listNodes() override {
        std::vector<std::pair<long, std::string>> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 2 && name.compare(0, 2, "fw") == 0 &&
                name.find_first_not_of("0123456789", 2) == std::string::npos) {
                found.emplace_back(std::strtol(name.c_str() + 2, nullptr, 10),
                                   entry.path().string());
            }
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> nodes;
        for (auto& [number, path] : found) {
            nodes.push_back(std::move(path));
        }
        return nodes;
    }

    int open(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            return negativeErrno();
        }
        const int waker = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (waker < 0) {
            const int error = negativeErrno();
            ::close(fd);
            return error;
        }
        std::lock_guard lock(mutex_);
        wakers_[fd] = waker;
        return fd;
    }

    void close(int fd) override {
        {
            std::lock_guard lock(mutex_);
            auto it = wakers_.find(fd);
            if (it != wakers_.end()) {
                ::close(it->second);
                wakers_.erase(it);
            }
        }
        ::close(fd);
    }

    int ioctl(int fd, unsigned long request, void* argument) override {
        int result;
        do {
            result = ::ioctl(fd, request, argument);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? negativeErrno() : result;
    }

    long read(int fd, void* buffer, size_t bytes) override {
        ssize_t n;
        do {
            n = ::read(fd, buffer, bytes);
        } while (n < 0 && errno == EINTR);
        return n < 0 ? negativeErrno() : static_cast<long>(n);
    }

    int poll(int fd, int timeoutMs) override {
        pollfd fds[2] = {{fd, POLLIN, 0}, {waker(fd), POLLIN, 0}};
        int n;
        do {
            n = ::poll(fds, fds[1].fd < 0 ? 1 : 2, timeoutMs);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return negativeErrno();
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t drained = ::read(fds[1].fd, &count, sizeof count);
            return 0;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return -ENODEV;
        }
        return (fds[0].revents & POLLIN) ? 1 : 0;
    }

    void wake(int fd) override {
        const int w = waker(fd);
        if (w >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t written = ::write(w, &one, sizeof one);
        }
    }

    void* mapIsoBuffer(int fd, size_t bytes) override {
        // The receive buffer is written by the controller and read here.
        void* address = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
        return address == MAP_FAILED ? nullptr : address;
    }

    void unmapIsoBuffer(void* address, size_t bytes) override { ::munmap(address, bytes); }

  private:
    int waker(int fd) {
        std::lock_guard lock(mutex_);
        auto it = wakers_.find(fd);
        return it == wakers_.end() ? -1 : it->second;
    }

    std::mutex mutex_;
    std::map<int, int> wakers_;  // descriptor -> the eventfd that wakes its poll
};

}  // namespace

CdevSystem* hostCdevSystem() {
    static HostCdevSystem system;
    return &system;
}

}  // namespace kqfw
