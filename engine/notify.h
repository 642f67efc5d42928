// How the engine reaches the main window and learns about its process: posted
// messages, the elevation check and the saved index's place. The Windows build
// calls the real API; natively the "window" is a NotifyTarget a test supplies.
#pragma once

#include <cstdint>

#include "index/platform.h"

namespace ov {

constexpr uint32_t kWmApp = 0x8000u;
constexpr uint32_t WM_APP_INDEX_CHANGED = kWmApp + 40;
constexpr uint32_t WM_APP_VOLUMES_CHANGED = kWmApp + 41;

// An HWND on Windows.
using WindowHandle = void*;

#ifndef _WIN32
// Native stand-in for a window: receives what would have been posted.
class NotifyTarget {
public:
    virtual void Posted(uint32_t message) = 0;

protected:
    ~NotifyTarget() = default;
};
#endif

// PostMessageW(window, message, 0, 0); window must not be null.
void PostNotify(WindowHandle window, uint32_t message);

// The process token is elevated.
bool ProcessIsElevated();

// "<local application data>\Keltrax\Orvane\Orvane.db", creating the two
// folders; empty when that folder is not available.
WString SavedIndexPath();

}  // namespace ov
