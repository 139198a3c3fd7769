#include "acquisition/receive_thread.h"

#include <mutex>

#include "acquisition/stream_setup.h"

namespace kqfw {

namespace {
constexpr size_t kThreadStackBytes = 10000;
}

bool StartReceiveThread(CameraContext& c, int32_t index) {
    const bool streaming = c.streaming != 0;
    void* buffer = c.useAuxBuffer != 0 ? c.auxBuffer : c.streamBuffer;
    c.receiveStatus = 0;
    if (c.receiveThread.ended()) {
        c.receiveThread.join();  // a receive thread that ended joins at once
    }
    return c.receiveThread.start(
        [&c, index, streaming, buffer] {
            ServingCamera serving(index);
            c.busy = 1;
            uint32_t status = 0;
            {
                std::lock_guard lock(c.registerLock);
                status = GetBuffer(c, buffer);
            }
            // The callback is the one registered when the receive ended, as the application
            // last set it; it is read before `busy` clears, while the record is certainly the
            // call's, and called after.
            const ImageDoneCallback imageDone = c.imageDoneCallback;
            const uint64_t imageDoneData = c.imageDoneUserData;
            c.receiveStatus = status;
            c.busy = 0;
            c.triggerEvent->set();
            if (streaming) {
                c.frameEvent->set();
            } else if (imageDone != nullptr) {
                imageDone(imageDoneData);
            }
        },
        kThreadStackBytes, ThreadPriority::kHighest);
}

void ReapRunThreads(CameraLease& lease) {
    CameraContext& c = *lease.get();
    if (c.busy != 0) {
        return;  // a receive is attached: the threads are those of a live run or frame
    }
    lease.leaveSettings();
    c.receiveThread.join();
    c.continuousThread.join();
    lease.enterSettings();
}

}  // namespace kqfw
