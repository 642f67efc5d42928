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

// The updater's state. UI thread only, but for the cancel flags, which the
// worker threads read.
struct UpdateState {
    bool checking = false;
    bool downloading = false;
    // One flag per operation, cleared when it starts, so a cancelled download
    // and a check that runs beside it never clear or see each other's.
    std::atomic<bool> checkCancel{false};
    std::atomic<bool> downloadCancel{false};
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
// expectedBytes is not 0. Stops with "Update cancelled." once cancel is set.
// False with the reason in error (cut to errorChars) on any failure.
bool HttpGet(const wchar_t* url, std::string* body, uint32_t maxBytes, HANDLE file, uint32_t expectedBytes,
             const std::atomic<bool>& cancel, const std::function<void(int)>& progress, wchar_t* error, int errorChars);

// Starts one check on a thread of its own; manual checks report what they found.
void StartUpdateCheck(bool manual);
// WM_APP_UPDATE_RESULT: lParam is the check's UpdateInfo, owned by the receiver.
void OnUpdateResult(LPARAM lParam);
