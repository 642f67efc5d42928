#include <windows.h>

#include <atomic>
#include <climits>

#include "index/platform.h"

namespace ov {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "SharedMutex holds an SRWLOCK");

void SharedMutex::lock() {
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state));
}
bool SharedMutex::try_lock() {
    return TryAcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state)) != 0;
}
void SharedMutex::unlock() {
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state));
}
void SharedMutex::lock_shared() {
    AcquireSRWLockShared(reinterpret_cast<PSRWLOCK>(&state));
}
bool SharedMutex::try_lock_shared() {
    return TryAcquireSRWLockShared(reinterpret_cast<PSRWLOCK>(&state)) != 0;
}
void SharedMutex::unlock_shared() {
    ReleaseSRWLockShared(reinterpret_cast<PSRWLOCK>(&state));
}

static_assert(sizeof(CONDITION_VARIABLE) == sizeof(void*), "SlimCondition holds a CONDITION_VARIABLE");

void SlimMutex::lock() {
    AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state));
}
void SlimMutex::unlock() {
    ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state));
}

void SlimCondition::wait(std::unique_lock<SlimMutex>& lock) {
    SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&state),
                              reinterpret_cast<PSRWLOCK>(&lock.mutex()->state), INFINITE, 0);
}
void SlimCondition::notify_all() {
    WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&state));
}

}  // namespace ov

namespace ov::platform {
namespace {

std::atomic<uint64_t> gFixedNow{0};

uint64_t FromFileTime(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

}  // namespace

void LowerUnits(WChar* units, size_t count) {
    // In place, invariant locale; on failure the ASCII-lowered units stay.
    while (count > 0) {
        int n = count > INT_MAX / 2 ? INT_MAX / 2 : static_cast<int>(count);
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, units, n, units, n, nullptr, nullptr, 0);
        units += n;
        count -= static_cast<size_t>(n);
    }
}

double MonotonicMs() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / frequency;
}

uint64_t UtcNow() {
    if (uint64_t fixed = gFixedNow.load()) return fixed;
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return FromFileTime(ft);
}

LocalDate LocalToday() {
    SYSTEMTIME st;
    if (uint64_t fixed = gFixedNow.load()) {
        FILETIME ft = ToFileTime(fixed);
        SYSTEMTIME utc;
        if (!FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &st)) GetLocalTime(&st);
    } else {
        GetLocalTime(&st);
    }
    LocalDate d;
    d.year = st.wYear;
    d.month = st.wMonth;
    d.day = st.wDay;
    d.dayOfWeek = st.wDayOfWeek;
    return d;
}

bool LocalTicksToUtc(uint64_t localTicks, uint64_t& utcTicks) {
    FILETIME local = ToFileTime(localTicks);
    SYSTEMTIME localSt, utcSt;
    if (!FileTimeToSystemTime(&local, &localSt)) return false;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &localSt, &utcSt)) return false;
    FILETIME utc;
    if (!SystemTimeToFileTime(&utcSt, &utc)) return false;
    utcTicks = FromFileTime(utc);
    return true;
}

void SetFixedNowForTesting(uint64_t utcTicks) {
    gFixedNow.store(utcTicks);
}

}  // namespace ov::platform
