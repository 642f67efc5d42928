#include "engine/wide_text.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <vector>

#include "index/text.h"

namespace ov {
namespace {

// Past this a format is taken as broken and gives an empty text.
constexpr size_t kMaxFormatted = size_t{1} << 20;

WString FromWide(const wchar_t* text, size_t length) {
    if constexpr (sizeof(wchar_t) == sizeof(WChar)) {
        return WString(reinterpret_cast<const WChar*>(text), length);
    } else {
        WString out;
        out.reserve(length);
        for (size_t i = 0; i < length; ++i) {
            auto c = static_cast<uint32_t>(text[i]);
            if (c > 0xFFFF && c <= 0x10FFFF) {
                c -= 0x10000;
                out.push_back(static_cast<WChar>(0xD800 + (c >> 10)));
                out.push_back(static_cast<WChar>(0xDC00 + (c & 0x3FF)));
            } else {
                out.push_back(static_cast<WChar>(c > 0xFFFF ? 0xFFFD : c));
            }
        }
        return out;
    }
}

}  // namespace

WString FormatText(size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WString text = FormatTextV(capacity, format, args);
    va_end(args);
    return text;
}

WString FormatTextV(size_t capacity, const wchar_t* format, va_list args) {
    if (capacity == 0) return {};
    // vswprintf reports overflow without saying how much room it needed, so the
    // buffer grows until the text fits, and the text is cut afterwards.
    std::vector<wchar_t> buffer(capacity);
    for (;;) {
        va_list attempt;
        va_copy(attempt, args);
        const int n = std::vswprintf(buffer.data(), buffer.size(), format, attempt);
        va_end(attempt);
        if (n >= 0) {
            const size_t length = std::min(static_cast<size_t>(n), capacity - 1);
            return FromWide(buffer.data(), length);
        }
        if (buffer.size() >= kMaxFormatted) return {};
        buffer.resize(buffer.size() * 2);
    }
}

WString Text(const wchar_t* text) {
    return FromWide(text, std::wcslen(text));
}

std::wstring Arg(const WString& text) {
    if constexpr (sizeof(wchar_t) == sizeof(WChar)) {
        return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
    } else {
        std::wstring out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            uint32_t u = static_cast<uint16_t>(text[i]);
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size()) {
                const uint32_t low = static_cast<uint16_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            out.push_back(static_cast<wchar_t>(u));
        }
        return out;
    }
}

bool SameTextIgnoringCase(const WString& a, const WString& b) {
    if (a.size() != b.size()) return false;
    WString x = a, y = b;
    FoldUnits(x.data(), x.size());
    FoldUnits(y.data(), y.size());
    return x == y;
}

}  // namespace ov
