// The process from wWinMain to its exit code: the command line, the hand-off to
// a running copy, the optional elevated relaunch, everything created in its
// order, the message loop and the tear-down.
#include "app/startup.h"

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>

#include <vector>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/help_texts.h"
#include "app/icon_loader.h"
#include "app/index_status.h"
#include "app/info_bars.h"
#include "app/main_window.h"
#include "app/results_list.h"
#include "app/ribbon.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "update/install.h"
#include "update/update_download.h"

HICON gAppIcon = nullptr;

namespace {

MessageFilterCall gMessageFilter = ChangeWindowMessageFilterEx;

CommandLine ReadCommandLine() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return ParseCommandLine(args);
}

bool StartsHidden() {
    return gArgs.tray || !gArgs.selfTestPath.empty();
}

// Only a placement of exactly 44 bytes whose normal rectangle is on a monitor
// is used. A window stored minimised, or with a show command no window is left
// in, opens normally.
void ApplySavedPlacement(HWND window, int show) {
    WINDOWPLACEMENT placement = {};
    if (RegReadBinary(L"WindowPlacement", &placement, sizeof placement) &&
        MonitorFromRect(&placement.rcNormalPosition, MONITOR_DEFAULTTONULL)) {
        placement.length = sizeof placement;
        placement.flags = 0;
        if (StartsHidden()) {
            placement.showCmd = SW_HIDE;
        } else if (placement.showCmd != SW_SHOWMAXIMIZED) {
            placement.showCmd = SW_SHOWNORMAL;
        }
        SetWindowPlacement(window, &placement);
        return;
    }
    if (!StartsHidden()) ShowWindow(window, show);
}

HACCEL CreateAccelerators() {
    ACCEL keys[] = {
        {FCONTROL | FVIRTKEY, 'F', kCmdFocusSearch},
        {FVIRTKEY, VK_F3, kCmdFocusSearch},
        {FVIRTKEY, VK_F1, kCmdHowToUse},
        {FVIRTKEY, VK_F5, kCmdSearchAgain},
        {FCONTROL | FVIRTKEY, 'I', kCmdMatchCase},
        {FCONTROL | FVIRTKEY, 'B', kCmdWholeWord},
        {FCONTROL | FVIRTKEY, 'U', kCmdMatchPath},
        {FCONTROL | FVIRTKEY, 'R', kCmdRegex},
        {FCONTROL | FVIRTKEY, 'Q', kCmdExit},
        {FCONTROL | FSHIFT | FVIRTKEY, 'C', kCmdCopyPath},
        {FCONTROL | FVIRTKEY, 'S', kCmdExport},
    };
    return CreateAcceleratorTableW(keys, static_cast<int>(sizeof keys / sizeof keys[0]));
}

// Tab and Shift+Tab move between the main window's controls. Only the Tab key
// goes through the dialog manager, so Enter and Esc stay with the search box.
bool MovedFocusByTab(MSG& msg) {
    if (msg.message != WM_KEYDOWN || msg.wParam != VK_TAB || !gMain) return false;
    if (msg.hwnd != gMain && !IsChild(gMain, msg.hwnd)) return false;
    return IsDialogMessageW(gMain, &msg) != FALSE;
}

