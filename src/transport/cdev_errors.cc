#include "transport/cdev_errors.h"

#include <cerrno>

namespace kqfw {

namespace {

// Response codes as the kernel defines them; spelt out so the table builds on every platform.
constexpr uint32_t kRcodeComplete = 0x0;
constexpr uint32_t kRcodeDataError = 0x5;
constexpr uint32_t kRcodeTypeError = 0x6;
constexpr uint32_t kRcodeAddressError = 0x7;
constexpr uint32_t kRcodeSendError = 0x10;
constexpr uint32_t kRcodeCancelled = 0x11;
constexpr uint32_t kRcodeBusy = 0x12;
constexpr uint32_t kRcodeGeneration = 0x13;
constexpr uint32_t kRcodeNoAck = 0x14;

struct Pair {
    uint32_t error;
    uint32_t code;
};

// The camera answers an address it does not have with an address error and refuses a write with
// a type error; no answer at all is a missing acknowledgement.
constexpr Pair kResponses[] = {
    {0, kRcodeComplete},
    {kErrorGenFailure, kRcodeAddressError},
    {kErrorInvalidFunction, kRcodeTypeError},
    {kErrorInvalidParameter, kRcodeDataError},
    {kErrorSemTimeout, kRcodeNoAck},
    {kErrorBusReset, kRcodeGeneration},
    {kErrorDeviceNotConnected, kRcodeSendError},
    {kErrorOperationAborted, kRcodeCancelled},
    {kErrorNotEnoughMemory, kRcodeBusy},
};

constexpr Pair kErrnos[] = {
    {kErrorFileNotFound, ENOENT},       {kErrorInvalidHandle, EBADF},
    {kErrorNotEnoughMemory, ENOMEM},    {kErrorGenFailure, EIO},
    {kErrorNotSupported, EOPNOTSUPP},   {kErrorInvalidParameter, EINVAL},
    {kErrorInsufficientBuffer, ENOSPC}, {kErrorOperationAborted, ECANCELED},
    {kErrorDeviceNotConnected, ENODEV}, {kErrorBusReset, ESTALE},
    {kErrorInvalidFunction, ENOTTY},    {kErrorSemTimeout, ETIMEDOUT},
    {kErrorAccessDenied, EACCES},       {kErrorBusy, EBUSY},
};

}  // namespace

uint32_t errorOfResponseCode(uint32_t rcode) {
    for (const Pair& p : kResponses) {
        if (p.code == rcode) {
            return p.error;
        }
    }
    return kErrorGenFailure;
}

uint32_t responseCodeOf(uint32_t error) {
    for (const Pair& p : kResponses) {
        if (p.error == error) {
            return p.code;
        }
    }
    return kRcodeAddressError;
}

uint32_t errorOfErrno(int errnoValue) {
    for (const Pair& p : kErrnos) {
        if (static_cast<int>(p.code) == errnoValue) {
            return p.error;
        }
    }
    return kErrorGenFailure;
}

int errnoOf(uint32_t error) {
    for (const Pair& p : kErrnos) {
        if (p.error == error) {
            return static_cast<int>(p.code);
        }
    }
    return EIO;
}

}  // namespace kqfw
