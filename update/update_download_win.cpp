// The download of a known update and the update bar. The file is written
// through one handle, then opened again for reading with writes and deletes
// denied before it is checked; that handle stays open until the file is used,
// so nothing can swap the file between its checks and its use (update/install_win.cpp).
#include "update/update_download.h"

#include <bcrypt.h>

#include <vector>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/info_bars.h"
#include "app/posted_record.h"
#include "app/window_kit.h"
#include "update/download_rules.h"
#include "update/install_step.h"
#include "update/update_check.h"

namespace {

std::wstring Wide(const char16_t* text) {
    return std::wstring(text, text + std::char_traits<char16_t>::length(text));
}

// Ends a failed download: the file goes, the reason is kept.
std::unique_ptr<DownloadResult> Failed(std::unique_ptr<DownloadResult> result, HANDLE file, std::wstring error) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileW(result->path.c_str());
    result->error = std::move(error);
    return result;
}

// The version functions open a file by name with share modes of their own,
// which a guard holding DELETE refuses unless they share deletes. So they read
// a private copy of the guarded bytes, made through the guard, which nobody
// else has open; the copy goes at once.
void ReadVersionThroughGuard(HANDLE guard, const std::wstring& path, wchar_t (&product)[64], wchar_t (&version)[40]) {
    const std::wstring copy = path + L".version";
    DeleteFileW(copy.c_str());
    HANDLE out = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER start = {};
    bool ok = SetFilePointerEx(guard, start, nullptr, FILE_BEGIN) != FALSE;
    std::vector<BYTE> block(65536);
    for (DWORD read = 0; ok;) {
        DWORD written = 0;
        ok = ReadFile(guard, block.data(), static_cast<DWORD>(block.size()), &read, nullptr) != FALSE;
        if (!ok || read == 0) break;
        ok = WriteFile(out, block.data(), read, &written, nullptr) && written == read;
    }
    CloseHandle(out);
    if (ok) {
        CopyCut(FileVersionString(copy, L"ProductName"), product);
        CopyCut(FileVersionString(copy, L"ProductVersion"), version);
    }
    DeleteFileW(copy.c_str());
}

constexpr int kUpdateBarIcon = 27;  // green circular arrows

struct DownloadJob {
    UpdateInfo info;  // the record the download started from
    InstallMode mode = kPortable;
};

void PostProgress(int percent) {
    PostMessageW(gMain, WM_APP_DOWNLOAD_PROGRESS, static_cast<WPARAM>(percent), 0);
}

DWORD WINAPI UpdateDownloadThread(void* parameter) {
    const std::unique_ptr<DownloadJob> job(static_cast<DownloadJob*>(parameter));
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    std::unique_ptr<DownloadResult> result;
    if (length == 0 || length > MAX_PATH) {
        result = std::make_unique<DownloadResult>();
        result->error = L"Couldn't create a temporary file for the download.";
    } else {
        result = DownloadAndVerify(job->info, job->mode, temp, gUpdate.downloadCancel, PostProgress);
    }
    PostOwned(gMain, WM_APP_DOWNLOAD_DONE, 0, std::move(result));
    return 0;
}

void ShowBarButtons(bool idle) {
    ShowWindow(GetDlgItem(gUpdateBar, kCmdUpdateNow), idle ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(gUpdateBar, kCmdUpdateNotes), idle ? SW_SHOW : SW_HIDE);
    SetWindowTextW(GetDlgItem(gUpdateBar, kCmdUpdateLater), idle ? L"Later" : L"Cancel");
    InvalidateRect(gUpdateBar, nullptr, TRUE);
}

void LayOutUpdateBar(HWND window) {
    const int ids[] = {kCmdUpdateLater, kCmdUpdateNotes, kCmdUpdateNow};
    const int widths[] = {104, 104, 104};
    PlaceInfoBarButtons(window, ids, widths, 3);
}

