// Times what a keystroke in the search box costs beyond the search itself: the
// real main window in this process over an engine filled from a saved index
// (its volumes never started), a character sent to the box as the message loop
// would deliver it, then messages pumped until ApplyResults took the answer and
// the list and the status bar painted. The queries alternate (a letter typed,
// then erased) so every keystroke searches again; both directions are timed.
//
// Window procedures put in front of those of the main window, the list and the
// status bar time the messages that do the work, split into those sent while
// ApplyResults runs and those of the painting after it, so what lies outside
// Searcher::Run can be told apart without touching the application. They are
// set with SetWindowLongPtr, not SetWindowSubclass: under Wine each message to
// a window subclassed that way asks the server for its subclass chain, which
// would charge the probes' own cost to the application. Then the list is
// scrolled to its end and back with every entry shown, and pieces of the
// painting are timed alone: the visible rows into a bitmap with and without
// their icons, and the header.
//
// Beside the main window stands the floor (bench/tools/ui_floor.h), a bare list
// of the same size doing only what any program must per keystroke; it takes a
// keystroke after each of the application's, so both are timed at the same
// load, and the application's time outside the search is given as a multiple
// of it. The screen must be wide enough for both windows side by side
// (`make bench-ui` makes it so): a window covering the other would spare it
// painting.
//
//   ov_ui_timing FILE [ROUNDS]
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/engine_host.h"
#include "app/icon_loader.h"
#include "app/main_window.h"
#include "app/results_list.h"
#include "app/row_icon_cache.h"
#include "app/row_painting.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/startup.h"
#include "bench/tools/ui_floor.h"
#include "engine/engine.h"
#include "index/text.h"

namespace {

enum Slot {
    kSetItemState,
    kSetItemCount,
    kEnsureVisible,
    kSetRedraw,
    kListNotify,
    kStatusText,
    kListFrame,
    kListErase,
    kListPaint,
    kRowPaint,
    kStatusPaint,
    kSlots
};

// Nested messages (a row inside the list's paint, a frame inside WM_SETREDRAW)
// count in both.
constexpr const char* kSlotNames[kSlots] = {
    "LVM_SETITEMSTATE (selection, focus)",
    "LVM_SETITEMCOUNT",
    "LVM_ENSUREVISIBLE",
    "WM_SETREDRAW",
    "WM_NOTIFY from the list",
    "SB_SETTEXT (status-bar texts)",
    "list WM_NCPAINT (frame, scroll bar)",
    "list WM_ERASEBKGND",
    "list WM_PAINT",
    "  rows (WM_DRAWITEM)",
    "status bar WM_PAINT",
};

// Milliseconds inside the watched messages since the process started.
struct Spent {
    double ms[kSlots] = {};
    int rows = 0;
    int dispInfo = 0;  // LVN_GETDISPINFOW: an owner-drawn list should ask for none
    Spent operator-(const Spent& earlier) const {
        Spent d = *this;
        for (int i = 0; i < kSlots; ++i) d.ms[i] -= earlier.ms[i];
        d.rows -= earlier.rows;
        d.dispInfo -= earlier.dispInfo;
        return d;
    }
};
Spent gSpent;
UiFloor gFloor;

WNDPROC gListProc = nullptr;
WNDPROC gStatusProc = nullptr;
WNDPROC gMainProc = nullptr;

LRESULT Timed(Slot slot, WNDPROC next, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const double start = ov::NowMs();
    const LRESULT result = CallWindowProcW(next, window, message, wParam, lParam);
    gSpent.ms[slot] += ov::NowMs() - start;
    return result;
}

LRESULT CALLBACK ProbeList(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case LVM_SETITEMSTATE:
            return Timed(kSetItemState, gListProc, window, message, wParam, lParam);
        case LVM_SETITEMCOUNT:
            return Timed(kSetItemCount, gListProc, window, message, wParam, lParam);
        case LVM_ENSUREVISIBLE:
            return Timed(kEnsureVisible, gListProc, window, message, wParam, lParam);
        case WM_SETREDRAW:
            return Timed(kSetRedraw, gListProc, window, message, wParam, lParam);
        case WM_NCPAINT:
            return Timed(kListFrame, gListProc, window, message, wParam, lParam);
        case WM_ERASEBKGND:
            return Timed(kListErase, gListProc, window, message, wParam, lParam);
        case WM_PAINT:
            return Timed(kListPaint, gListProc, window, message, wParam, lParam);
        default:
            return CallWindowProcW(gListProc, window, message, wParam, lParam);
    }
}

