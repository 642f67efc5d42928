// Native stand-ins for the Windows calls: a locale-independent lower-case table
// built once from the C.UTF-8 locale, steady_clock, and localtime_r/mktime.
#include <locale.h>
#include <time.h>
#include <wctype.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>

#include "index/platform.h"

namespace ov::platform {
namespace {

constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
constexpr uint64_t kTicksPerSecond = 10000000ull;

std::atomic<uint64_t> gFixedNow{0};

const std::array<char16_t, 65536>& LowerTable() {
    static const auto table = [] {
        auto t = std::make_unique<std::array<char16_t, 65536>>();
        locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        for (uint32_t u = 0; u < 65536; ++u) {
            uint32_t lower = u;
            if (loc && (u < 0xD800 || u > 0xDFFF)) {
                wint_t l = towlower_l(static_cast<wint_t>(u), loc);
                if (l <= 0xFFFF) lower = static_cast<uint32_t>(l);
            } else if (!loc && u < 0x80 && u >= 'A' && u <= 'Z') {
                lower = u + 0x20;
            }
            (*t)[u] = static_cast<char16_t>(lower);
        }
        if (loc) freelocale(loc);
        return t;
    }();
    return *table;
}

}  // namespace

void LowerUnits(WChar* units, size_t count) {
    const auto& table = LowerTable();
    for (size_t i = 0; i < count; ++i) units[i] = table[static_cast<uint16_t>(units[i])];
}

double MonotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

uint64_t UtcNow() {
    if (uint64_t fixed = gFixedNow.load()) return fixed;
    using namespace std::chrono;
    auto since = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return kUnixEpochTicks + static_cast<uint64_t>(since / 100);
}

LocalDate LocalToday() {
    time_t t = static_cast<time_t>((static_cast<int64_t>(UtcNow()) - static_cast<int64_t>(kUnixEpochTicks)) /
                                   static_cast<int64_t>(kTicksPerSecond));
    struct tm tm {};
    LocalDate d;
    if (!localtime_r(&t, &tm)) return d;
    d.year = tm.tm_year + 1900;
    d.month = tm.tm_mon + 1;
    d.day = tm.tm_mday;
    d.dayOfWeek = tm.tm_wday;
    return d;
}

bool LocalTicksToUtc(uint64_t localTicks, uint64_t& utcTicks) {
    // Split the ticks into a civil date and time (days-to-civil), then let mktime apply the zone.
    // Ticks with the top bit set are no FILETIME (FileTimeToSystemTime refuses them too).
    if (localTicks > static_cast<uint64_t>(INT64_MAX)) return false;
    int64_t rel = static_cast<int64_t>(localTicks) - static_cast<int64_t>(kUnixEpochTicks);
    int64_t secs = rel / static_cast<int64_t>(kTicksPerSecond);
    int64_t frac = rel % static_cast<int64_t>(kTicksPerSecond);
    if (frac < 0) {
        frac += kTicksPerSecond;
        secs -= 1;
    }
    int64_t days = secs / 86400, sod = secs % 86400;
    if (sod < 0) {
        sod += 86400;
        days -= 1;
    }
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    struct tm tm {};
    tm.tm_year = static_cast<int>(y - 1900);
    tm.tm_mon = static_cast<int>(m - 1);
    tm.tm_mday = static_cast<int>(d);
    tm.tm_hour = static_cast<int>(sod / 3600);
    tm.tm_min = static_cast<int>(sod / 60 % 60);
    tm.tm_sec = static_cast<int>(sod % 60);
    tm.tm_isdst = -1;
    errno = 0;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1) && errno != 0) return false;
    // The zone may move a time near either end of the range outside it; test
    // before multiplying, since signed overflow is undefined.
    const int64_t minSecs = -static_cast<int64_t>(kUnixEpochTicks / kTicksPerSecond);
    const int64_t maxSecs =
        (INT64_MAX - static_cast<int64_t>(kUnixEpochTicks)) / static_cast<int64_t>(kTicksPerSecond) - 1;
    if (static_cast<int64_t>(t) < minSecs || static_cast<int64_t>(t) > maxSecs) return false;
    int64_t ticks =
        static_cast<int64_t>(t) * static_cast<int64_t>(kTicksPerSecond) + frac + static_cast<int64_t>(kUnixEpochTicks);
    utcTicks = static_cast<uint64_t>(ticks);
    return true;
}

void SetFixedNowForTesting(uint64_t utcTicks) {
    gFixedNow.store(utcTicks);
}

}  // namespace ov::platform
