// The manifest reader is a field finder, not a JSON parser: it looks for the
// quoted key anywhere in the text and reads the value after it. The body
// comes from the network, so every copy is bounded and every conversion is
// cut on a character boundary.
#include "update/update_manifest.h"

#include <climits>
#include <cstring>
#include <string>

#include "index/text.h"

namespace {

// Up to four hex digits after a backslash-u; count 0 when there are none.
unsigned ReadHex4(const char* p, int& count) {
    unsigned value = 0;
    count = 0;
    while (count < 4) {
        const char c = p[count];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        value = value * 16 + digit;
        ++count;
    }
    return value;
}

void AppendCodePoint(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsBlank(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// A quoted string value from just after its opening quote.
std::string ReadStringValue(const char* p, size_t limit) {
    std::string value;
    while (*p && *p != '"' && value.size() < limit) {
        if (*p != '\\') {
            value += *p++;
            continue;
        }
        const char escaped = p[1];
        if (escaped == '\0') {  // a backslash at the very end stays
            value += '\\';
            break;
        }
        p += 2;
        if (escaped == 'n') {
            value += '\n';
        } else if (escaped == 't') {
            value += '\t';
        } else if (escaped == 'r') {
        } else if (escaped == 'u') {
            int digits;
            unsigned unit = ReadHex4(p, digits);
            if (digits == 0) {
                value += 'u';
                continue;
            }
            p += digits;
            if (unit >= 0xD800 && unit <= 0xDBFF && p[0] == '\\' && p[1] == 'u') {
                int lowDigits;
                const unsigned low = ReadHex4(p + 2, lowDigits);
                // Only a real low surrogate pairs; anything else is read as an escape of its own.
                if (lowDigits == 4 && low >= 0xDC00 && low <= 0xDFFF) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    p += 6;
                }
            }
            AppendCodePoint(value, unit);
        } else {
            value += escaped;
        }
    }
    return value;
}

std::string ReadBareToken(const char* p, size_t limit) {
    std::string value;
    while (*p && *p != '\n' && *p != '\r' && *p != ' ' && *p != ',' && *p != '}' && value.size() < limit) value += *p++;
    return value;
}

bool IsHighSurrogate(ov::WChar unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// A decimal count as the manifest gives it, largest u32 when it is larger; 0
// for a negative or unreadable one (the size is then not checked).
uint32_t ReadCount(const ov::WChar* text) {
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') ++text;
    if (*text == '+') ++text;
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > UINT32_MAX) return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

template <size_t N>
bool ReadField(const char* body, const char* key, ov::WChar (&out)[N]) {
    return JsonGetString(body, key, out, static_cast<int>(N)) == 1;
}

const char16_t kIncomplete[] = u"The update information on the server is incomplete.";

}  // namespace

size_t TextLength(const ov::WChar* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

void CopyCut(const ov::WChar* text, size_t length, ov::WChar* out, size_t outChars) {
    if (outChars == 0) return;
    size_t n = length < outChars - 1 ? length : outChars - 1;
    if (n < length && n > 0 && IsHighSurrogate(text[n - 1])) --n;
    for (size_t i = 0; i < n; ++i) out[i] = text[i];
    out[n] = 0;
}

int JsonGetString(const char* json, const char* key, ov::WChar* out, int outChars) {
    if (outChars <= 0) return 0;
    out[0] = 0;
    if (!json || !key) return 0;
    std::string pattern(1, '"');
    pattern.append(key);
    pattern += '"';
    if (pattern.size() > 63) pattern.resize(63);
    const char* p = std::strstr(json, pattern.c_str());
    if (!p) return 0;
    p += pattern.size();
    while (IsBlank(*p)) ++p;
    if (static_cast<unsigned char>(*p) < 0x21 || *p != ':') return 0;
    ++p;
    while (IsBlank(*p)) ++p;
    std::string value;
    const size_t chars = static_cast<size_t>(outChars);
    if (*p == '"')
        value = ReadStringValue(p + 1, 4 * chars);
    else if (*p)
        value = ReadBareToken(p, chars);
    const ov::WString wide = ov::ToWide(value);
    CopyCut(wide.data(), wide.size(), out, chars);
    return 1;
}

namespace {

// The parts of a version as "%d.%d.%d.%d" reads them, clamped to int.
void ReadVersion(const ov::WChar* text, int (&parts)[4]) {
    for (int& part : parts) part = 0;
    const ov::WChar* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != '.') return;
            ++p;
        }
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
        bool negative = false;
        if (*p == '+' || *p == '-') negative = *p++ == '-';
        if (*p < '0' || *p > '9') return;
        int64_t value = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            if (value <= INT_MAX) value = value * 10 + (*p - '0');
        }
        if (value > INT_MAX) value = negative ? static_cast<int64_t>(INT_MAX) + 1 : INT_MAX;
        parts[i] = static_cast<int>(negative ? -value : value);
    }
}

}  // namespace

int CompareVersions(const ov::WChar* a, const ov::WChar* b) {
    int left[4], right[4];
    ReadVersion(a, left);
    ReadVersion(b, right);
    for (int i = 0; i < 4; ++i) {
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

void ReadManifest(const char* body, UpdateInfo& info) {
    ReadField(body, "version", info.version);
    ReadField(body, "exe", info.exe);
    ReadField(body, "sha256", info.sha256);
    ReadField(body, "notes", info.notes);
    ReadField(body, "published", info.published);
    ov::WChar count[32];
    ReadField(body, "size", count);
    info.size = ReadCount(count);
    ReadField(body, "setup", info.setup);
    ReadField(body, "setup_sha256", info.setup_sha256);
    if (ReadField(body, "setup_size", count)) info.setup_size = ReadCount(count);
    info.ok = info.version[0] && info.exe[0] && TextLength(info.sha256) == 64;
    if (!info.ok) {
        const ov::WString text(kIncomplete, kIncomplete + sizeof kIncomplete / sizeof kIncomplete[0] - 1);
        CopyCut(text, info.error);
    }
}
