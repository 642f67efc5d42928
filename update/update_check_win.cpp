// The update check and the HTTPS client. HttpGet refuses every address that is
// not https:// and bounds what it takes while it reads: a manifest by its cap,
// a download by the size the manifest gave (or a hard cap), so a server that
// keeps sending is cut off instead of filling memory or the disk.
#include "update/update_check.h"

#include <winhttp.h>

#include <memory>
#include <new>

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

HttpCancel::HttpCancel() : stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

HttpCancel::~HttpCancel() {
    if (stop) CloseHandle(stop);
}

void HttpCancel::Cancel() {
    cancelled.store(true);
    if (stop) SetEvent(stop);
}

void HttpCancel::Reset() {
    cancelled.store(false);
    if (stop) ResetEvent(stop);
}

namespace {

// One request's completions, handed from WinHTTP's threads to the thread in
// HttpGet. WinHTTP may call back, and write into the read buffer, until it
// says the handle is closing, so the callback frees this then; HttpGet never
// waits for it.
struct RequestEvents {
    HANDLE completed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD bytes = 0;  // what the call gave: bytes available or read
    DWORD error = 0;  // 0 unless the call failed
    char buffer[65536];
    ~RequestEvents() {
        if (completed) CloseHandle(completed);
    }
};

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD length) {
    auto* events = reinterpret_cast<RequestEvents*>(context);
    if (!events) return;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            events->bytes = 0;
            SetEvent(events->completed);
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            events->bytes = *static_cast<DWORD*>(information);
            SetEvent(events->completed);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            events->bytes = length;
            SetEvent(events->completed);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            events->error = static_cast<WINHTTP_ASYNC_RESULT*>(information)->dwError;
            if (!events->error) events->error = ERROR_WINHTTP_INTERNAL_ERROR;
            SetEvent(events->completed);
            break;
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            delete events;
            break;
        default:
            break;
    }
}

enum class Call { Done, Failed, Cancelled };

}  // namespace

// The session is asynchronous so that a Cancel ends a call that waits on the
// network at once: the waiting thread itself closes the request, the way
// WinHTTP ends a pending asynchronous call, and leaves the rest to the callback.
bool HttpGet(const wchar_t* url, std::string* body, uint32_t maxBytes, HANDLE file, uint32_t expectedBytes,
             HttpCancel& cancel, const std::function<void(int)>& progress, wchar_t* error, int errorChars) {
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
    session.handle = WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session.handle)
        session.handle = WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
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
    auto* events = new (std::nothrow) RequestEvents;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(events);
    if (!request.handle || !events || !events->completed ||
        WinHttpSetStatusCallback(request.handle, OnRequestStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK ||
        !WinHttpSetOption(request.handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        const DWORD code = events ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        if (request.handle) {
            WinHttpSetStatusCallback(request.handle, nullptr, 0, 0);
            WinHttpCloseHandle(request.handle);
            request.handle = nullptr;
        }
        delete events;  // no callback has it
        SetError(error, errorChars, FormatString(L"Couldn't create the request (error %lu).", code));
        return false;
    }
    WinHttpAddRequestHeaders(request.handle, L"Cache-Control: no-cache\r\nPragma: no-cache", static_cast<DWORD>(-1),
                             WINHTTP_ADDREQ_FLAG_ADD);
    // Starts one call and waits for its completion or the cancel; the error
    // of a failed call is in events->error.
    auto wait = [&](auto start) {
        if (cancel.Cancelled()) return Call::Cancelled;
        events->error = 0;
        if (!start()) {
            events->error = GetLastError();
            return Call::Failed;
        }
        HANDLE handles[2] = {cancel.Event(), events->completed};
        const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0) return Call::Cancelled;
        if (woke != WAIT_OBJECT_0 + 1) {
            events->error = GetLastError();
            return Call::Failed;
        }
        return events->error ? Call::Failed : Call::Done;
    };
    auto stopped = [&] {
        WinHttpCloseHandle(request.handle);  // ends the pending call
        request.handle = nullptr;
        SetError(error, errorChars, L"Update cancelled.");
        return false;
    };
    Call call = wait([&] {
        return WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                  context);
    });
    if (call == Call::Done) call = wait([&] { return WinHttpReceiveResponse(request.handle, nullptr); });
    if (call == Call::Cancelled) return stopped();
    if (call == Call::Failed) {
        SetError(error, errorChars,
                 FormatString(L"No internet connection, or %ls couldn't be reached (error %lu).", host, events->error));
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
    if (cancel.Cancelled()) return stopped();
    const uint64_t limit = file ? DownloadLimit(expectedBytes) : maxBytes;
    uint64_t total = 0;
    int lastPercent = -1;
    try {
        for (;;) {
            // Asynchronous calls give their counts through the callback only.
            call = wait([&] { return WinHttpQueryDataAvailable(request.handle, nullptr); });
            if (call == Call::Done) {
                const DWORD available = events->bytes;
                if (available == 0) break;
                call = wait([&] {
                    return WinHttpReadData(request.handle, events->buffer, available < 65536 ? available : 65536,
                                           nullptr);
                });
            }
            if (call == Call::Cancelled) return stopped();
            if (call == Call::Failed) {
                SetError(error, errorChars, FormatString(L"The download was interrupted (error %lu).", events->error));
                return false;
            }
            const DWORD read = events->bytes;
            const char* chunk = events->buffer;
            if (read == 0) break;
            if (total + read > limit) {
                SetError(error, errorChars,
                         file ? Wide(kTextWrongSize) : std::wstring(L"The update information is too large."));
                return false;
            }
            if (file) {
                DWORD written = 0;
                if (!WriteFile(file, chunk, read, &written, nullptr) || written != read) {
                    SetError(error, errorChars, L"Couldn't save the download (disk full?).");
                    return false;
                }
            } else {
                body->append(chunk, read);
            }
            total += read;
            if (file && expectedBytes && progress) {
                const int percent = DownloadPercent(total, expectedBytes);
                if (percent != lastPercent) progress(percent);
                lastPercent = percent;
            }
            if (cancel.Cancelled()) return stopped();
        }
    } catch (const std::bad_alloc&) {
        SetError(error, errorChars, L"The update information is too large.");
        return false;
    }
    // A cancel that came while the end of the body was awaited.
    if (cancel.Cancelled()) return stopped();
    return true;
}

namespace {

DWORD WINAPI UpdateCheckThread(void* parameter) {
    auto info = std::make_unique<UpdateInfo>();
    info->manual = reinterpret_cast<INT_PTR>(parameter) != 0;
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
    if (gUpdate.checking || gUpdate.downloading) {
        if (manual) {
            SetStatusText(gUpdate.downloading ? L"The update is already being downloaded."
                                              : L"A check for updates is already running.");
            gUpdate.busyNoteShown = true;
        }
        return;
    }
    gUpdate.checking = true;
    gUpdate.checkCancel.Reset();
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
    if (manual || gUpdate.busyNoteShown) SetStatusText(L"");
    gUpdate.busyNoteShown = false;
}
