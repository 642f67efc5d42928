#include "app/result_text.h"

#include <cstdio>
#include <cwchar>

const ColumnDef kColumns[kColumnCount] = {
    {L"Name", 300, false, 0, true},          {L"Path", 380, false, 1, true},          {L"Size", 92, true, 2, true},
    {L"Date Modified", 140, false, 4, true}, {L"Date Created", 140, false, 5, false}, {L"Type", 130, false, 6, false},
    {L"Attributes", 76, false, -1, false},   {L"Run Count", 80, true, 7, false},
};

namespace {

// printf-style ASCII formatting widened; both builds format with ISO C rules.
template <class... Args>
std::wstring Ascii(const char* format, Args... args) {
    char buffer[40] = {};
    std::snprintf(buffer, sizeof buffer, format, args...);
    return std::wstring(buffer, buffer + std::char_traits<char>::length(buffer));
}

}  // namespace

std::wstring FormatThousands(uint64_t value) {
    const std::wstring digits = Ascii("%llu", static_cast<unsigned long long>(value));
    std::wstring out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += L',';
        out += digits[i];
    }
    return out;
}

std::wstring SizeText(uint64_t size, uint32_t format) {
    if (format == 2) return FormatThousands(size);
    if (format == 1) return FormatThousands(size / 1024 + (size % 1024 != 0 ? 1 : 0)) + L" KB";
    constexpr uint64_t kKB = 1024, kMB = kKB * 1024, kGB = kMB * 1024, kTB = kGB * 1024;
    const auto value = static_cast<double>(size);
    if (size < kKB) return Ascii("%llu bytes", static_cast<unsigned long long>(size));
    if (size < kMB) return Ascii("%.1f KB", value / kKB);
    if (size < kGB) return Ascii("%.1f MB", value / kMB);
    if (size < kTB) return Ascii("%.2f GB", value / kGB);
    return Ascii("%.2f TB", value / kTB);
}

std::wstring AttributeText(uint32_t attributes) {
    static const struct {
        wchar_t letter;
        uint32_t bit;
    } kLetters[] = {{L'R', 0x1},   {L'H', 0x2},    {L'S', 0x4},   {L'A', 0x20},
                    {L'C', 0x800}, {L'E', 0x4000}, {L'L', 0x400}, {L'O', 0x1000}};
    std::wstring text;
    for (const auto& letter : kLetters) {
        if (attributes & letter.bit) text += letter.letter;
    }
    return text;
}

void ReadColumnWidths(const std::wstring& text, int widths[kColumnCount]) {
    size_t start = 0;
    for (int k = 0; k < kColumnCount; ++k) {
        const size_t comma = text.find(L',', start);
        if (comma == std::wstring::npos) return;  // a piece without its comma does not count
        const std::wstring piece = text.substr(start, comma - start);
        const long value = std::wcstol(piece.c_str(), nullptr, 10);
        if (value >= 20 && value < 3000) widths[k] = static_cast<int>(value);
        start = comma + 1;
    }
}

std::wstring ColumnWidthsText(const int widths[kColumnCount]) {
    std::wstring text;
    for (int k = 0; k < kColumnCount; ++k) text += Ascii("%d,", widths[k]);
    return text;
}

std::vector<bool> MatchMarks(std::wstring_view lower, const std::vector<std::wstring>& words) {
    std::vector<bool> marks(lower.size(), false);
    for (const std::wstring& word : words) {
        if (word.empty()) continue;
        for (size_t at = lower.find(word); at != std::wstring_view::npos; at = lower.find(word, at + 1)) {
            for (size_t i = 0; i < word.size(); ++i) marks[at + i] = true;
        }
    }
    return marks;
}
