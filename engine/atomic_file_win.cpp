#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/atomic_file.h"

namespace ov {
namespace {

// FileRenameInfoEx, which the MinGW headers hide behind a version test they get wrong.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

std::string Describe(const char* what, DWORD code) {
    return std::string(what) + " failed (" + std::to_string(code) + ")";
}

// MoveFileExW refuses to replace a file that anyone has open, even when they
// share delete access as the loader does. The rename with POSIX semantics
// (Windows 10 and later, on NTFS) replaces it; readers keep the old file until
// they close it.
bool ReplaceOpenFile(const WString& from, const WString& to, DWORD& code) {
    std::vector<wchar_t> full(32768);
    const DWORD length = GetFullPathNameW(to.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        code = GetLastError();
        return false;
    }
    std::wstring target(full.data(), length);
    target = target.rfind(L"\\\\", 0) == 0 ? L"\\??\\UNC\\" + target.substr(2) : L"\\??\\" + target;
    HANDLE h =
        CreateFileW(from.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        code = GetLastError();
        return false;
    }
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.data(), info->FileNameLength);
    const BOOL renamed = SetFileInformationByHandle(h, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size()));
    code = renamed ? 0 : GetLastError();
    // The rename is metadata of the file: flushing the file puts it on the disk.
    if (renamed) FlushFileBuffers(h);
    CloseHandle(h);
    return renamed;
}

}  // namespace

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Create(const WString& path, std::string& error) {
    Close();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = Describe("creating the file", GetLastError());
        return false;
    }
    handle = reinterpret_cast<intptr_t>(h);
    return true;
}

bool OutputFile::Write(const void* data, size_t length) {
    if (handle == -1 || length > kMaxIoBytes) return false;
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle), data, static_cast<DWORD>(length), &written, nullptr)) {
        writeError = Describe("writing the file", GetLastError());
        return false;
    }
    if (written != length) writeError = "writing the file came up short";
    return written == length;
}

bool OutputFile::Rewind() {
    if (handle == -1) return false;
    LARGE_INTEGER zero{};
    return SetFilePointerEx(AsHandle(handle), zero, nullptr, FILE_BEGIN) && SetEndOfFile(AsHandle(handle));
}

bool OutputFile::FlushAndClose(std::string& error) {
    if (handle == -1) {
        error = "the file is not open";
        return false;
    }
    const BOOL flushed = FlushFileBuffers(AsHandle(handle));
    const DWORD flushError = flushed ? 0 : GetLastError();
    const BOOL closed = CloseHandle(AsHandle(handle));
    const DWORD closeError = closed ? 0 : GetLastError();
    handle = -1;
    if (!flushed) error = Describe("flushing the file", flushError);
    if (flushed && !closed) error = Describe("closing the file", closeError);
    return flushed && closed;
}

void OutputFile::Close() {
    if (handle != -1) CloseHandle(AsHandle(handle));
    handle = -1;
}

InputFile::~InputFile() {
    Close();
}

InputFile::Opened InputFile::Open(const WString& path, std::string& error) {
    Close();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        error = Describe("opening the file", code);
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? Opened::Missing : Opened::Failed;
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(h, &length) || length.QuadPart < 0) {
        error = Describe("reading the file size", GetLastError());
        CloseHandle(h);
        return Opened::Failed;
    }
    handle = reinterpret_cast<intptr_t>(h);
    size = static_cast<uint64_t>(length.QuadPart);
    return Opened::Yes;
}

bool InputFile::Read(void* into, size_t length) {
    if (handle == -1) return false;
    char* at = static_cast<char*>(into);
    while (length > 0) {
        DWORD got = 0;
        const auto ask = static_cast<DWORD>(std::min(length, kMaxIoBytes));
        if (!ReadFile(AsHandle(handle), at, ask, &got, nullptr) || got == 0) return false;
        at += got;
        length -= got;
    }
    return true;
}

void InputFile::Close() {
    if (handle != -1) CloseHandle(AsHandle(handle));
    handle = -1;
    size = 0;
}

bool MoveOver(const WString& from, const WString& to, std::string& error) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) {
        DWORD retry = 0;
        if (ReplaceOpenFile(from, to, retry)) return true;
        error = Describe("replacing the file", code) + ", and with POSIX semantics (" + std::to_string(retry) + ")";
        return false;
    }
    error = Describe("replacing the file", code);
    return false;
}

bool RemoveFile(const WString& path) {
    return DeleteFileW(path.c_str()) != 0;
}

}  // namespace ov
