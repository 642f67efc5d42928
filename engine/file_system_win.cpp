#include <windows.h>

#include <cwchar>

#include "engine/file_system.h"

namespace ov {
namespace {

uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool LongPathName(const WString& path, WString& out) {
    std::wstring buffer(path.size() + 260, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return false;
        if (n < buffer.size()) {
            out.assign(buffer.data(), n);
            return true;
        }
        buffer.resize(n);  // the size it needs, with the NUL
    }
    return false;
}

class WinFileSystem final : public FileSystem {
public:
    bool ListFolder(const WString& folder, FolderVisitor& visitor) override {
        const WString pattern = folder + L"*";
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch, nullptr,
                                       FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE) return false;
        do {
            const wchar_t* name = fd.cFileName;
            if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
            FindData item;
            item.name = name;
            item.nameLength = wcsnlen(name, MAX_PATH);
            item.attributes = fd.dwFileAttributes;
            item.size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            item.modified = Ticks(fd.ftLastWriteTime);
            item.created = Ticks(fd.ftCreationTime);
            if (!visitor.Item(item)) {
                FindClose(find);
                return true;
            }
        } while (FindNextFileW(find, &fd));
        // Anything but the end of the listing (a drive pulled out) leaves it incomplete.
        const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
        FindClose(find);
        return complete;
    }

    bool Attributes(const WString& path, uint32_t& attributes, uint32_t& error) override {
        const DWORD a = GetFileAttributesW(path.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            error = GetLastError();
            return false;
        }
        attributes = a;
        return true;
    }

    bool Stat(const WString& path, FileStat& stat, uint32_t& error) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            error = GetLastError();
            return false;
        }
        stat.attributes = data.dwFileAttributes;
        stat.size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                        ? 0
                        : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        stat.modified = Ticks(data.ftLastWriteTime);
        stat.created = Ticks(data.ftCreationTime);
        return true;
    }

    bool LongName(const WString& path, WString& longPath) override {
        if (!LongPathName(path, longPath)) return false;
        // Wine leaves a "\\?\" path as it is; its plain form, when short
        // enough to have one, is expanded.
        static const WString kLong = L"\\\\?\\", kUnc = L"\\\\?\\UNC\\";
        if (longPath != path || path.compare(0, kLong.size(), kLong) != 0) return true;
        const bool unc = path.compare(0, kUnc.size(), kUnc) == 0;
        const WString plain = unc ? L"\\\\" + path.substr(kUnc.size()) : path.substr(kLong.size());
        WString expanded;
        if (plain.size() >= MAX_PATH || !LongPathName(plain, expanded)) return true;
        longPath = unc ? kUnc + expanded.substr(2) : kLong + expanded;
        return true;
    }

    std::unique_ptr<ChangeWatch> WatchFolder(const WString& folder, uint32_t& error) override {
        return OpenChangeWatch(folder, error);
    }

    std::vector<WString> DriveRoots() override {
        wchar_t buffer[512] = {};
        const DWORD n = GetLogicalDriveStringsW(511, buffer);
        std::vector<WString> roots;
        if (n == 0 || n > 511) return roots;
        for (const wchar_t* p = buffer; *p != 0; p += wcslen(p) + 1) roots.emplace_back(p);
        return roots;
    }

    DriveType TypeOf(const WString& root) override { return static_cast<DriveType>(GetDriveTypeW(root.c_str())); }

    bool VolumeInfo(const WString& root, DriveInfo& info) override {
        wchar_t label[261] = {};
        wchar_t fileSystem[261] = {};
        DWORD serial = 0, maxComponent = 0, flags = 0;
        const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS);
        const BOOL ok =
            GetVolumeInformationW(root.c_str(), label, 260, &serial, &maxComponent, &flags, fileSystem, 260);
        SetErrorMode(previous);
        if (!ok) return false;
        info.label = label;
        info.fileSystem = fileSystem;
        info.serial = serial;
        return true;
    }
};

}  // namespace

FileSystem& SystemFileSystem() {
    static WinFileSystem fs;
    return fs;
}

}  // namespace ov