std::wstring UpdateBarText() {
    const UpdateInfo& info = gUpdate.knownInfo;
    const std::wstring text =
        gUpdate.downloading
            ? FormatString(L"Downloading Orvane %ls\u2026 %d%%   (Orvane will restart by itself when it's done)",
                           info.version, gUpdate.downloadPercent > 0 ? gUpdate.downloadPercent : 0)
            : FormatString(L"Orvane %ls is available (you have %ls).   %ls", info.version, kVersionText,
                           FirstNotesLine(info.notes).c_str());
    wchar_t cut[600];
    CopyCut(text, cut);
    return cut;
}

void PaintUpdateBar(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    PaintInfoBarBackground(dc, client, kUpdateBarIcon);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(230, 200, 120));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    MoveToEx(dc, 0, client.bottom - 1, nullptr);
    LineTo(dc, client.right, client.bottom - 1);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    SetTextColor(dc, RGB(60, 45, 0));
    HGDIOBJ oldFont = SelectObject(dc, gFontEmphasis);
    RECT text = {Dip(42), 0, client.right - Dip(350), client.bottom};
    const std::wstring line = UpdateBarText();
    DrawTextW(dc, line.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

}  // namespace

std::wstring Sha256OfFile(HANDLE file) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return L"";
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return L"";
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::wstring hex;
    if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        std::vector<UCHAR> block(65536);
        bool ok = true;
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &read, nullptr) || read == 0) break;
            if (!BCRYPT_SUCCESS(BCryptHashData(hash, block.data(), read, 0))) {
                ok = false;
                break;
            }
        }
        UCHAR digest[32];
        if (ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0))) {
            for (UCHAR byte : digest) hex += FormatString(L"%02x", byte);
        }
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return hex;
}

std::wstring FileVersionString(const std::wstring& path, const wchar_t* key) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return L"";
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"";
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring query = FormatString(L"\\StringFileInfo\\040904B0\\%ls", key);
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) || !value || chars == 0)
        return L"";
    return std::wstring(value, wcsnlen(value, chars));
}

void DropDownload(DownloadResult& download) {
    if (download.lock != INVALID_HANDLE_VALUE) CloseHandle(download.lock);
    download.lock = INVALID_HANDLE_VALUE;
    DeleteFileW(download.path.c_str());
}