LRESULT CALLBACK ProbeStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == SB_SETTEXTW) return Timed(kStatusText, gStatusProc, window, message, wParam, lParam);
    if (message == WM_PAINT) return Timed(kStatusPaint, gStatusProc, window, message, wParam, lParam);
    return CallWindowProcW(gStatusProc, window, message, wParam, lParam);
}

LRESULT CALLBACK ProbeMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DRAWITEM && reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem == gResultsList) {
        ++gSpent.rows;
        return Timed(kRowPaint, gMainProc, window, message, wParam, lParam);
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->hwndFrom == gResultsList) {
        if (reinterpret_cast<const NMHDR*>(lParam)->code == LVN_GETDISPINFOW) ++gSpent.dispInfo;
        return Timed(kListNotify, gMainProc, window, message, wParam, lParam);
    }
    return CallWindowProcW(gMainProc, window, message, wParam, lParam);
}

void InstallProbes() {
    auto put = [](HWND window, WNDPROC probe) {
        return reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(probe)));
    };
    gListProc = put(gResultsList, ProbeList);
    gStatusProc = put(gStatusBar, ProbeStatus);
    gMainProc = put(gMain, ProbeMain);
}

uint64_t LastRequest() {
    std::lock_guard<std::mutex> hold(gSearch.mutex);
    return gSearch.lastSequence;
}

// When the result of one request was taken into the list, and what that cost.
struct Applied {
    double start = 0;
    double ms = 0;
    Spent spent;
};

// Dispatches this thread's messages until the result of request `sequence`
// was applied. False after limitMs.
bool PumpUntilApplied(uint64_t sequence, double limitMs, Applied& applied) {
    const double deadline = ov::NowMs() + limitMs;
    while (gShown.sequence < sequence) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            const bool ours = msg.message == ov::WM_APP_RESULTS && msg.hwnd == gMain &&
                              reinterpret_cast<const ov::SearchResult*>(msg.lParam)->sequence == sequence;
            const Spent before = gSpent;
            const double start = ov::NowMs();
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (ours) applied = {start, ov::NowMs() - start, gSpent - before};
            continue;
        }
        const double left = deadline - ov::NowMs();
        if (left <= 0) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left) + 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

// Lets late work (icons the loader found, repaints) finish outside the timings.
void Settle(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

struct Series {
    std::vector<double> values;
    void Add(double value) { values.push_back(value); }
    double At(double p) const {
        if (values.empty()) return 0;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * static_cast<double>(sorted.size())))];
    }
    double Median() const { return At(0.5); }
    double P90() const { return At(0.9); }
};

struct Phase {
    Series ms[kSlots];
    Series rows, dispInfo;
    void Add(const Spent& spent) {
        for (int i = 0; i < kSlots; ++i) ms[i].Add(spent.ms[i]);
        rows.Add(spent.rows);
        dispInfo.Add(spent.dispInfo);
    }
};

struct KeyTimes {
    Series total, search, outside, send, handOff, apply, paint, paintRest;
    Series floor, floorPaint, floorRows, floorStatus;  // the floor's keystroke right after each of these
    Phase inApply, inPaint;
    size_t results = 0;
};

