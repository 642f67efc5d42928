#include "app/folder_lists.h"

#include <cwctype>

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

std::wstring WithCrLf(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += text[i];
    }
    return out;
}

std::wstring TrimFolderPath(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    size_t na = a.size();
    size_t nb = b.size();
    while (na > 0 && a[na - 1] == L'\\') --na;
    while (nb > 0 && b[nb - 1] == L'\\') --nb;
    if (na != nb) return false;
    for (size_t i = 0; i < na; ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
    }
    return true;
}
