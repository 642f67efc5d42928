// The update check and the HTTPS client. HttpGet refuses every address that is
// not https:// and bounds what it takes while it reads: a manifest by its cap,
// a download by the size the manifest gave (or a hard cap), so a server that
// keeps sending is cut off instead of filling memory or the disk.
#include "update/update_check.h"

#include <winhttp.h>

#include <memory>
#include <vector>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/posted_record.h"
#include "app/window_kit.h"
#include "update/download_rules.h"
#include "update/update_download.h"

UpdateState gUpdate;

namespace {

// Closes what was opened on every path.
struct InternetHandle {
    HINTERNET handle = nullptr;
    ~InternetHandle() {
        if (handle) WinHttpCloseHandle(handle);
    }
};

void SetError(wchar_t* error, int errorChars, const std::wstring& text) {
    if (error && errorChars > 0) CopyCut(text.data(), text.size(), error, static_cast<size_t>(errorChars));
}

std::wstring Wide(const char16_t* text) {
    return std::wstring(text, text + std::char_traits<char16_t>::length(text));
}

}  // namespace

bool HttpGet(const wchar_t* url, std::string* body, uint32_t maxBytes, HANDLE file, uint32_t expectedBytes,
             const std::atomic<bool>& cancel, const std::function<void(int)>& progress, wchar_t* error,
             int errorChars) {
    if (!IsHttpsUrl(url)) {
        SetError(error, errorChars, L"Only secure (https://) update addresses are accepted.");
        return false;
    }
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url, 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS) {
        SetError(error, errorChars, L"Bad update address.");
        return false;
    }
    wchar_t agent[64];
    FormatBuf(agent, 64, L"Orvane/%ls", kVersionText);

    InternetHandle session, connection, request;
    session.handle =
        WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session.handle)
        session.handle =
            WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session.handle) {
        SetError(error, errorChars,
                 FormatString(L"Couldn't start an internet connection (error %lu).", GetLastError()));
        return false;
    }
    WinHttpSetTimeouts(session.handle, 15000, 15000, 20000, 60000);
    connection.handle = WinHttpConnect(session.handle, host, parts.nPort, 0);
    if (!connection.handle) {
        SetError(error, errorChars, FormatString(L"Couldn't reach %ls (error %lu).", host, GetLastError()));
        return false;
    }
    request.handle = WinHttpOpenRequest(connection.handle, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!request.handle) {
        SetError(error, errorChars, FormatString(L"Couldn't create the request (error %lu).", GetLastError()));
        return false;
    }
    WinHttpAddRequestHeaders(request.handle, L"Cache-Control: no-cache\r\nPragma: no-cache", static_cast<DWORD>(-1),
                             WINHTTP_ADDREQ_FLAG_ADD);
    if (!WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.handle, nullptr)) {
        SetError(
            error, errorChars,
            FormatString(L"No internet connection, or %ls couldn't be reached (error %lu).", host, GetLastError()));
        return false;
    }
    DWORD status = 0;
    DWORD statusBytes = sizeof status;
    if (!WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusBytes, WINHTTP_NO_HEADER_INDEX))
        status = 0;
    if (status != 200) {
        SetError(error, errorChars, FormatString(L"The update server answered with error %lu.", status));
        return false;
    }
    std::vector<char> chunk(65536);
    if (cancel.load()) {
        SetError(error, errorChars, L"Update cancelled.");
        return false;
    }
    const uint64_t limit = file ? DownloadLimit(expectedBytes) : maxBytes;
    uint64_t total = 0;
    int lastPercent = -1;
    try {
        for (;;) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request.handle, &available)) {
                SetError(error, errorChars, FormatString(L"The download was interrupted (error %lu).", GetLastError()));
                return false;
            }
            if (available == 0) break;
            DWORD read = 0;
            if (!WinHttpReadData(request.handle, chunk.data(), available < 65536 ? available : 65536, &read)) {
                SetError(error, errorChars, FormatString(L"The download was interrupted (error %lu).", GetLastError()));
                return false;
            }
            if (read == 0) break;
            if (total + read > limit) {
                SetError(error, errorChars,
                         file ? Wide(kTextWrongSize) : std::wstring(L"The update information is too large."));
                return false;
            }
            if (file) {
                DWORD written = 0;
                if (!WriteFile(file, chunk.data(), read, &written, nullptr) || written != read) {
                    SetError(error, errorChars, L"Couldn't save the download (disk full?).");
                    return false;
                }
            } else {
                body->append(chunk.data(), read);
            }
            total += read;
            if (file && expectedBytes && progress) {
                const int percent = DownloadPercent(total, expectedBytes);
                if (percent != lastPercent) progress(percent);
                lastPercent = percent;
            }
            if (cancel.load()) {
                SetError(error, errorChars, L"Update cancelled.");
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        SetError(error, errorChars, L"The update information is too large.");
        return false;
    }
    return true;
}