// Sends one character to the box as the message loop dispatches it (the edit
// control inserts it or, for a backspace, erases one; EN_CHANGE requests the
// search), waits for the answer and paints the list and the status bar.
bool TimeKeystroke(wchar_t key, KeyTimes& times) {
    const double start = ov::NowMs();
    SendMessageW(gSearchBox, WM_CHAR, key, 1);
    const double sent = ov::NowMs();
    Applied applied;
    if (!PumpUntilApplied(LastRequest(), 120000, applied)) return false;
    const Spent beforePaint = gSpent;
    const double paintStart = ov::NowMs();
    UpdateWindow(gResultsList);
    UpdateWindow(gStatusBar);
    const double end = ov::NowMs();

    times.total.Add(end - start);
    times.search.Add(gShown.ms);
    times.outside.Add(end - start - gShown.ms);
    times.send.Add(sent - start);
    times.handOff.Add(applied.start - sent - gShown.ms);
    times.apply.Add(applied.ms);
    times.paint.Add(end - paintStart);
    times.inApply.Add(applied.spent);
    const Spent painted = gSpent - beforePaint;
    times.inPaint.Add(painted);
    times.paintRest.Add(end - paintStart - painted.ms[kListFrame] - painted.ms[kListPaint] - painted.ms[kStatusPaint]);
    times.results = gShown.ids.size();
    return true;
}

// Puts text into the box untimed and waits until its results are shown.
bool ShowText(const wchar_t* text) {
    SetWindowTextW(gSearchBox, text);
    const int length = GetWindowTextLengthW(gSearchBox);
    SendMessageW(gSearchBox, EM_SETSEL, length, length);
    Applied applied;
    if (!PumpUntilApplied(LastRequest(), 120000, applied)) return false;
    UpdateWindow(gResultsList);
    Settle(200);
    return true;
}

void PrintRow(const std::string& name, const Series& series, const char* format = "%9.2f") {
    std::printf("  %-44s", name.c_str());
    std::printf(format, series.Median());
    std::printf(format, series.P90());
    std::printf("\n");
}

// The slots of a phase that took any time, and its counts.
void PrintPhase(const char* title, const Phase& phase) {
    std::printf("  %s\n", title);
    for (int i = 0; i < kSlots; ++i) {
        if (phase.ms[i].P90() >= 0.005) PrintRow(std::string("    ") + kSlotNames[i], phase.ms[i]);
    }
    if (phase.rows.P90() > 0) PrintRow("    rows painted (count)", phase.rows, "%9.0f");
    if (phase.dispInfo.P90() > 0) PrintRow("    LVN_GETDISPINFO asked (count)", phase.dispInfo, "%9.0f");
}

void PrintKeystroke(const std::string& label, const KeyTimes& t) {
    std::printf("\n%s: %s results, %zu keystrokes\n", label.c_str(), ov::ToUtf8(FormatThousands(t.results)).c_str(),
                t.total.values.size());
    std::printf("  %-44s%9s%9s\n", "(ms)", "median", "p90");
    PrintRow("total, keystroke to list and status painted", t.total);
    PrintRow("search (Searcher::Run)", t.search);
    PrintRow("outside the search", t.outside);
    PrintRow("  keystroke into the box, EN_CHANGE", t.send);
    PrintRow("  hand-off to the worker and back", t.handOff);
    PrintRow("  ApplyResults", t.apply);
    PrintRow("  painting", t.paint);
    PrintPhase("inside ApplyResults:", t.inApply);
    PrintPhase("inside the painting:", t.inPaint);
    PrintRow("    the rest (outside the probed messages)", t.paintRest);
    PrintRow("floor: the bare list's keystroke", t.floor);
    PrintRow("  its list WM_PAINT", t.floorPaint);
    PrintRow("    its rows", t.floorRows);
    PrintRow("  its status text, put and painted", t.floorStatus);
    std::printf("  %-44s%9.2f\n", "outside the search / floor (medians)",
                t.floor.Median() > 0 ? t.outside.Median() / t.floor.Median() : 0.0);
}

void TimeFloor(KeyTimes& times) {
    times.floor.Add(gFloor.Keystroke());
    times.floorPaint.Add(gFloor.PaintMs());
    times.floorRows.Add(gFloor.RowsMs());
    times.floorStatus.Add(gFloor.StatusMs());
    Settle(30);
}

