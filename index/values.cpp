// Size and date values. Two rules keep every input
// defined: sizes and dates are computed in 64-bit signed or checked unsigned
// arithmetic and clamped instead of wrapping, and a number that does not fit
// (a size of 2^64 or more, inf, nan, a typed year outside 1601-9999) is a
// failed value, which the parser turns into its error text.
#include "index/values.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "index/platform.h"

namespace ov {
namespace {

constexpr uint64_t kKib = 1024ull;
constexpr uint64_t kMib = kKib * 1024;
constexpr uint64_t kGib = kMib * 1024;
constexpr uint64_t kTib = kGib * 1024;

constexpr uint64_t kSecondTicks = kTicksPerSecond;
constexpr uint64_t kMinuteTicks = 60 * kSecondTicks;
constexpr uint64_t kHourTicks = 60 * kMinuteTicks;
constexpr uint64_t kDayTicks = 24 * kHourTicks;
constexpr uint64_t kWeekTicks = 7 * kDayTicks;
constexpr uint64_t kMonthTicks = 30 * kDayTicks;
constexpr uint64_t kYearTicks = 365 * kDayTicks;

constexpr int kFirstYear = 1601;
constexpr int kLastYear = 9999;
// Scanned date numbers saturate here: far outside any date, and small enough
// that n + 1 and 7 * n-style arithmetic on them stays inside int.
constexpr int kScanLimit = 1000000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

bool IsAlpha(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string Lowered(std::string text) {
    for (char& c : text) c = Lower(c);
    return text;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return a > kOpenEnd - b ? kOpenEnd : a + b;
}

// The multiplier of a unit word, or 0 when it is not one.
uint64_t UnitWord(const std::string& unit) {
    if (unit.empty() || unit == "b" || unit == "bytes") return 1;
    if (unit == "k" || unit == "kb") return kKib;
    if (unit == "m" || unit == "mb") return kMib;
    if (unit == "g" || unit == "gb") return kGib;
    if (unit == "t" || unit == "tb") return kTib;
    return 0;
}

// Reads like sscanf's %d: white space skipped, an optional sign, at least one
// digit. Values saturate at +-kScanLimit (sscanf's overflow is undefined).
bool ScanInt(const std::string& s, size_t& pos, int& out) {
    size_t i = pos;
    while (i < s.size() && IsSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= s.size() || !IsDigit(s[i])) return false;
    int64_t value = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > kScanLimit) value = kScanLimit;
    }
    out = static_cast<int>(negative ? -value : value);
    pos = i;
    return true;
}

// The number of fields sscanf(text, "%d%c%d%c%d") would assign.
int ScanDate(const std::string& s, int& a, char& c1, int& b, char& c2, int& c) {
    size_t pos = 0;
    if (!ScanInt(s, pos, a)) return 0;
    if (pos >= s.size()) return 1;
    c1 = s[pos++];
    if (!ScanInt(s, pos, b)) return 2;
    if (pos >= s.size()) return 3;
    c2 = s[pos++];
    if (!ScanInt(s, pos, c)) return 4;
    return 5;
}

bool YearOk(int year) {
    return year >= kFirstYear && year <= kLastYear;
}

// [first day, day after last) of a calendar span given as local dates.
bool LocalSpan(int y1, int m1, int d1, int y2, int m2, int d2, uint64_t& from, uint64_t& to) {
    from = LocalFt(y1, m1, d1, 0, 0);
    to = LocalFt(y2, m2, d2, 0, 0);
    return true;
}

bool NamedPeriod(const std::string& text, const LocalDate& d, uint64_t& from, uint64_t& to) {
    const int y = d.year, m = d.month, day = d.day, w = d.dayOfWeek;
    if (text == "today") return LocalSpan(y, m, day, y, m, day + 1, from, to);
    if (text == "yesterday") return LocalSpan(y, m, day - 1, y, m, day, from, to);
    if (text == "thisweek") return LocalSpan(y, m, day - w, y, m, day - w + 7, from, to);
    if (text == "lastweek") return LocalSpan(y, m, day - w - 7, y, m, day - w, from, to);
    if (text == "thismonth") return LocalSpan(y, m, 1, y, m + 1, 1, from, to);
    if (text == "lastmonth") return LocalSpan(y, m - 1, 1, y, m, 1, from, to);
    if (text == "thisyear") return LocalSpan(y, 1, 1, y + 1, 1, 1, from, to);
    if (text == "lastyear") return LocalSpan(y - 1, 1, 1, y, 1, 1, from, to);
    return false;
}

// The absolute forms read through the "%d%c%d%c%d" pattern.
bool AbsoluteDate(const std::string& text, uint64_t& from, uint64_t& to) {
    int a = 0, b = 0, c = 0;
    char c1 = 0, c2 = 0;
    switch (ScanDate(text, a, c1, b, c2, c)) {
        case 1:
            return YearOk(a) && LocalSpan(a, 1, 1, a + 1, 1, 1, from, to);
        case 3:
            if (c1 == '-') return YearOk(a) && LocalSpan(a, b, 1, a, b + 1, 1, from, to);
            if (c1 == '/') return YearOk(b) && LocalSpan(b, a, 1, b, a + 1, 1, from, to);
            return false;
        case 5:
            if (c1 == '-' && c2 == '-') return YearOk(a) && LocalSpan(a, b, c, a, b, c + 1, from, to);
            if (c1 == '/' && c2 == '/') {
                if (c >= 0 && c < 100) c += 2000;
                return YearOk(c) && LocalSpan(c, a, b, c, a, b + 1, from, to);
            }
            return false;
        default:
            return false;
    }
}

// from = now - span, or 0 when the span reaches back to 1601 or beyond.
uint64_t Before(uint64_t now, uint64_t n, uint64_t unitTicks) {
    if (unitTicks > now / n) return 0;  // n * unitTicks > now, without overflow
    uint64_t span = n * unitTicks;
    return span < now ? now - span : 0;
}

}  // namespace

