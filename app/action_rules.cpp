#include "app/action_rules.h"

#include <cwctype>

namespace {

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

void PutDword(std::vector<uint8_t>& block, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) block[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::wstring NameOfPath(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 == path.size()) return path;
    return path.substr(slash + 1);
}

std::wstring FolderOfPath(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ParentOfPath(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

bool ShareOneFolder(const std::vector<std::wstring>& paths) {
    if (paths.empty()) return true;
    const std::wstring first = ParentOfPath(paths[0]);
    for (size_t i = 1; i < paths.size(); ++i) {
        if (!SameIgnoringCase(ParentOfPath(paths[i]), first)) return false;
    }
    return true;
}

std::wstring ClipboardPathText(const std::vector<std::wstring>& paths, bool namesOnly) {
    std::wstring text;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i > 0) text += L"\r\n";
        text += namesOnly ? NameOfPath(paths[i]) : paths[i];
    }
    return text;
}

std::wstring CopiedPathsStatus(size_t count, bool namesOnly) {
    if (count == 1) return namesOnly ? L"Name copied to the clipboard" : L"Path copied to the clipboard";
    return std::to_wstring(count) + (namesOnly ? L" names" : L" paths") + L" copied to the clipboard";
}

std::wstring CopiedFilesStatus(size_t count) {
    if (count == 1) return L"File copied - paste it in File Explorer (Ctrl+V)";
    return std::to_wstring(count) + L" items copied - paste them in File Explorer (Ctrl+V)";
}

std::vector<uint8_t> DropFilesBlock(const std::vector<std::wstring>& paths) {
    size_t units = 1;
    for (const std::wstring& path : paths) units += path.size() + 1;
    std::vector<uint8_t> block(20 + 2 * units, 0);
    PutDword(block, 0, 20);  // offset of the file list
    PutDword(block, 16, 1);  // wide characters
    size_t at = 20;
    for (const std::wstring& path : paths) {
        for (const wchar_t unit : path) {
            block[at] = static_cast<uint8_t>(unit & 0xFF);
            block[at + 1] = static_cast<uint8_t>((unit >> 8) & 0xFF);
            at += 2;
        }
        at += 2;  // its terminating zero
    }
    return block;
}

std::wstring DoubleZeroList(const std::vector<std::wstring>& paths) {
    std::wstring list;
    for (const std::wstring& path : paths) {
        list += path;
        list += L'\0';
    }
    list += L'\0';
    return list;
}