void RunMessageLoop() {
    HACCEL accelerators = CreateAccelerators();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (gNotesWindow && IsDialogMessageW(gNotesWindow, &msg)) continue;
        if (gIndexStatusWindow && IsDialogMessageW(gIndexStatusWindow, &msg)) continue;
        if (gMain && TranslateAcceleratorW(gMain, accelerators, &msg)) continue;
        if (MovedFocusByTab(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyAcceleratorTable(accelerators);
}

void TearDown() {
    StopSearching();
    StopIconLoader();
    EndEngine();
}

}  // namespace

void RegisterWindowClasses() {
    const HBRUSH window = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    const HBRUSH face = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    RegisterWindowClass(L"OrvaneMain", MainProc, window, gAppIcon);
    RegisterWindowClass(L"OVRibbon", RibbonProc, nullptr, nullptr);
    RegisterWindowClass(L"OVUpdBar", UpdateBarProc, nullptr, nullptr);
    RegisterWindowClass(L"OVAdminBar", AdminBarProc, nullptr, nullptr);
    RegisterWindowClass(L"OVNotes", NotesProc, face, gAppIcon);
    RegisterWindowClass(L"OVStatus", IndexStatusProc, face, gAppIcon);
}

HWND CreateMainWindow(int show) {
    const std::wstring title = EngineElevated() ? L"Orvane (Administrator)" : L"Orvane";
    gTaskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    HWND window = CreateWindowExW(0, L"OrvaneMain", title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                  CW_USEDEFAULT, Dip(1180), Dip(760), nullptr, nullptr, gInstance, nullptr);
    if (!window) return nullptr;
    AttachEngineWindow(window);
    // An elevated copy must still hear copies at another integrity level, the
    // installer, and Explorer announcing its restart (to add the icon again).
    for (UINT message : {static_cast<UINT>(WM_COPYDATA), static_cast<UINT>(WM_APP_EXIT), gTaskbarCreatedMessage}) {
        if (message) gMessageFilter(window, message, MSGFLT_ALLOW, nullptr);
    }
    ApplySavedPlacement(window, show);
    LayoutMainWindow();
    return window;
}

void SetMessageFilterForTesting(MessageFilterCall call) {
    gMessageFilter = call ? call : ChangeWindowMessageFilterEx;
}

int RunOrvane(HINSTANCE instance, int show) {
    gInstance = instance;
    gArgs = ReadCommandLine();
    if (gArgs.takeover) WaitForTakeover();
    if (gArgs.selfTestPath.empty()) {
        const HandOff handOff = HandOffToRunningCopy(gArgs);
        if (handOff == HandOff::Delivered) return 0;
        if (handOff == HandOff::Lost) return kHandOffLostExitCode;
    }

    // OLE, not only COM: dragging results out and the clipboard's data objects need it.
    OleInitialize(nullptr);
    ReadSettings();
    const bool updatesOff = DetectInstallMode();
    if (updatesOff) SetSettingForThisRun(&AppSettings::autoUpdate, 0);
    Log(L"install mode %d (0 portable, 1 just me, 2 everyone), updates switched off by installer: %d",
        static_cast<int>(gInstallMode), updatesOff ? 1 : 0);
    if (gSettings.runAsAdmin && !gArgs.noAdmin && RelaunchElevated(gArgs, show)) {
        OleUninitialize();
        return 0;
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x40FF};
    InitCommonControlsEx(&controls);
    HDC screen = GetDC(nullptr);
    gDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    CreateAppFonts();
    LoadIconStrip(gIconStrip32, Dip(32));
    LoadIconStrip(gIconStrip20, Dip(20));
    SetUpEngine();
    Log(L"Orvane %ls starting; elevated=%d threads=%d", kVersionText, EngineElevated() ? 1 : 0, IndexThreadCount());

    gAppIcon = LoadIconW(gInstance, MAKEINTRESOURCEW(1));
    RegisterWindowClasses();
    if (!CreateMainWindow(show)) {
        // No desktop to show a window on (or no memory for one): the threads
        // its children started must end before the process does.
        Log(L"main window not created, error %lu", GetLastError());
        TearDown();
        OleUninitialize();
        return 1;
    }
    if (!gArgs.search.empty()) SetWindowTextW(gSearchBox, gArgs.search.c_str());
    StartSearching();
    UpdateStatusBar();
    SetStatusState(L"Loading the index…");
    StartIndexLoad();
    if (!gArgs.selfTestPath.empty()) SetTimer(gMain, kTimerSelfTest, 1000, nullptr);
    if (!gArgs.updatedFrom.empty() && !gArgs.tray) {
        ShowTextWindow(L"Orvane updated",
                       FormatString(L"Orvane was updated to version %ls. What's new:\n\n", kVersionText).c_str(),
                       kWhatsNewText);
    }
    if (gSearchBox) SetFocus(gSearchBox);
    RunMessageLoop();

    TearDown();
    OleUninitialize();
    return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    return RunOrvane(instance, show);
}