uint64_t SizeUnitMultiplier(const std::string& text) {
    std::string letters;
    for (char c : text)
        if (IsAlpha(c)) letters.push_back(Lower(c));
    if (letters == "k" || letters == "kb") return kKib;
    if (letters == "m" || letters == "mb") return kMib;
    if (letters == "g" || letters == "gb") return kGib;
    if (letters == "t" || letters == "tb") return kTib;
    return 1;
}

bool ParseSizeNumber(const std::string& text, uint64_t& bytes) {
    std::string t = text;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    if (t.empty()) return false;
    const char* start = t.c_str();
    char* end = nullptr;
    double value = std::strtod(start, &end);
    if (end == start || !std::isfinite(value) || value < 0) return false;
    // The rest by length, so a NUL byte inside the text cannot hide a bad unit.
    uint64_t unit = UnitWord(Lowered(t.substr(static_cast<size_t>(end - start))));
    if (unit == 0) return false;
    double rounded = value * static_cast<double>(unit) + 0.5;
    // Converting 2^64 or more to u64 is undefined; such a size is no size.
    if (!(rounded < 18446744073709551616.0)) return false;
    bytes = static_cast<uint64_t>(rounded);
    return true;
}

bool ParseSizeValue(const std::string& text, uint64_t& lo, uint64_t& hi) {
    uint64_t v = 0;
    if (!ParseSizeNumber(text, v)) return false;
    lo = v;
    hi = SaturatingAdd(v, SizeUnitMultiplier(text));
    return true;
}

bool ParseSizeRange(const std::string& text, uint64_t& lo, uint64_t& hi) {
    size_t dots = text.find("..");
    if (dots != std::string::npos) {
        std::string a = text.substr(0, dots), b = text.substr(dots + 2);
        uint64_t first = 0, last = 0;
        if (!ParseSizeNumber(a, first) || !ParseSizeNumber(b, last)) return false;
        lo = first;
        hi = SaturatingAdd(last, SizeUnitMultiplier(b));
        return true;
    }
    uint64_t vlo = 0, vhi = 0;
    if (StartsWith(text, ">=")) {
        if (!ParseSizeNumber(text.substr(2), vlo)) return false;
        lo = vlo;
        hi = kOpenEnd;
        return true;
    }
    if (StartsWith(text, "<=")) {
        if (!ParseSizeValue(text.substr(2), vlo, vhi)) return false;
        lo = 0;
        hi = vhi;
        return true;
    }
    if (StartsWith(text, ">")) {
        if (!ParseSizeValue(text.substr(1), vlo, vhi)) return false;
        lo = vhi;  // the value's interval ends there: ">1mb" is at least 2 MiB
        hi = kOpenEnd;
        return true;
    }
    if (StartsWith(text, "<")) {
        if (!ParseSizeValue(text.substr(1), vlo, vhi)) return false;
        lo = 0;
        hi = vlo;
        return true;
    }
    return ParseSizeValue(StartsWith(text, "=") ? text.substr(1) : text, lo, hi);
}

