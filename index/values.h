// Size and date values of the query keywords "size:", "dm:" and "dc:": each becomes a half-open range [lo, hi) of u64,
// bytes or UTC FILETIME ticks, with kOpenEnd as hi for an open upper end. Pure apart from reading the clock and the
// time zone, which go through the platform seam (platform::UtcNow, LocalToday, LocalTicksToUtc). A false return leaves
// the outputs unspecified; nothing throws.
#pragma once

#include <cstdint>
#include <string>

namespace ov {

// The upper end of a range that has none.
constexpr uint64_t kOpenEnd = 0xFFFFFFFFFFFFFFFFull;

constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;  // 1970-01-01 as FILETIME
// The last tick the platform can turn into a calendar date (FileTimeToSystemTime
// refuses values with the top bit set); dates are clamped to [0, kMaxFileTime].
constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFull;

// Width of one unit of the size written in text: 1,024 for "k"/"kb", up to
// 2^40 for "t"/"tb"; 1 for no unit, "b", "bytes" or any other letters.
uint64_t SizeUnitMultiplier(const std::string& text);

// One number with an optional unit, in bytes, rounded half up. False for no
// number, a negative, infinite or not-a-number value, an unknown unit, or a
// result of 2^64 or more.
bool ParseSizeNumber(const std::string& text, uint64_t& bytes);

// A size written alone: [v, v + unit). hi saturates at kOpenEnd.
bool ParseSizeValue(const std::string& text, uint64_t& lo, uint64_t& hi);

// "a..b", ">=v", "<=v", ">v", "<v", "=v" or "v" (the folded value of "size:").
bool ParseSizeRange(const std::string& text, uint64_t& lo, uint64_t& hi);

// The local date and the UTC clock as ParseDateValue reads them once.
struct DateClock {
    int year = 1601;
    int month = 1;
    int day = 1;
    uint64_t now = 0;  // UTC FILETIME
};

// One date value as [from, to) in UTC ticks: named periods, relative forms,
// "yyyy", "yyyy-mm", "mm/yyyy", "yyyy-mm-dd", "mm/dd/yy[yy]". Lowers text in
// place. Typed years outside 1601-9999 fail; month and day roll over.
bool ParseDateValue(std::string& text, uint64_t& from, uint64_t& to);

// The relative forms "[n]unit" ("7days", "24hours"); calendar mode (after
// "last"/"past"/"prev") counts days, weeks, months and years back from local
// midnight of today, plain mode a fixed duration from now. to is kOpenEnd; a
// start before 1601 is 0 (from the beginning).
bool ParseRelativeTime(const std::string& rest, bool calendar, const DateClock& clock, uint64_t& from, uint64_t& to);

// A date value with an optional operator, as typed (ParseDateValue lowers it).
bool ParseDateRange(const std::string& text, uint64_t& lo, uint64_t& hi);

// A local calendar time as UTC FILETIME ticks. Month, day, hour and minute may
// lie outside their ranges and roll over. Computed in 64-bit signed arithmetic
// and clamped to [0, kMaxFileTime]: a time before 1601 is 0. When the platform
// cannot convert the local time, the local ticks are returned unconverted.
uint64_t LocalFt(int year, int month, int day, int hour, int minute);

}  // namespace ov
