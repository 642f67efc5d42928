// The few platform services the portable core needs. Windows builds call the
// Win32 API; native builds use the C++ and POSIX libraries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#ifndef _WIN32
#include <condition_variable>
#include <shared_mutex>
#endif

namespace ov {

#ifdef _WIN32
using WChar = wchar_t;
#else
using WChar = char16_t;
#endif
// UTF-16 text as the platform speaks it.
using WString = std::basic_string<WChar>;

#ifdef _WIN32
// The index's reader/writer lock: a slim reader/writer lock of the system. The
// MinGW library's std::shared_mutex sits on its own pthread emulation, which
// let a writer in beside a reader and hung under load; this is the lock Windows
// programs use. Same interface as std::shared_mutex; not recursive.
class SharedMutex {
public:
    SharedMutex() = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();
    void lock_shared();
    bool try_lock_shared();
    void unlock_shared();

private:
    void* state = nullptr;  // an SRWLOCK, which is one pointer initialised to 0
};

// Where the thread pool's idle threads sleep: a slim lock and a condition
// variable of the system. MinGW's std::condition_variable wakes through its
// pthread emulation's semaphores, kernel objects that cost Wine a server round
// trip per sleeper; a job that found the pool asleep waited on them longer than
// its tasks ran.
class SlimMutex {
public:
    SlimMutex() = default;
    SlimMutex(const SlimMutex&) = delete;
    SlimMutex& operator=(const SlimMutex&) = delete;

    void lock();
    void unlock();

private:
    friend class SlimCondition;
    void* state = nullptr;  // an SRWLOCK
};

class SlimCondition {
public:
    SlimCondition() = default;
    SlimCondition(const SlimCondition&) = delete;
    SlimCondition& operator=(const SlimCondition&) = delete;

    // lock holds its mutex; it is released while sleeping and held again on return.
    void wait(std::unique_lock<SlimMutex>& lock);
    template <class Ready>
    void wait(std::unique_lock<SlimMutex>& lock, Ready ready) {
        while (!ready()) wait(lock);
    }
    void notify_all();

private:
    void* state = nullptr;  // a CONDITION_VARIABLE
};
#else
using SharedMutex = std::shared_mutex;
using SlimMutex = std::mutex;
using SlimCondition = std::condition_variable;
#endif

struct LocalDate {
    int year = 1601;
    int month = 1;
    int day = 1;
    int dayOfWeek = 0;  // 0 = Sunday
};

namespace platform {

// Lower-cases UTF-16 units in place, one unit for one unit, independent of the
// user's locale. Units without a lower-case form are left alone.
void LowerUnits(WChar* units, size_t count);

// Monotonic milliseconds.
double MonotonicMs();

// Current time as UTC FILETIME ticks (100 ns since 1601).
uint64_t UtcNow();

// Today's local calendar date.
LocalDate LocalToday();

// Treats ticks as a local wall-clock time and converts it to UTC. False when
// the platform cannot convert it (the caller keeps the local value).
bool LocalTicksToUtc(uint64_t localTicks, uint64_t& utcTicks);

// Tests pin "now" with this; 0 returns to the real clock. Not for product code.
void SetFixedNowForTesting(uint64_t utcTicks);

}  // namespace platform
}  // namespace ov
