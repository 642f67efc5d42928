#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

#include "engine/stop_event.h"

namespace ov {

StopEvent::StopEvent() : fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopEvent::~StopEvent() {
    if (fd >= 0) close(fd);
}

void StopEvent::Set() {
    std::lock_guard<std::mutex> guard(mutex);
    if (!signalled && fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
    }
    signalled = true;
    changed.notify_all();
}

void StopEvent::Reset() {
    std::lock_guard<std::mutex> guard(mutex);
    if (signalled && fd >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
    }
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
