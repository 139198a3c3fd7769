// The camera's kernel driver on Windows: device interfaces listed through SetupAPI, handles
// from CreateFile, requests through DeviceIoControl. The library's events cross the seam as
// the addresses of its Event objects; the driver signals Win32 events, so this backend gives
// the driver a Win32 event of its own for each registered Event and forwards every signal.
#include <windows.h>
// SetupAPI needs windows.h first.
#include <setupapi.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "backends/driver_backends.h"
#include "backends/interface_class.h"
#include "platform/event.h"
#include "transport/async_request.h"
#include "transport/ioctl_codes.h"

namespace kqfw {

namespace {

uint32_t lastError() {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<uint32_t>(error) : kErrorGenFailure;
}

HANDLE asHandle(DeviceHandle handle) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
}

// A Win32 event the driver signals, forwarded to one of the library's events by a wait the
// thread pool runs.
struct ForwardedEvent {
    Event* target = nullptr;
    HANDLE win32 = nullptr;
    HANDLE wait = nullptr;
};

void CALLBACK forward(PVOID context, BOOLEAN /*timedOut*/) {
    static_cast<ForwardedEvent*>(context)->target->set();
}

void release(ForwardedEvent& event) {
    if (event.wait != nullptr) {
        UnregisterWaitEx(event.wait, INVALID_HANDLE_VALUE);  // waits for a callback under way
    }
    if (event.win32 != nullptr) {
        CloseHandle(event.win32);
    }
}

// The pending overlapped request of a handle (the bus-reset notification).
struct PendingRequest {
    OVERLAPPED overlapped{};
    ForwardedEvent completion;
};

class Win32Driver final : public DriverPort {
  public:
    std::vector<std::string> listInterfaces(const std::string& interfaceClass) override {
        std::vector<std::string> paths;
        InterfaceClass parsed;
        if (!parseInterfaceClass(interfaceClass, &parsed)) {
            return paths;
        }
        GUID guid;
        guid.Data1 = parsed.data1;
        guid.Data2 = parsed.data2;
        guid.Data3 = parsed.data3;
        std::memcpy(guid.Data4, parsed.data4, sizeof guid.Data4);
        HDEVINFO set =
            SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return paths;
        }
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data);
             ++index) {
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
            if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
                break;
            }
            auto storage = std::make_unique<uint8_t[]>(needed);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.get());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr)) {
                break;
            }
            paths.emplace_back(detail->DevicePath);
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    DeviceHandle open(const std::string& path, bool overlapped, uint32_t* error) override {
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            *error = lastError();
            return kInvalidDeviceHandle;
        }
        return static_cast<DeviceHandle>(reinterpret_cast<uintptr_t>(handle));
    }

    uint32_t ioControl(DeviceHandle handle, uint32_t code, const void* input, uint32_t inputBytes,
                       void* output, uint32_t outputBytes, uint32_t* returned) override {
        if (code == kIoctlSetFrameEvent || code == kIoctlSetTriggerEvent) {
            return registerEvent(handle, code, input, inputBytes, returned);
        }
        return plainRequest(handle, code, input, inputBytes, output, outputBytes, returned);
    }

    uint32_t ioControlOverlapped(DeviceHandle handle, uint32_t code, Event* completion) override {
        auto request = std::make_unique<PendingRequest>();
        request->completion.target = completion;
        request->completion.win32 = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (request->completion.win32 == nullptr ||
            !RegisterWaitForSingleObject(&request->completion.wait, request->completion.win32,
                                         forward, &request->completion, INFINITE,
                                         WT_EXECUTEONLYONCE)) {
            const uint32_t error = lastError();
            release(request->completion);
            return error;
        }
        request->overlapped.hEvent = request->completion.win32;
        DWORD bytes = 0;
        const BOOL done = DeviceIoControl(asHandle(handle), code, nullptr, 0, nullptr, 0, &bytes,
                                          &request->overlapped);
        const uint32_t error = done ? 0 : lastError();
        if (!done && error != kErrorIoPending) {
            release(request->completion);
            return error;
        }
        std::lock_guard lock(mutex_);
        replacePending(handle, std::move(request));
        // A request that completed at once has signalled its event as well.
        return kErrorIoPending;
    }

    uint32_t overlappedResult(DeviceHandle handle) override {
        std::lock_guard lock(mutex_);
        auto found = pending_.find(handle);
        if (found == pending_.end()) {
            return kErrorInvalidHandle;
        }
        DWORD bytes = 0;
        if (GetOverlappedResult(asHandle(handle), &found->second->overlapped, &bytes, FALSE)) {
            return 0;
        }
        const uint32_t error = lastError();
        return error == ERROR_IO_INCOMPLETE ? kErrorIoPending : error;
    }

    uint32_t cancelIo(DeviceHandle handle) override {
        return CancelIo(asHandle(handle)) ? 0 : lastError();
    }

    void close(DeviceHandle handle) override {
        std::lock_guard lock(mutex_);
        replacePending(handle, nullptr);
        CloseHandle(asHandle(handle));
        for (auto it = registered_.begin(); it != registered_.end();) {
            if (it->first.handle == handle) {
                release(*it->second);
                it = registered_.erase(it);
            } else {
                ++it;
            }
        }
    }

  private:
    struct Registration {
        DeviceHandle handle;
        uint32_t code;
        bool operator<(const Registration& other) const {
            return handle != other.handle ? handle < other.handle : code < other.code;
        }
    };

    uint32_t plainRequest(DeviceHandle handle, uint32_t code, const void* input,
                          uint32_t inputBytes, void* output, uint32_t outputBytes,
                          uint32_t* returned) {
        DWORD bytes = 0;
        const BOOL done = DeviceIoControl(asHandle(handle), code, const_cast<void*>(input),
                                          inputBytes, output, outputBytes, &bytes, nullptr);
        *returned = static_cast<uint32_t>(bytes);
        if (!done) {
            const DWORD error = GetLastError();
            return static_cast<uint32_t>(error);  // a failure without an error number is none
        }
        return 0;
    }

    // Gives the driver a Win32 event that forwards to the library's Event named in the
    // request, or (a null Event) releases the registration after the driver let go of it.
    uint32_t registerEvent(DeviceHandle handle, uint32_t code, const void* input,
                           uint32_t inputBytes, uint32_t* returned) {
        if (input == nullptr || inputBytes < kEventRegistrationBytes) {
            return kErrorInsufficientBuffer;
        }
        auto* target = reinterpret_cast<Event*>(
            static_cast<uintptr_t>(loadLe64(static_cast<const uint8_t*>(input))));
        std::unique_ptr<ForwardedEvent> forwarded;
        uint8_t request[kEventRegistrationBytes] = {};
        if (target != nullptr) {
            forwarded = std::make_unique<ForwardedEvent>();
            forwarded->target = target;
            forwarded->win32 = CreateEventA(nullptr, FALSE, FALSE, nullptr);
            if (forwarded->win32 == nullptr ||
                !RegisterWaitForSingleObject(&forwarded->wait, forwarded->win32, forward,
                                             forwarded.get(), INFINITE, WT_EXECUTEDEFAULT)) {
                const uint32_t error = lastError();
                release(*forwarded);
                return error;
            }
            storeLe64(request,
                      static_cast<uint64_t>(reinterpret_cast<uintptr_t>(forwarded->win32)));
        }
        const uint32_t error =
            plainRequest(handle, code, request, sizeof request, nullptr, 0, returned);
        std::lock_guard lock(mutex_);
        auto& slot = registered_[Registration{handle, code}];
        if (error != 0) {
            if (forwarded) {
                release(*forwarded);
            }
            return error;
        }
        if (slot) {
            release(*slot);
        }
        slot = std::move(forwarded);
        return 0;
    }

    // Under mutex_. The kernel writes an OVERLAPPED until its request completes, so a request
    // still pending is cancelled and waited for before its record goes.
    void replacePending(DeviceHandle handle, std::unique_ptr<PendingRequest> request) {
        auto found = pending_.find(handle);
        if (found != pending_.end()) {
            DWORD bytes = 0;
            if (!GetOverlappedResult(asHandle(handle), &found->second->overlapped, &bytes, FALSE) &&
                GetLastError() == ERROR_IO_INCOMPLETE) {
                CancelIoEx(asHandle(handle), &found->second->overlapped);
                GetOverlappedResult(asHandle(handle), &found->second->overlapped, &bytes, TRUE);
            }
            release(found->second->completion);
            pending_.erase(found);
        }
        if (request) {
            pending_.emplace(handle, std::move(request));
        }
    }

    std::mutex mutex_;
    std::map<DeviceHandle, std::unique_ptr<PendingRequest>> pending_;
    std::map<Registration, std::unique_ptr<ForwardedEvent>> registered_;
};

}  // namespace

DriverPort* win32DriverInstance() {
    static Win32Driver instance;
    return &instance;
}

}  // namespace kqfw
