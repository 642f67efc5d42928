#include <windows.h>

#include "engine/stop_event.h"

namespace ov {

StopEvent::StopEvent() : handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

StopEvent::~StopEvent() {
    if (handle) CloseHandle(handle);
}

void StopEvent::Set() {
    if (handle) SetEvent(handle);
}

void StopEvent::Reset() {
    if (handle) ResetEvent(handle);
}

StopEvent::Wait StopEvent::WaitFor(uint32_t ms) {
    if (!handle) return Wait::Failed;
    switch (WaitForSingleObject(handle, ms == kForever ? INFINITE : ms)) {
        case WAIT_OBJECT_0:
            return Wait::Signalled;
        case WAIT_TIMEOUT:
            return Wait::TimedOut;
        default:
            return Wait::Failed;
    }
}

void* StopEvent::Handle() const {
    return handle;
}

}  // namespace ov
