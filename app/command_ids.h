// The numbers the application's windows share: messages to the main window,
// its timers and every command id (ribbon, menus, accelerators, tray, bars,
// Settings-tab controls, the main window's own controls).
#pragma once

#include <windows.h>

// Posted or sent to the main window. A record in lParam belongs to the receiver.
constexpr UINT WM_APP_UPDATE_RESULT = WM_APP + 11;      // UpdateInfo*
constexpr UINT WM_APP_DOWNLOAD_PROGRESS = WM_APP + 12;  // wParam: percent
constexpr UINT WM_APP_DOWNLOAD_DONE = WM_APP + 13;      // lParam: error text or null
constexpr UINT WM_APP_INDEX_CHANGED = WM_APP + 40;
constexpr UINT WM_APP_VOLUMES_CHANGED = WM_APP + 41;
constexpr UINT WM_APP_ICONS_READY = WM_APP + 51;
constexpr UINT WM_APP_TRAY = WM_APP + 60;
constexpr UINT WM_APP_INDEX_LOADED = WM_APP + 61;
constexpr UINT WM_APP_EXIT = WM_APP + 70;  // save and quit; accepted from other processes
// WM_APP_RESULTS (WM_APP + 50) is the search worker's: index/search_worker.h.

// WM_COPYDATA tag of the single-instance hand-off.
constexpr ULONG_PTR kHandOffTag = 245;

enum MainTimer : UINT_PTR {
    kTimerUpdateCheck = 2,  // 5 s: automatic update check when due
    kTimerOldFile = 3,      // 3 s, five ticks: deletes the file left by a self-update
    kTimerDevices = 4,      // 2 s after the last device change: refresh the volumes
    kTimerSave = 5,         // 30 min: background save when the index changed
    kTimerSelfTest = 6,     // 1 s: a self-test run checks whether the index is ready
    kTimerTrayIcon = 7,     // 2 s while the notification area refuses the tray icon
    kTimerRefresh = 11,     // 300 ms after the last index change: search again
};

enum CommandId : int {
    kCmdMatchCase = 101,
    kCmdWholeWord = 102,
    kCmdMatchPath = 103,
    kCmdRegex = 104,
    kCmdOpen = 105,
    kCmdOpenFolder = 106,
    kCmdCopyPath = 107,
    kCmdProperties = 108,
    kCmdExport = 109,
    kCmdClearSearch = 110,
    kCmdSameNames = 111,
    kCmdSameSize = 112,
    kCmdLargestFiles = 113,
    kCmdLargestFolders = 114,
    kCmdRecentChanges = 115,
    kCmdEmptyFolders = 116,
    kCmdSpeedTest = 117,
    kCmdMostOpened = 118,
    kCmdIndexStatus = 119,
    kCmdRescanAll = 120,
    kCmdAddFolder = 121,
    kCmdSaveIndex = 122,
    kCmdRunAsAdmin = 123,
    kCmdExcludedFolders = 124,
    kCmdHowToUse = 125,
    kCmdSearchTricks = 126,
    kCmdUserGuide = 127,
    kCmdReleaseNotes = 128,
    kCmdCheckUpdates = 129,
    kCmdDownloadPage = 130,
    kCmdDiagnosticReport = 131,
    kCmdAbout = 132,
    kCmdFocusSearch = 133,
    kCmdCopyFiles = 134,
    kCmdCopyNames = 135,
    kCmdDelete = 136,
    kCmdSelectAll = 137,
    kCmdExit = 138,
    kCmdShowWindow = 139,
    kCmdSearchAgain = 140,

    // Settings-tab controls.
    kSetRunAsAdmin = 400,
    kSetStartWithWindows = 401,
    kSetKeepInTray = 402,
    kSetHotkey = 403,
    kSetHideHidden = 404,
    kSetHideSystem = 405,
    kSetHighlight = 406,
    kSetStripes = 407,
    kSetIncludeRemovable = 408,
    kSetExcludedFolders = 409,
    kSetThreads = 410,
    kSetAutoUpdate = 411,
    kSetSizeFormat = 412,

    kIdSearchBox = 480,
    kIdFilterList = 481,
    kIdResultsList = 482,

    kCmdUpdateNow = 490,
    kCmdUpdateNotes = 491,
    kCmdUpdateLater = 492,
    kCmdRestartAsAdmin = 493,
    kCmdHideAdminBar = 494,
};
