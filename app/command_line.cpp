#include "app/command_line.h"

namespace {

// Joins non-empty parts with one blank.
std::wstring Join(const std::vector<std::wstring>& parts) {
    std::wstring out;
    for (const std::wstring& part : parts) {
        if (part.empty()) continue;
        if (!out.empty()) out += L' ';
        out += part;
    }
    return out;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& args) {
    CommandLine line;
    const size_t count = args.size();
    for (size_t i = 0; i < count; ++i) {
        const std::wstring& arg = args[i];
        const bool hasValue = i + 1 < count;
        if (arg == L"/tray") {
            line.tray = true;
        } else if (arg == L"/noadmin") {
            line.noAdmin = true;
        } else if (arg == L"/takeover") {
            line.takeover = true;
        } else if (arg == L"/forcescan") {
            line.forceScan = true;
        } else if (arg == L"/search" && hasValue) {
            line.search = args[++i];
        } else if (arg == L"/updated" && hasValue) {
            line.updatedFrom = args[++i];
        } else if (arg == L"/selftest" && hasValue) {
            line.selfTestPath = args[++i];
            line.noAdmin = true;
        }
    }
    return line;
}

std::wstring QuoteArgument(const std::wstring& text) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only before a quote; the quote itself gets one more.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

std::wstring HandOffText(const CommandLine& line) {
    if (!line.search.empty()) return L"/search " + line.search;
    return line.tray ? L"/tray" : L"/show";
}

std::wstring ElevatedRelaunchParameters(const CommandLine& line) {
    return Join({line.tray ? L"/tray" : L"", line.search.empty() ? L"" : L"/search " + QuoteArgument(line.search),
                 line.takeover ? L"/takeover" : L"",
                 line.updatedFrom.empty() ? L"" : L"/updated " + QuoteArgument(line.updatedFrom),
                 line.forceScan ? L"/forcescan" : L"", L"/noadmin"});
}

std::wstring RestartAsAdminParameters(const std::wstring& searchText, bool forceScan) {
    return Join({L"/takeover", L"/search " + QuoteArgument(searchText), forceScan ? L"/forcescan" : L"", L"/noadmin"});
}

std::wstring UpdatedRelaunchParameters(const std::wstring& version, const std::wstring& searchText) {
    return L"/takeover /updated " + version + L" /search " + QuoteArgument(searchText);
}