std::unique_ptr<DownloadResult> DownloadAndVerify(const UpdateInfo& info, InstallMode mode, const std::wstring& tempDir,
                                                  HttpCancel& cancel, void (*progress)(int)) {
    auto result = std::make_unique<DownloadResult>();
    const bool installer = mode != kPortable;
    result->path = DownloadFileName(tempDir, info.version, installer);
    if (result->path.size() >= MAX_PATH)
        return Failed(std::move(result), INVALID_HANDLE_VALUE, L"Couldn't create a temporary file for the download.");
    DeleteFileW(result->path.c_str());
    const wchar_t* url = installer ? info.setup : info.exe;
    const wchar_t* hash = installer ? info.setup_sha256 : info.sha256;
    const uint32_t expected = installer ? info.setup_size : info.size;
    if (installer && (!info.setup[0] || TextLength(info.setup_sha256) != 64))
        return Failed(std::move(result), INVALID_HANDLE_VALUE,
                      L"This version has no installer on the server yet. Download Orvane-Setup.exe from the download "
                      L"page (Help tab) and run it.");

    // A new file only: whatever stands under the name now (a link someone put
    // there after the delete) is never written through.
    HANDLE file =
        CreateFileW(result->path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Failed(std::move(result), file, L"Couldn't create a temporary file for the download.");
    wchar_t error[600] = {};
    const bool fetched = HttpGet(url, nullptr, 0, file, expected, cancel,
                                 progress ? std::function<void(int)>(progress) : nullptr, error, 600);
    CloseHandle(file);
    if (!fetched) return Failed(std::move(result), INVALID_HANDLE_VALUE, error);
    // A Cancel during the checks ends them too.
    const std::wstring cancelled = L"Update cancelled.";

    // From here on the file can be read, but not written, renamed or deleted by
    // anyone else; the name itself is opened, not what a link there points to.
    // Every later open of the file must share what this handle holds: the
    // installer's elevation check and the installer itself open it by name
    // sharing reads only, so its guard holds read access alone. Only the
    // portable copy, whose file is moved through this handle and opened by no
    // one else, takes DELETE.
    file = CreateFileW(result->path.c_str(), installer ? GENERIC_READ : GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(std::move(result), file, Wide(kTextChecksum));
    BY_HANDLE_FILE_INFORMATION facts = {};
    if (!GetFileInformationByHandle(file, &facts) || (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Failed(std::move(result), file, Wide(kTextChecksum));
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) return Failed(std::move(result), file, Wide(kTextIncomplete));
    if (const char16_t* refused = CheckDownloadSize(static_cast<uint64_t>(size.QuadPart), expected))
        return Failed(std::move(result), file, Wide(refused));
    if (cancel.Cancelled()) return Failed(std::move(result), file, cancelled);
    const std::wstring digest = Sha256OfFile(file);
    if (cancel.Cancelled()) return Failed(std::move(result), file, cancelled);
    if (!DigestMatches(digest.c_str(), hash)) return Failed(std::move(result), file, Wide(kTextChecksum));
    wchar_t product[64] = {}, version[40] = {};
    ReadVersionThroughGuard(file, result->path, product, version);
    if (cancel.Cancelled()) return Failed(std::move(result), file, cancelled);
    if (!VersionResourceMatches(product, version, installer, info.version))
        return Failed(std::move(result), file, Wide(kTextWrongVersion));
    result->lock = file;
    return result;
}

void StartUpdateDownload() {
    if (gUpdate.downloading || !gUpdate.known || InstallStepRunning()) return;
    gUpdate.downloading = true;
    gUpdate.downloadCancel.Reset();
    gUpdate.downloadPercent = 0;
    ShowBarButtons(false);
    auto job = std::make_unique<DownloadJob>();
    job->info = gUpdate.knownInfo;
    job->mode = gInstallMode;
    HANDLE thread = CreateThread(nullptr, 0, UpdateDownloadThread, job.get(), 0, nullptr);
    if (!thread) {
        gUpdate.downloading = false;
        gUpdate.downloadPercent = -1;
        ShowBarButtons(true);
        return;
    }
    job.release();  // the thread's now
    CloseHandle(thread);
}

void ShowUpdateNotes() {
    if (!gUpdate.known) return;
    ShowTextWindow(L"What's new in Orvane",
                   FormatString(L"Orvane %ls \u2014 what's new\n\n", gUpdate.knownInfo.version).c_str(),
                   gUpdate.knownInfo.notes);
}

void OnUpdateLater() {
    if (gUpdate.downloading) {
        gUpdate.downloadCancel.Cancel();
        return;
    }
    ShowWindow(gUpdateBar, SW_HIDE);
    LayoutMainWindow();
    RedrawWindow(gMain, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void OnDownloadProgress(int percent) {
    gUpdate.downloadPercent = percent;
    InvalidateRect(gUpdateBar, nullptr, FALSE);
}

void OnDownloadDone(LPARAM lParam) {
    const std::unique_ptr<DownloadResult> result = TakePosted<DownloadResult>(lParam);
    gUpdate.downloading = false;
    gUpdate.downloadPercent = -1;
    ShowBarButtons(true);
    if (gUpdate.busyNoteShown) SetStatusText(L"");
    gUpdate.busyNoteShown = false;
    // The thread may have finished its checks just before the Cancel came: a
    // Cancel handled before the install step starts still stops it.
    if (result->error.empty() && gUpdate.downloadCancel.Cancelled()) {
        Log(L"update: %ls passed its checks, but the update was cancelled", result->path.c_str());
        DropDownload(*result);
        return;
    }
    if (!result->error.empty()) {
        Log(L"update: download failed: %ls", result->error.c_str());
        if (!gUpdate.downloadCancel.Cancelled())
            MessageBoxW(gMain, FormatString(L"The update didn't install.\n\n%ls", result->error.c_str()).c_str(),
                        L"Orvane update", MB_OK | MB_ICONWARNING);
        return;
    }
    Log(L"update: %ls passed its checks", result->path.c_str());
    RunInstallStep(*result);
}

LRESULT CALLBACK UpdateBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            PaintUpdateBar(window);
            return 0;
        case WM_SIZE:
            LayOutUpdateBar(window);
            return 0;
        case WM_COMMAND:
            return SendMessageW(GetParent(window), message, wParam, lParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