namespace {

DWORD WINAPI UpdateCheckThread(void* parameter) {
    auto info = std::make_unique<UpdateInfo>();
    info->manual = reinterpret_cast<INT_PTR>(parameter) != 0;
    gUpdate.checkCancel.store(false);
    std::string body;
    if (HttpGet(UpdateManifestUrl(), &body, kManifestMaxBytes, nullptr, 0, gUpdate.checkCancel, nullptr, info->error,
                400))
        ReadManifest(body.c_str(), *info);
    PostOwned(gMain, WM_APP_UPDATE_RESULT, 0, std::move(info));
    return 0;
}

void ShowBar() {
    InvalidateRect(gUpdateBar, nullptr, TRUE);
    ShowWindow(gUpdateBar, SW_SHOW);
    LayoutMainWindow();
    RedrawWindow(gMain, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void AskToUpdateNow(const UpdateInfo& info) {
    std::wstring text =
        FormatString(L"Orvane %ls is available (you have %ls).\n\nWhat's new:\n", info.version, kVersionText);
    text += info.notes;
    text += L"\n\nUpdate now? Orvane will restart in a few seconds and keep your settings, index and search.";
    if (MessageBoxW(gMain, text.c_str(), L"Orvane update", MB_YESNO | MB_ICONINFORMATION) == IDYES)
        StartUpdateDownload();
}

}  // namespace

void StartUpdateCheck(bool manual) {
    if (gUpdate.checking || gUpdate.downloading) return;
    gUpdate.checking = true;
    if (manual) SetStatusText(L"Checking for updates\u2026");
    HANDLE thread =
        CreateThread(nullptr, 0, UpdateCheckThread, reinterpret_cast<void*>(static_cast<INT_PTR>(manual)), 0, nullptr);
    if (thread)
        CloseHandle(thread);
    else
        gUpdate.checking = false;
}

void OnUpdateResult(LPARAM lParam) {
    const std::unique_ptr<UpdateInfo> info = TakePosted<UpdateInfo>(lParam);
    gUpdate.checking = false;
    const bool manual = info->manual != 0;
    if (info->ok && CompareVersions(info->version, kVersionText) <= 0) {
        if (manual)
            MessageBoxW(gMain, FormatString(L"You have the latest version of Orvane (%ls).", kVersionText).c_str(),
                        L"Orvane update", MB_OK | MB_ICONINFORMATION);
    } else if (info->ok) {
        const bool sameShown = gUpdate.known && wcscmp(gUpdate.knownInfo.version, info->version) == 0 &&
                               InfoBarShown(gUpdateBar) && !manual;
        // A running download keeps the record it started from (it works on its own copy).
        gUpdate.knownInfo = *info;
        gUpdate.known = true;
        if (!sameShown) {
            ShowBar();
            if (manual) AskToUpdateNow(*info);
        }
    } else if (manual) {
        MessageBoxW(gMain, FormatString(L"Couldn't check for updates.\n\n%ls", info->error).c_str(), L"Orvane update",
                    MB_OK | MB_ICONWARNING);
    }
    if (manual) SetStatusText(L"");
}
