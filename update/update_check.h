// The update check: a release manifest fetched shortly after start, every 6
// hours when automatic checks are on, and on request; and the HTTPS client the
// download uses too.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "update/update_manifest.h"

// The cancel of one HttpGet, set from any thread: it also ends a call that
// waits on the network, at once. Only one HttpGet uses it at a time.
class HttpCancel {
public:
    HttpCancel();
    ~HttpCancel();
    HttpCancel(const HttpCancel&) = delete;
    HttpCancel& operator=(const HttpCancel&) = delete;

    void Cancel();
    // Clears it for the next operation; not while an HttpGet uses it.
    void Reset();
    bool Cancelled() const { return cancelled.load(); }
    // Signalled once cancelled.
    HANDLE Event() const { return stop; }

private:
    std::atomic<bool> cancelled{false};
    HANDLE stop;  // manual-reset; immutable after construction
};

// The updater's state. UI thread only, but for the cancels, which the worker
// threads read.
struct UpdateState {
    bool checking = false;
    bool downloading = false;
    // One cancel per operation, cleared when it starts, so a cancelled download
    // and a check that runs beside it never clear or see each other's.
    HttpCancel checkCancel;
    HttpCancel downloadCancel;
    bool busyNoteShown = false;  // "already running" is in the status bar
    bool known = false;
    UpdateInfo knownInfo;  // the last newer-version result
    int downloadPercent = -1;
};
extern UpdateState gUpdate;

// The manifest's address, fixed by the build (update/release_host.cpp).
const wchar_t* UpdateManifestUrl();

// Largest manifest taken.
constexpr uint32_t kManifestMaxBytes = 262144;

// One HTTPS GET. Without file the body goes to *body, failing past maxBytes;
// with file it is written there, failing as soon as it passes expectedBytes
// (the hard cap when 0), and progress gets each new percentage when
// expectedBytes is not 0. Stops with "Update cancelled." once cancel is set,
// at once even while it waits on the network, and fails so when cancel was set
// by the time the body ended. False with the reason in error (cut to
// errorChars) on any failure.
bool HttpGet(const wchar_t* url, std::string* body, uint32_t maxBytes, HANDLE file, uint32_t expectedBytes,
             HttpCancel& cancel, const std::function<void(int)>& progress, wchar_t* error, int errorChars);

// Starts one check on a thread of its own; manual checks report what they found.
// A manual one asked for while a check or a download runs says so instead.
void StartUpdateCheck(bool manual);
// WM_APP_UPDATE_RESULT: lParam is the check's UpdateInfo, owned by the receiver.
void OnUpdateResult(LPARAM lParam);