bool ParseRelativeTime(const std::string& rest, bool calendar, const DateClock& clock, uint64_t& from, uint64_t& to) {
    const char* start = rest.c_str();
    char* end = nullptr;
    long n = std::strtol(start, &end, 10);
    if (end == start) n = 1;  // no digits: the unit starts at the beginning
    if (n < 1 || n > 100000) return false;
    const std::string unit = rest.substr(static_cast<size_t>(end - start));
    const auto count = static_cast<uint64_t>(n);
    const int k = static_cast<int>(n);
    to = kOpenEnd;
    // Tested in this order, each as "starts with": "minutes" is minutes, "months" months, "hrs" nothing.
    uint64_t ticks = 0;
    if (StartsWith(unit, "sec"))
        ticks = kSecondTicks;
    else if (StartsWith(unit, "min"))
        ticks = kMinuteTicks;
    else if (StartsWith(unit, "hour") || unit == "h")
        ticks = kHourTicks;
    if (ticks != 0) {  // the same in both modes
        from = Before(clock.now, count, ticks);
        return true;
    }
    int days = 0, months = 0, years = 0;
    if (StartsWith(unit, "day"))
        ticks = kDayTicks, days = k;
    else if (StartsWith(unit, "week"))
        ticks = kWeekTicks, days = 7 * k;
    else if (StartsWith(unit, "month"))
        ticks = kMonthTicks, months = k;
    else if (StartsWith(unit, "year"))
        ticks = kYearTicks, years = k;
    else
        return false;
    from = calendar ? LocalFt(clock.year - years, clock.month - months, clock.day - days, 0, 0)
                    : Before(clock.now, count, ticks);
    return true;
}

bool ParseDateValue(std::string& text, uint64_t& from, uint64_t& to) {
    for (char& c : text) c = Lower(c);
    const LocalDate today = platform::LocalToday();
    const DateClock clock{today.year, today.month, today.day, platform::UtcNow()};

    if (NamedPeriod(text, today, from, to)) return true;
    if (StartsWith(text, "last") || StartsWith(text, "past") || StartsWith(text, "prev"))
        return ParseRelativeTime(text.substr(4), true, clock, from, to);
    if (!text.empty() && IsDigit(text[0])) {
        size_t i = 0;
        while (i < text.size() && IsDigit(text[i])) ++i;
        if (i < text.size() && IsAlpha(text[i]) && ParseRelativeTime(text, false, clock, from, to)) return true;
    }
    return AbsoluteDate(text, from, to);
}

bool ParseDateRange(const std::string& text, uint64_t& lo, uint64_t& hi) {
    uint64_t from = 0, to = 0;
    size_t dots = text.find("..");
    if (dots != std::string::npos) {
        std::string a = text.substr(0, dots), b = text.substr(dots + 2);
        uint64_t aFrom = 0, aTo = 0, bFrom = 0, bTo = 0;
        if (!ParseDateValue(a, aFrom, aTo) || !ParseDateValue(b, bFrom, bTo)) return false;
        lo = aFrom;
        hi = bTo;
        return true;
    }
    struct Form {
        const char* op;
        int kind;  // 0 [from, max]  1 [0, to)  2 [to, max]  3 [0, from)  4 [from, to)
    };
    static const Form kForms[] = {{">=", 0}, {"<=", 1}, {">", 2}, {"<", 3}, {"=", 4}, {"", 4}};
    for (const Form& form : kForms) {
        if (!StartsWith(text, form.op)) continue;
        std::string value = text.substr(std::char_traits<char>::length(form.op));
        if (!ParseDateValue(value, from, to)) return false;
        switch (form.kind) {
            case 0:
                lo = from, hi = kOpenEnd;
                break;
            case 1:
                lo = 0, hi = to;
                break;
            case 2:
                lo = to, hi = kOpenEnd;
                break;  // a relative value's to is max: ">last7days" is empty
            case 3:
                lo = 0, hi = from;
                break;
            default:
                lo = from, hi = to;
                break;
        }
        return true;
    }
    return false;  // not reached: the last form matches every text
}

uint64_t LocalFt(int year, int month, int day, int hour, int minute) {
    // Everything in int64: with int inputs the day count stays below 10^12 and
    // the seconds below 10^17, so nothing here can overflow.
    int64_t m0 = static_cast<int64_t>(month) - 1;
    int64_t carry = m0 >= 0 ? m0 / 12 : -((-m0 + 11) / 12);
    int64_t y = static_cast<int64_t>(year) + carry;
    int64_t m = m0 - carry * 12 + 1;  // 1..12
    y -= m <= 2 ? 1 : 0;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m <= 2 ? m + 9 : m - 3) + 2) / 5;
    int64_t doe = 365 * yoe + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468 + (static_cast<int64_t>(day) - 1);
    int64_t seconds =
        days * 86400 + static_cast<int64_t>(hour) * 3600 + static_cast<int64_t>(minute) * 60 + kSecondsFrom1601To1970;
    if (seconds < 0) return 0;  // before 1601: from the beginning
    if (seconds > static_cast<int64_t>(kMaxFileTime / kTicksPerSecond)) return kMaxFileTime;
    uint64_t local = static_cast<uint64_t>(seconds) * kTicksPerSecond;
    uint64_t utc = 0;
    if (!platform::LocalTicksToUtc(local, utc)) return local;
    return utc > kMaxFileTime ? kMaxFileTime : utc;
}

}  // namespace ov