// base is in the box; key is typed and erased `rounds` times after `warmUp`
// untimed pairs.
bool TimeCase(const wchar_t* base, wchar_t key, int rounds, int warmUp) {
    if (!ShowText(base)) return false;
    KeyTimes typed;
    KeyTimes erased;
    KeyTimes unused;  // the warm-up's
    for (int round = -warmUp; round < rounds; ++round) {
        if (!TimeKeystroke(key, round < 0 ? unused : typed)) return false;
        Settle(30);
        TimeFloor(round < 0 ? unused : typed);
        if (!TimeKeystroke(L'\b', round < 0 ? unused : erased)) return false;
        Settle(30);
        TimeFloor(round < 0 ? unused : erased);
    }
    const std::string before = ov::ToUtf8(base);
    const std::string after = before + ov::ToUtf8(std::wstring(1, key));
    PrintKeystroke("\"" + before + "\" + '" + ov::ToUtf8(std::wstring(1, key)) + "' = \"" + after + "\"", typed);
    PrintKeystroke("\"" + after + "\" + Backspace = \"" + before + "\"" + (before.empty() ? " (every entry)" : ""),
                   erased);
    return true;
}

// With every entry shown: the last row made visible and painted, then the
// first, each a scroll across the whole list.
void TimeScrolling(int rounds) {
    const int last = static_cast<int>(gShown.ids.size()) - 1;
    if (last < 1) return;
    Series took[2];
    Phase in[2];
    for (int round = -2; round < rounds; ++round) {
        for (int way = 0; way < 2; ++way) {
            const Spent before = gSpent;
            const double start = ov::NowMs();
            ListView_EnsureVisible(gResultsList, way == 0 ? last : 0, FALSE);
            UpdateWindow(gResultsList);
            if (round >= 0) {
                took[way].Add(ov::NowMs() - start);
                in[way].Add(gSpent - before);
            }
            Settle(20);
        }
    }
    std::printf("\nscrolling over %s rows, %d each way\n", ov::ToUtf8(FormatThousands(gShown.ids.size())).c_str(),
                rounds);
    std::printf("  %-44s%9s%9s\n", "(ms)", "median", "p90");
    PrintRow("to the last row, painted", took[0]);
    PrintPhase("inside it:", in[0]);
    PrintRow("to the first row, painted", took[1]);
    PrintPhase("inside it:", in[1]);
}

