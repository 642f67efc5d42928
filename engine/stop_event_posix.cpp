#include <chrono>

#include "engine/stop_event.h"

namespace ov {

StopEvent::StopEvent() = default;
StopEvent::~StopEvent() = default;

void StopEvent::Set() {
    std::lock_guard<std::mutex> guard(mutex);
    signalled = true;
    changed.notify_all();
}

void StopEvent::Reset() {
    std::lock_guard<std::mutex> guard(mutex);
    signalled = false;
}

StopEvent::Wait StopEvent::WaitFor(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex);
    if (ms == kForever) {
        changed.wait(lock, [this] { return signalled; });
        return Wait::Signalled;
    }
    return changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled; }) ? Wait::Signalled
                                                                                               : Wait::TimedOut;
}

void* StopEvent::Handle() const {
    return nullptr;
}

}  // namespace ov
