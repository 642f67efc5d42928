#include "app/folder_lists.h"

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (wchar_t c : text + L"\n") {
        if (c != L'\r' && c != L'\n') {
            line += c;
            continue;
        }
        while (!line.empty() && line.back() == L' ') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        line.clear();
    }
    return lines;
}

std::wstring JoinLines(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const std::wstring& line : lines) text += line + L"\n";
    return text;
}
