#include "index/text.h"

namespace ov {

WString ToWide(const char* utf8, size_t length) {
    WString out;
    out.reserve(length);
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    size_t i = 0;
    while (i < length) {
        unsigned b = p[i++];
        if (b < 0x80) {
            out.push_back(static_cast<WChar>(b));
            continue;
        }
        if (b < 0xC0) {  // a continuation byte cannot start a sequence
            out.push_back(static_cast<WChar>(b & 0x1F));
            continue;
        }
        uint32_t value;
        int follow;
        if (b < 0xE0) {
            value = b & 0x1F;
            follow = 1;
        } else if (b < 0xF0) {
            value = b & 0x0F;
            follow = 2;
        } else {
            value = b & 0x07;
            follow = 3;
        }
        // Following bytes count whatever their top bits say; a short tail keeps what it has.
        for (; follow > 0 && i < length; --follow) value = value * 64 + (p[i++] & 0x3F);
        if (value > 0xFFFF) {
            out.push_back(static_cast<WChar>(0xD800 + ((value - 0x10000) >> 10)));
            out.push_back(static_cast<WChar>(0xDC00 + ((value - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<WChar>(value));
        }
    }
    return out;
}

namespace {

bool PairsAt(const WChar* units, size_t count, size_t i) {
    const auto u = static_cast<uint16_t>(units[i]);
    return u >= 0xD800 && u <= 0xDBFF && i + 1 < count && static_cast<uint16_t>(units[i + 1]) >= 0xDC00 &&
           static_cast<uint16_t>(units[i + 1]) <= 0xDFFF;
}

}  // namespace

// Sized first, then written through a pointer: the file-table reader appends a
// million short names, and a push_back per byte was most of its pool cost.
void AppendUtf8(std::string& out, const WChar* units, size_t count) {
    size_t bytes = 0;
    for (size_t i = 0; i < count; ++i) {
        const auto u = static_cast<uint16_t>(units[i]);
        if (u < 0x80) {
            bytes += 1;
        } else if (u < 0x800) {
            bytes += 2;
        } else if (PairsAt(units, count, i)) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    const size_t at = out.size();
    out.resize(at + bytes);
    char* p = out.data() + at;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t u = static_cast<uint16_t>(units[i]);
        if (u < 0x80) {
            *p++ = static_cast<char>(u);
        } else if (u < 0x800) {
            *p++ = static_cast<char>(0xC0 | (u >> 6));
            *p++ = static_cast<char>(0x80 | (u & 0x3F));
        } else if (PairsAt(units, count, i)) {
            const uint32_t c = 0x10000 + ((u - 0xD800) << 10) + (static_cast<uint16_t>(units[i + 1]) - 0xDC00);
            ++i;
            *p++ = static_cast<char>(0xF0 | (c >> 18));
            *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *p++ = static_cast<char>(0xE0 | (u >> 12));
            *p++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (u & 0x3F));
        }
    }
}

void FoldUnits(WChar* units, size_t count) {
    bool wide = false;
    for (size_t i = 0; i < count; ++i) {
        auto u = static_cast<uint16_t>(units[i]);
        if (u >= 'A' && u <= 'Z')
            units[i] = static_cast<WChar>(u + 0x20);
        else if (u > 0x7F)
            wide = true;
    }
    // Pure ASCII never reaches the platform.
    if (wide) platform::LowerUnits(units, count);
}

std::string FoldCaseUtf8(const char* utf8, size_t length) {
    bool ascii = true;
    for (size_t i = 0; i < length && ascii; ++i) ascii = static_cast<unsigned char>(utf8[i]) < 0x80;
    if (ascii) {  // fast path, same result as the full rule
        std::string out(utf8, length);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
        return out;
    }
    WString units = ToWide(utf8, length);
    FoldUnits(units.data(), units.size());
    std::string out;
    AppendUtf8(out, units.data(), units.size());
    return out;
}

double NowMs() {
    return platform::MonotonicMs();
}

}  // namespace ov