// The visible rows painted straight into a bitmap, as the list's WM_DRAWITEM
// paints them; then without the icons, and the icons alone; then the header.
void TimePieces(int rounds) {
    const int rows = std::min(ListView_GetCountPerPage(gResultsList) + 1, static_cast<int>(gShown.ids.size()));
    RECT client;
    GetClientRect(gResultsList, &client);
    const int height = std::max(Dip(22), Dip(6) + gSmallIconHeight);
    HDC screen = GetDC(gResultsList);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, height * rows);
    HGDIOBJ old = SelectObject(dc, bitmap);
    ReleaseDC(gResultsList, screen);
    auto paintRows = [&] {
        for (int row = 0; row < rows; ++row) {
            DRAWITEMSTRUCT item = {};
            item.CtlType = ODT_LISTVIEW;
            item.itemID = static_cast<UINT>(row);
            item.itemAction = ODA_DRAWENTIRE;
            item.hwndItem = gResultsList;
            item.hDC = dc;
            item.rcItem = {0, row * height, client.right, (row + 1) * height};
            DrawResultRow(&item);
        }
    };
    std::vector<int> icons;
    for (int row = 0; row < rows; ++row) icons.push_back(RowIconIndex(GetResultRow(row)));
    auto drawIcons = [&] {
        for (int row = 0; row < rows; ++row) {
            DrawRowIcon(dc, icons[static_cast<size_t>(row)], 0, row * height, kPlainFill, false);
        }
    };
    auto time = [&](auto&& work) {
        Series series;
        for (int round = -1; round < rounds; ++round) {
            const double start = ov::NowMs();
            work();
            if (round >= 0) series.Add(ov::NowMs() - start);
        }
        return series;
    };
    const Series full = time(paintRows);
    const HIMAGELIST images = gSystemImages;
    gSystemImages = nullptr;
    const Series noIcons = time(paintRows);
    gSystemImages = images;
    const Series iconsOnly = time(drawIcons);
    const Series data = time([&] {
        for (int row = 0; row < rows; ++row) {
            const ov::ResultRow details = GetResultRow(row);
            for (int column : gColumnMap) GetCellText(details, column);
        }
    });
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    HWND header = ListView_GetHeader(gResultsList);
    const Series headerPaint = time([&] {
        InvalidateRect(header, nullptr, TRUE);
        UpdateWindow(header);
    });
    std::printf("\npieces of the painting, %d rows of \"%s\"\n", rows, ov::ToUtf8(GetSearchText()).c_str());
    std::printf("  %-44s%9s%9s\n", "(ms)", "median", "p90");
    PrintRow("the rows into a bitmap (DrawResultRow)", full);
    PrintRow("  the same without icons", noIcons);
    PrintRow("  their icons alone (copied)", iconsOnly);
    PrintRow("  their data alone (GetResultRow, cell texts)", data);
    PrintRow("the list's header repainted", headerPaint);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    // Default settings, whatever an earlier run of the program left in this prefix.
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x40FF};
    InitCommonControlsEx(&controls);
    gInstance = GetModuleHandleW(nullptr);
    HDC screen = GetDC(nullptr);
    gDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    ReadSettings();
    gSettings.autoUpdate = 0;  // no update check from a timer mid-run
    CreateAppFonts();
    SetUpEngine();

    const double loadStart = ov::NowMs();
    gEngine->indexPath = ov::ToWide(argv[1]);
    if (!gEngine->LoadDb()) {
        std::fprintf(stderr, "cannot load the saved index %s\n", argv[1]);
        return 1;
    }
    gEngine->loaded = true;
    uint64_t entries = 0;
    ReadLiveEntryCount(entries);
    std::printf("loaded %s entries in %.0f ms; %d index threads\n", ov::ToUtf8(FormatThousands(entries)).c_str(),
                ov::NowMs() - loadStart, IndexThreadCount());

    RegisterWindowClasses();
    if (!CreateMainWindow(SW_SHOWNORMAL)) {
        std::fprintf(stderr, "cannot create the main window\n");
        return 1;
    }
    InstallProbes();
    RECT mainRect;
    RECT listRect;
    GetWindowRect(gMain, &mainRect);
    GetWindowRect(gResultsList, &listRect);
    if (!gFloor.Create({mainRect.right + 8, mainRect.top},
                       {listRect.right - listRect.left, listRect.bottom - listRect.top})) {
        std::fprintf(stderr, "cannot create the floor's window\n");
        return 1;
    }
    RECT floorRect;
    GetWindowRect(gFloor.Window(), &floorRect);
    if (floorRect.right > GetSystemMetrics(SM_CXSCREEN)) {
        std::printf("warning: the screen is too narrow for the floor beside the main window\n");
    }
    SetForegroundWindow(gMain);
    StartSearching();
    SetFocus(gSearchBox);
    const double firstStart = ov::NowMs();
    if (!ShowText(L"report")) {
        std::fprintf(stderr, "the first search gave no result\n");
        return 1;
    }
    RECT list;
    GetClientRect(gResultsList, &list);
    std::printf("first search (sort order built) %.0f ms; list %ldx%ld pixels, %d rows visible; floor %d rows\n",
                ov::NowMs() - firstStart, list.right, list.bottom, ListView_GetCountPerPage(gResultsList),
                gFloor.VisibleRows());

    bool ok = TimeCase(L"repor", L't', rounds, 3) && TimeCase(L"", L'x', rounds, 2) && ShowText(L"");
    if (ok) TimeScrolling(rounds);
    if (ok) ok = ShowText(L"report");
    if (ok) TimePieces(rounds);

    StopSearchWorker(gSearch);
    gFloor.Destroy();
    DestroyWindow(gMain);
    StopIconLoader();
    EndEngine();
    CoUninitialize();
    if (!ok) std::fprintf(stderr, "a search did not come back within the time limit\n");
    return ok ? 0 : 1;
}
