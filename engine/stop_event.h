// The manual-reset event that ends every wait of a volume's thread at once.
// On Windows it is a real event, so a watcher can wait on it together with its
// own completion event; natively a mutex and a condition variable stand in.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace ov {

class StopEvent {
public:
    enum class Wait { Signalled, TimedOut, Failed };
    static constexpr uint32_t kForever = 0xFFFFFFFFu;

    StopEvent();
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    void Set();
    void Reset();
    // Waits up to ms milliseconds (kForever: no time-out). Failed only when the
    // platform could not make or wait on the event; callers treat it as a stop.
    Wait WaitFor(uint32_t ms);
    // The event HANDLE for waits on several objects; null natively.
    void* Handle() const;
#ifndef _WIN32
    // Natively, a descriptor that polls readable while the event is set (-1
    // when it could not be made: such a waiter polls with a time-out).
    int PollFd() const {
        return fd;
    }
#endif

private:
#ifdef _WIN32
    void* handle = nullptr;
#else
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    int fd = -1;  // an eventfd holding 1 while signalled
#endif
};

}  // namespace ov
