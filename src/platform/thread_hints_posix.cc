#include "platform/thread_hints.h"

namespace kqfw {

// Real-time priorities need rights a camera application rarely has; normal threads share the
// processor fairly, which is what the priorities ask for in practice.
void applyThreadPriority(std::thread& /*thread*/, ThreadPriority /*priority*/) {}

}  // namespace kqfw
