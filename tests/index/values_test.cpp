// Size and date values. Dates are checked under a fixed clock in
// three zones against a naive reference of each zone's rules: UTC, New York
// and Berlin (both with daylight saving, changing on different days).
// Natively each zone is entered with TZ and tzset. Under Wine the zone is the
// one the process started with (tests/CMakeLists.txt gives this test
// TZ=America/New_York); a zone the process is not in is skipped.
#include "index/values.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "index/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace ov {
namespace {

constexpr uint64_t kMax = kOpenEnd;
constexpr uint64_t kMinute = 60 * kTicksPerSecond;
constexpr uint64_t kHour = 60 * kMinute;
constexpr uint64_t kDay = 24 * kHour;

// ---- Sizes ---------------------------------------------------------------

TEST(Values, SizeUnitMultiplierReadsTheLetters) {
    struct Case {
        const char* text;
        uint64_t want;
    } cases[] = {
        {"1k", 1024},
        {"1KB", 1024},
        {"2.5m", 1048576},
        {"3gb", 1073741824},
        {"1t", 1099511627776ull},
        {"1TB", 1099511627776ull},
        {"100", 1},
        {"1b", 1},
        {"5bytes", 1},
        {"1kib", 1},
        {"1e3", 1},
        {"", 1},
        {"k1", 1024},
        {"1\xC3\xA9k", 1024},  // bytes of 0x80 and above are no letters
    };
    for (const Case& c : cases) EXPECT_EQ(SizeUnitMultiplier(c.text), c.want) << c.text;
}

TEST(Values, SizeRanges) {
    struct Case {
        std::string text;
        bool ok;
        uint64_t lo, hi;
    } cases[] = {
        {"10", true, 10, 11},
        {"100", true, 100, 101},
        {"1.5kb", true, 1536, 2560},
        {"0.5", true, 1, 2},  // rounded half up
        {"1mb", true, 1048576, 2097152},
        {"=1mb", true, 1048576, 2097152},
        {"1gb..5gb", true, 1073741824, 6442450944ull},
        {">=1mb", true, 1048576, kMax},
        {"<=1mb", true, 0, 2097152},
        {">1mb", true, 2097152, kMax},  // the value 1 MiB covers [1 MiB, 2 MiB), and > is past it
        {"<1mb", true, 0, 1048576},
        {"<=1.5mb", true, 0, 1572864 + 1048576},
        {">=0", true, 0, kMax},
        {"<0", true, 0, 0},
        {"2gb..1gb", true, 2147483648ull, 2147483648ull},  // empty, keeps nothing
        {"1B", true, 1, 2},
        {"1 ", true, 1, 2},  // trailing blanks go
        {"1e3", true, 1000, 1001},
        {"-0", true, 0, 1},
        {"16777215tb", true, 18446742974197923840ull, kMax},  // hi saturates instead of wrapping
        {"10 kb", false, 0, 0},                               // blank before the unit
        {"-1", false, 0, 0},
        {"1kib", false, 0, 0},
        {"abc", false, 0, 0},
        {"", false, 0, 0},
        {">", false, 0, 0},
        {"..", false, 0, 0},
        {"1..", false, 0, 0},
        {"..1", false, 0, 0},
        {"> 1", true, 2, kMax},  // strtod skips leading white space
        {">=-1", false, 0, 0},
        // Values that do not fit 64 bits, inf and nan are errors.
        {"inf", false, 0, 0},
        {"-inf", false, 0, 0},
        {"nan", false, 0, 0},
        {"1e30", false, 0, 0},
        {"1e400", false, 0, 0},
        {"18446744073709551616", false, 0, 0},
        {"17179869184gb", false, 0, 0},  // exactly 2^64
        {">=inf", false, 0, 0},
        {"1..1e300tb", false, 0, 0},
        {std::string("1\0kb", 4), false, 0, 0},  // a NUL cannot hide a bad unit
        {"1\xC3\xA9", false, 0, 0},
    };
    for (const Case& c : cases) {
        uint64_t lo = 0, hi = 0;
        bool ok = ParseSizeRange(c.text, lo, hi);
        EXPECT_EQ(ok, c.ok) << "'" << c.text << "'";
        if (ok && c.ok) {
            EXPECT_EQ(lo, c.lo) << c.text;
            EXPECT_EQ(hi, c.hi) << c.text;
        }
    }
}

TEST(Values, SizeNumberAndValue) {
    uint64_t v = 0, lo = 0, hi = 0;
    EXPECT_TRUE(ParseSizeNumber("1.5kb", v));
    EXPECT_EQ(v, 1536u);
    EXPECT_TRUE(ParseSizeNumber("0", v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseSizeNumber("2TB", v));
    EXPECT_EQ(v, 2199023255552ull);
    EXPECT_TRUE(ParseSizeNumber("18446744073709549568", v));  // the largest double below 2^64
    EXPECT_EQ(v, 18446744073709549568ull);
    EXPECT_FALSE(ParseSizeNumber("   ", v));
    EXPECT_TRUE(ParseSizeValue("1.5kb", lo, hi));
    EXPECT_EQ(lo, 1536u);
    EXPECT_EQ(hi, 2560u);
}

// ---- Reference time zones --------------------------------------------------

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int WeekDay(int y, int m, int d) {  // 0 = Sunday
    int64_t days = DaysFromCivil(y, m, d);
    return static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
}

int NthSunday(int y, int m, int n) {
    return 1 + (7 - WeekDay(y, m, 1)) % 7 + 7 * (n - 1);
}
int LastSunday(int y, int m) {
    int last = static_cast<int>(DaysFromCivil(y, m + 1, 1) - DaysFromCivil(y, m, 1));
    return last - WeekDay(y, m, last);
}

// Seconds of a civil time since 1970 (either side of the zone).
int64_t CivilSeconds(int y, int m, int d, int h = 0, int mi = 0) {
    return DaysFromCivil(y, m, d) * 86400 + h * 3600 + mi * 60;
}

uint64_t FromUnixSeconds(int64_t s) {
    return kUnixEpochFileTime + static_cast<uint64_t>(s) * kTicksPerSecond;
}

struct Zone {
    const char* name;                        // TZ value natively
    int standardMinutes;                     // offset east of UTC
    int (*dst)(int y, int m, int d, int h);  // 1 when daylight saving is in force at that local time
};

int NoDst(int, int, int, int) {
    return 0;
}
int NewYorkDst(int y, int m, int d, int h) {  // since 2007: 2nd Sunday in March to 1st Sunday in November, 2:00
    int64_t t = CivilSeconds(y, m, d, h);
    return t >= CivilSeconds(y, 3, NthSunday(y, 3, 2), 2) && t < CivilSeconds(y, 11, NthSunday(y, 11, 1), 1);
}
int BerlinDst(int y, int m, int d, int h) {  // EU: last Sunday in March 2:00 to last Sunday in October 3:00
    int64_t t = CivilSeconds(y, m, d, h);
    return t >= CivilSeconds(y, 3, LastSunday(y, 3), 2) && t < CivilSeconds(y, 10, LastSunday(y, 10), 2);
}

const Zone kUtc{"UTC", 0, NoDst};
const Zone kNewYork{"America/New_York", -300, NewYorkDst};
const Zone kBerlin{"Europe/Berlin", 60, BerlinDst};

// UTC ticks of a local time in the zone, rolled over like LocalFt.
uint64_t LocalAt(const Zone& z, int y, int m, int d, int h = 0) {
    const int64_t t = CivilSeconds(y, m, d, h);  // DaysFromCivil rolls the day over
    // Split t back into a civil date and hour (days-to-civil) to ask the zone's rule.
    int64_t days = t / 86400, sod = t % 86400;
    if (sod < 0) sod += 86400, days -= 1;
    const int64_t z0 = days + 719468;
    const int64_t era = (z0 >= 0 ? z0 : z0 - 146096) / 146097;
    const int64_t doe = z0 - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int cd = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int cm = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int cy = static_cast<int>(yoe + era * 400 + (cm <= 2));
    const int offset = z.standardMinutes + 60 * z.dst(cy, cm, cd, static_cast<int>(sod / 3600));
    return FromUnixSeconds(t - offset * 60);
}

uint64_t Utc(int y, int m, int d, int h = 0, int mi = 0) {
    return FromUnixSeconds(CivilSeconds(y, m, d, h, mi));
}

// Enters a zone for the life of the object, or says why it cannot.
class ZoneScope {
public:
    explicit ZoneScope(const Zone& zone) {
#ifdef _WIN32
        TIME_ZONE_INFORMATION tzi{};
        GetTimeZoneInformation(&tzi);
        const bool hasDst = tzi.DaylightDate.wMonth != 0 && tzi.DaylightBias != 0;
        const bool wantDst = zone.dst != NoDst;
        if (-tzi.Bias != zone.standardMinutes || hasDst != wantDst)
            why_ = std::string("the process runs in another zone (bias ") + std::to_string(tzi.Bias) +
                   "); under Wine the zone comes from TZ when the program starts";
#else
        if (zone.dst != NoDst) {
            struct stat st;
            std::string file = std::string("/usr/share/zoneinfo/") + zone.name;
            if (stat(file.c_str(), &st) != 0) {
                why_ = "tzdata is not installed (" + file + " is missing)";
                return;
            }
        }
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", zone.name, 1);
        tzset();
        entered_ = true;
#endif
    }
    ~ZoneScope() {
#ifndef _WIN32
        if (!entered_) return;
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
#endif
    }
    const std::string& why() const {
        return why_;
    }

private:
    std::string why_;
    std::string old_;
    bool hadOld_ = false;
    bool entered_ = false;
};

class FixedNow {
public:
    explicit FixedNow(uint64_t now) { platform::SetFixedNowForTesting(now); }
    ~FixedNow() { platform::SetFixedNowForTesting(0); }
};

class ZoneValues : public ::testing::TestWithParam<const Zone*> {
protected:
    void SetUp() override {
        scope_ = std::make_unique<ZoneScope>(*GetParam());
        if (!scope_->why().empty()) GTEST_SKIP() << GetParam()->name << ": " << scope_->why();
    }
    void TearDown() override { scope_.reset(); }
    const Zone& zone() const { return *GetParam(); }

private:
    std::unique_ptr<ZoneScope> scope_;
};

// One expected bound: a local midnight, now minus a span, 0 or max.
struct Bound {
    enum Kind { Local, Ago, Zero, Max } kind;
    int y = 0, m = 0, d = 0;
    uint64_t ticks = 0;
};
Bound L(int y, int m, int d) {
    return {Bound::Local, y, m, d, 0};
}
Bound Ago(uint64_t ticks) {
    return {Bound::Ago, 0, 0, 0, ticks};
}
const Bound kZero{Bound::Zero};
const Bound kMaxB{Bound::Max};

uint64_t Resolve(const Zone& z, const Bound& b, uint64_t now) {
    switch (b.kind) {
        case Bound::Local:
            return LocalAt(z, b.y, b.m, b.d);
        case Bound::Ago:
            return now - b.ticks;
        case Bound::Zero:
            return 0;
        default:
            return kMax;
    }
}

struct DateCase {
    const char* text;
    bool ok;
    Bound from, to;
};

// Fixed now: Wednesday 2024-03-13 12:00 UTC, the same local date in all three zones.
const DateCase kDateValues[] = {
    {"today", true, L(2024, 3, 13), L(2024, 3, 14)},
    {"TODAY", true, L(2024, 3, 13), L(2024, 3, 14)},
    {"yesterday", true, L(2024, 3, 12), L(2024, 3, 13)},
    {"thisweek", true, L(2024, 3, 10), L(2024, 3, 17)},  // weeks start on Sunday
    {"lastweek", true, L(2024, 3, 3), L(2024, 3, 10)},
    {"thismonth", true, L(2024, 3, 1), L(2024, 4, 1)},
    {"lastmonth", true, L(2024, 2, 1), L(2024, 3, 1)},
    {"thisyear", true, L(2024, 1, 1), L(2025, 1, 1)},
    {"lastyear", true, L(2023, 1, 1), L(2024, 1, 1)},
    {"24hours", true, Ago(24 * kHour), kMaxB},
    {"last24hours", true, Ago(24 * kHour), kMaxB},
    {"lastday", true, L(2024, 3, 12), kMaxB},
    {"last7days", true, L(2024, 3, 6), kMaxB},
    {"past7days", true, L(2024, 3, 6), kMaxB},
    {"prev2weeks", true, L(2024, 2, 28), kMaxB},
    {"last2months", true, L(2024, 1, 13), kMaxB},
    {"lastmonths", true, L(2024, 2, 13), kMaxB},  // no number: one
    {"last1year", true, L(2023, 3, 13), kMaxB},
    {"last3hours", true, Ago(3 * kHour), kMaxB},
    {"last90min", true, Ago(90 * kMinute), kMaxB},
    {"2weeks", true, Ago(14 * kDay), kMaxB},
    {"30sec", true, Ago(30 * kTicksPerSecond), kMaxB},
    {"10minutes", true, Ago(10 * kMinute), kMaxB},
    {"2h", true, Ago(2 * kHour), kMaxB},
    {"1month", true, Ago(30 * kDay), kMaxB},
    {"1year", true, Ago(365 * kDay), kMaxB},
    // Spans reaching before 1601 start at the beginning instead of wrapping.
    {"100000years", true, kZero, kMaxB},
    {"99999weeks", true, kZero, kMaxB},
    {"last100000years", true, kZero, kMaxB},
    {"last100000months", true, kZero, kMaxB},
    {"2024", true, L(2024, 1, 1), L(2025, 1, 1)},
    {"9999", true, L(9999, 1, 1), L(10000, 1, 1)},
    {"2024-02", true, L(2024, 2, 1), L(2024, 3, 1)},
    {"2/2024", true, L(2024, 2, 1), L(2024, 3, 1)},
    {"2024-02-30", true, L(2024, 3, 1), L(2024, 3, 2)},  // day roll-over
    {"1/2/25", true, L(2025, 1, 2), L(2025, 1, 3)},
    {"12/31/99", true, L(2099, 12, 31), L(2100, 1, 1)},  // two digits are always 20yy
    {"1/1/0", true, L(2000, 1, 1), L(2000, 1, 2)},
    {"1/1/2025", true, L(2025, 1, 1), L(2025, 1, 2)},
    {"2024-13-01", true, L(2025, 1, 1), L(2025, 1, 2)},  // month roll-over
    {"2024-0-1", true, L(2023, 12, 1), L(2023, 12, 2)},
    {"2024/01/05", true, L(2173, 8, 1), L(2173, 8, 2)},       // y/m/d is read as m/d/y: month 2024 of 2005 rolls over
    {"2024-03-13xyz", true, L(2024, 3, 13), L(2024, 3, 14)},  // text after the last field is ignored
    {"1600", false, {}, {}},
    {"10000", false, {}, {}},
    {"last0days", false, {}, {}},
    {"last100001days", false, {}, {}},
    {"last 7 days", false, {}, {}},
    {"last7", false, {}, {}},
    {"3hrs", false, {}, {}},
    {"abc", false, {}, {}},
    {"", false, {}, {}},
    {"last", false, {}, {}},
    {"2024-", false, {}, {}},
    {"2024x", false, {}, {}},
    {"2024.02", false, {}, {}},
    {"2024-02/01", false, {}, {}},
    {"24/2", false, {}, {}},
    // A typed year outside 1601-9999 is an error in every form.
    {"1600-01", false, {}, {}},
    {"10000-01", false, {}, {}},
    {"1/10000", false, {}, {}},
    {"1600-12-31", false, {}, {}},
    {"1/1/1500", false, {}, {}},
    {"1/1/-5", false, {}, {}},
    {"99999999999999", false, {}, {}},
};

TEST_P(ZoneValues, DateValuesUnderAFixedClock) {
    const uint64_t now = Utc(2024, 3, 13, 12);
    FixedNow fixed(now);
    for (const DateCase& c : kDateValues) {
        std::string text = c.text;
        uint64_t from = 0, to = 0;
        bool ok = ParseDateValue(text, from, to);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (!ok || !c.ok) continue;
        EXPECT_EQ(from, Resolve(zone(), c.from, now)) << c.text;
        EXPECT_EQ(to, Resolve(zone(), c.to, now)) << c.text;
    }
}

TEST_P(ZoneValues, DateValueIsLoweredInPlace) {
    FixedNow fixed(Utc(2024, 3, 13, 12));
    std::string text = "LastWeek";
    uint64_t from = 0, to = 0;
    EXPECT_TRUE(ParseDateValue(text, from, to));
    EXPECT_EQ(text, "lastweek");
}

TEST_P(ZoneValues, DateRanges) {
    const uint64_t now = Utc(2024, 3, 13, 12);
    FixedNow fixed(now);
    struct Case {
        const char* text;
        bool ok;
        Bound lo, hi;
    } cases[] = {
        {">=1/1/2025", true, L(2025, 1, 1), kMaxB},
        {"<2024", true, kZero, L(2024, 1, 1)},
        {"<=2024", true, kZero, L(2025, 1, 1)},
        {">2024", true, L(2025, 1, 1), kMaxB},
        {"=today", true, L(2024, 3, 13), L(2024, 3, 14)},
        {"Today", true, L(2024, 3, 13), L(2024, 3, 14)},
        {"2023..2024", true, L(2023, 1, 1), L(2025, 1, 1)},
        {"2025..2023", true, L(2025, 1, 1), L(2024, 1, 1)},  // empty
        {"yesterday..today", true, L(2024, 3, 12), L(2024, 3, 14)},
        {">last7days", true, kMaxB, kMaxB},  // a relative value has no upper end, so this keeps nothing
        {"<last7days", true, kZero, L(2024, 3, 6)},
        {">=last7days", true, L(2024, 3, 6), kMaxB},
        {"2024..x", false, {}, {}},
        {">=", false, {}, {}},
        {"..", false, {}, {}},
        {"> 2024", true, L(2025, 1, 1), kMaxB},  // %d skips white space
        {">= 1601..", false, {}, {}},
    };
    for (const Case& c : cases) {
        uint64_t lo = 0, hi = 0;
        bool ok = ParseDateRange(c.text, lo, hi);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (!ok || !c.ok) continue;
        EXPECT_EQ(lo, Resolve(zone(), c.lo, now)) << c.text;
        EXPECT_EQ(hi, Resolve(zone(), c.hi, now)) << c.text;
    }
}

TEST_P(ZoneValues, CalendarEdges) {
    struct Case {
        uint64_t now;
        const char* text;
        Bound from, to;
    } cases[] = {
        {Utc(2024, 3, 10, 12), "thisweek", L(2024, 3, 10), L(2024, 3, 17)},  // a Sunday starts its own week
        {Utc(2024, 1, 15, 12), "lastmonth", L(2023, 12, 1), L(2024, 1, 1)},
        {Utc(2024, 12, 20, 12), "thismonth", L(2024, 12, 1), L(2025, 1, 1)},
        {Utc(2024, 1, 1, 12), "yesterday", L(2023, 12, 31), L(2024, 1, 1)},
        {Utc(2024, 3, 31, 12), "last1month", L(2024, 3, 2), kMaxB},  // 31 February rolls over
        {Utc(2024, 2, 29, 12), "last1year", L(2023, 3, 1), kMaxB},
    };
    for (const Case& c : cases) {
        FixedNow fixed(c.now);
        std::string text = c.text;
        uint64_t from = 0, to = 0;
        ASSERT_TRUE(ParseDateValue(text, from, to)) << c.text;
        EXPECT_EQ(from, Resolve(zone(), c.from, c.now)) << c.text;
        EXPECT_EQ(to, Resolve(zone(), c.to, c.now)) << c.text;
    }
}

// The day that changes daylight saving is 23 or 25 hours long.
TEST_P(ZoneValues, TodayOnDaylightSavingDays) {
    struct Day {
        int y, m, d;
        uint64_t hours;
    };
    std::vector<Day> days;
    if (&zone() == &kNewYork) days = {{2024, 3, 10, 23}, {2024, 11, 3, 25}, {2024, 7, 1, 24}};
    if (&zone() == &kBerlin) days = {{2024, 3, 31, 23}, {2024, 10, 27, 25}, {2024, 7, 1, 24}};
    if (&zone() == &kUtc) days = {{2024, 3, 10, 24}, {2024, 3, 31, 24}, {2024, 10, 27, 24}};
    for (const Day& day : days) {
        FixedNow fixed(Utc(day.y, day.m, day.d, 12));
        std::string text = "today";
        uint64_t from = 0, to = 0;
        ASSERT_TRUE(ParseDateValue(text, from, to));
        EXPECT_EQ(to - from, day.hours * kHour) << day.y << "-" << day.m << "-" << day.d;
        EXPECT_EQ(from, LocalAt(zone(), day.y, day.m, day.d));
    }
}

TEST_P(ZoneValues, LocalFtRollsOverAndClamps) {
    EXPECT_EQ(LocalFt(2024, 3, 13, 0, 0), LocalAt(zone(), 2024, 3, 13));
    EXPECT_EQ(LocalFt(1970, 1, 1, 0, 0), LocalAt(zone(), 1970, 1, 1));
    EXPECT_EQ(LocalFt(2024, 7, 1, 14, 30), LocalAt(zone(), 2024, 7, 1, 14) + 30 * kMinute);
    EXPECT_EQ(LocalFt(2024, 14, 1, 0, 0), LocalFt(2025, 2, 1, 0, 0));
    EXPECT_EQ(LocalFt(2024, 0, 1, 0, 0), LocalFt(2023, 12, 1, 0, 0));
    EXPECT_EQ(LocalFt(2024, -23, 1, 0, 0), LocalFt(2022, 1, 1, 0, 0));
    EXPECT_EQ(LocalFt(2024, 3, 0, 0, 0), LocalFt(2024, 2, 29, 0, 0));
    EXPECT_EQ(LocalFt(2024, 1, 1, 25, 61), LocalFt(2024, 1, 2, 2, 1));
    // Nothing wraps. Before 1601 is 0; past the FILETIME range is its end.
    EXPECT_EQ(LocalFt(1600, 1, 1, 0, 0), 0u);
    EXPECT_EQ(LocalFt(-100000, 1, 1, 0, 0), 0u);
    EXPECT_EQ(LocalFt(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN), 0u);
    EXPECT_EQ(LocalFt(INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX), kMaxFileTime);
    EXPECT_EQ(LocalFt(2024, 1, 1000000000, 0, 0), kMaxFileTime);
    EXPECT_LE(LocalFt(30000, 1, 1, 0, 0), kMaxFileTime);
}

// In the POSIX seam a zone west of UTC moves the last FILETIME past
// the signed range; that is a failed conversion, not an overflow.
TEST_P(ZoneValues, PlatformConversionAtTheEndsOfTheRange) {
    for (uint64_t local :
         {uint64_t{0}, kTicksPerSecond, kMaxFileTime - kDay, kMaxFileTime, kMaxFileTime + 1, kOpenEnd}) {
        uint64_t utc = 0;
        if (platform::LocalTicksToUtc(local, utc)) {
            EXPECT_LE(local, kMaxFileTime);
            EXPECT_LE(utc, kMaxFileTime + 1) << local;
        }
    }
    uint64_t utc = 0;
    EXPECT_FALSE(platform::LocalTicksToUtc(kOpenEnd, utc));
    ASSERT_TRUE(platform::LocalTicksToUtc(Utc(2024, 7, 1, 12), utc));
    EXPECT_EQ(utc, LocalAt(zone(), 2024, 7, 1, 12));
}

// Before the zones' modern rules (local mean time until the 1880s) only roughly.
TEST_P(ZoneValues, LongestRelativeSpan) {
    FixedNow fixed(Utc(2024, 3, 13, 12));
    std::string text = "last100000days";
    uint64_t from = 0, to = 0;
    ASSERT_TRUE(ParseDateValue(text, from, to));
    const uint64_t want = Utc(2024, 3, 13 - 100000);  // 1750-04-25
    EXPECT_LT(from > want ? from - want : want - from, kDay);
    EXPECT_EQ(to, kMax);
}

TEST_P(ZoneValues, HugeDayRollsToTheEndNotAround) {
    FixedNow fixed(Utc(2024, 3, 13, 12));
    std::string text = "2024-01-99999999999";
    uint64_t from = 0, to = 0;
    ASSERT_TRUE(ParseDateValue(text, from, to));
    EXPECT_EQ(from, kMaxFileTime);
    EXPECT_EQ(to, kMaxFileTime);
}

INSTANTIATE_TEST_SUITE_P(Zones, ZoneValues, ::testing::Values(&kUtc, &kNewYork, &kBerlin),
                         [](const ::testing::TestParamInfo<const Zone*>& info) {
                             return std::string(info.param == &kUtc       ? "Utc"
                                                : info.param == &kNewYork ? "NewYork"
                                                                          : "Berlin");
                         });

TEST(Values, RelativeTimeTakesTheClockItIsGiven) {
    DateClock clock{2024, 3, 13, Utc(2024, 3, 13, 12)};
    uint64_t from = 0, to = 0;
    EXPECT_TRUE(ParseRelativeTime("7days", false, clock, from, to));
    EXPECT_EQ(from, clock.now - 7 * kDay);
    EXPECT_EQ(to, kMax);
    EXPECT_TRUE(ParseRelativeTime("days", false, clock, from, to));
    EXPECT_EQ(from, clock.now - kDay);
    EXPECT_FALSE(ParseRelativeTime("-3days", false, clock, from, to));
    EXPECT_FALSE(ParseRelativeTime("99999999999999999999days", false, clock, from, to));
    EXPECT_FALSE(ParseRelativeTime("3", false, clock, from, to));
    clock.now = 5;  // a clock at the very start: every span reaches back past 1601
    EXPECT_TRUE(ParseRelativeTime("1sec", false, clock, from, to));
    EXPECT_EQ(from, 0u);
}

}  // namespace
}  // namespace ov
