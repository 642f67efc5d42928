#include "app/window_kit.h"

#include <commctrl.h>

#include <algorithm>

#include "app/layout.h"

HINSTANCE gInstance = nullptr;
CommandLine gArgs;
int gDpi = 96;
HFONT gFontUi = nullptr;
HFONT gFontEmphasis = nullptr;
HFONT gFontSearch = nullptr;
HFONT gFontList = nullptr;
HFONT gFontListBold = nullptr;
UINT gTaskbarCreatedMessage = 0;

HWND gMain = nullptr;
HWND gTooltip = nullptr;
HWND gRibbon = nullptr;
HWND gUpdateBar = nullptr;
HWND gAdminBar = nullptr;
HWND gSearchBox = nullptr;
HWND gFilterList = nullptr;
HWND gResultsList = nullptr;
HWND gStatusBar = nullptr;

namespace {

// The error text the status bar's parts were last laid out for.
std::wstring gLaidOutError;
// The message part's standing notice and the index's state behind it.
std::wstring gStatusNotice;
std::wstring gStatusState;

HFONT MakeFont(int points, int weight) {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(points, gDpi, 72);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy(font.lfFaceName, L"Segoe UI");
    return CreateFontIndirectW(&font);
}

void ShowInMessagePart(const std::wstring& text) {
    if (!gStatusBar) return;
    const std::wstring shown = L"  " + text;
    SendMessageW(gStatusBar, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(shown.c_str()));
}

void ShowNoticeAndState() {
    if (gStatusNotice.empty()) {
        ShowInMessagePart(gStatusState);
    } else {
        ShowInMessagePart(gStatusState.empty() ? gStatusNotice : gStatusNotice + L"   " + gStatusState);
    }
}

}  // namespace

int Dip(int value) {
    return ScaleDip(value, gDpi);
}

void CreateAppFonts() {
    gFontUi = MakeFont(9, FW_NORMAL);
    gFontEmphasis = MakeFont(9, FW_SEMIBOLD);
    gFontSearch = MakeFont(12, FW_NORMAL);
    gFontList = MakeFont(9, FW_NORMAL);
    gFontListBold = MakeFont(9, FW_BOLD);
}

void LayoutMainWindow() {
    if (!gMain || !gRibbon) return;
    RECT client;
    GetClientRect(gMain, &client);
    int statusHeight = 0;
    if (gStatusBar) {
        SendMessageW(gStatusBar, WM_SIZE, 0, 0);
        RECT status;
        GetWindowRect(gStatusBar, &status);
        statusHeight = status.bottom - status.top;
    }
    const bool updateShown = InfoBarShown(gUpdateBar);
    const bool adminShown = InfoBarShown(gAdminBar);
    const MainLayout layout =
        ComputeMainLayout(client.right, client.bottom, statusHeight, gDpi, updateShown, adminShown);
    LayoutStatusParts(true, gLaidOutError);
    auto place = [](HWND window, const LayoutRect& r) {
        if (window) MoveWindow(window, r.x, r.y, r.width, r.height, TRUE);
    };
    place(gRibbon, layout.ribbon);
    if (updateShown) place(gUpdateBar, layout.updateBar);
    if (adminShown) place(gAdminBar, layout.adminBar);
    place(gSearchBox, layout.searchBox);
    place(gFilterList, layout.filterList);
    place(gResultsList, layout.resultsList);
}

bool InfoBarShown(HWND bar) {
    return bar && (GetWindowLongPtrW(bar, GWL_STYLE) & WS_VISIBLE) != 0;
}

void LayoutStatusParts(bool resized, const std::wstring& error) {
    if (!gStatusBar) return;
    gLaidOutError = error;
    // The error part is as wide as its text: the texts carry examples the user needs whole.
    static int laidOutWidth = -1;
    int errorWidth = 0;
    if (!error.empty()) {
        const std::wstring text = L"  " + error;
        HDC dc = GetDC(gStatusBar);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(gStatusBar, WM_GETFONT, 0, 0)));
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        SelectObject(dc, old);
        ReleaseDC(gStatusBar, dc);
        int borders[3] = {};
        SendMessageW(gStatusBar, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
        errorWidth = extent.cx + 2 * borders[0] + borders[2] + Dip(12);
    }
    if (!resized && errorWidth == laidOutWidth) return;
    laidOutWidth = errorWidth;
    RECT bar;
    GetClientRect(gStatusBar, &bar);
    int edges[4];
    StatusPartEdges(gDpi, bar.right, errorWidth, edges);
    SendMessageW(gStatusBar, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
}

void SetStatusText(const std::wstring& text) {
    gStatusNotice.clear();
    ShowInMessagePart(text);
}

void SetStatusNotice(const std::wstring& text) {
    if (text.empty() && gStatusNotice.empty()) return;
    gStatusNotice = text;
    ShowNoticeAndState();
}

void SetStatusState(const std::wstring& text) {
    gStatusState = text;
    ShowNoticeAndState();
}

void BringToFront() {
    if (!gMain) return;
    // Bars shown or hidden meanwhile took their room without a WM_SIZE.
    const bool wasHidden = !IsWindowVisible(gMain);
    ShowWindow(gMain, IsIconic(gMain) ? SW_RESTORE : SW_SHOW);
    if (wasHidden) LayoutMainWindow();
    SetForegroundWindow(gMain);
    if (!gSearchBox) return;
    SetFocus(gSearchBox);
    SendMessageW(gSearchBox, EM_SETSEL, 0, -1);
}

bool CtrlShortcutHeld() {
    return GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0;
}

RECT MainWindowFrame() {
    RECT frame = {0, 0, 0, 0};
    if (!gMain) return frame;
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (IsIconic(gMain) && GetWindowPlacement(gMain, &placement)) {
        // A minimised window sits far off the screen. Its normal rectangle is
        // in workspace coordinates: relative to the primary monitor's work area.
        MONITORINFO primary = {};
        primary.cbSize = sizeof primary;
        GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary);
        frame = placement.rcNormalPosition;
        OffsetRect(&frame, primary.rcWork.left - primary.rcMonitor.left, primary.rcWork.top - primary.rcMonitor.top);
    } else {
        GetWindowRect(gMain, &frame);
    }
    return frame;
}

RECT InsideWorkArea(int left, int top, int width, int height) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(gMain, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    width = std::min<int>(width, work.right - work.left);
    height = std::min<int>(height, work.bottom - work.top);
    const int x = std::clamp<int>(left, work.left, work.right - width);
    const int y = std::clamp<int>(top, work.top, work.bottom - height);
    return {x, y, x + width, y + height};
}

void AddControlTooltip(HWND control, const wchar_t* text, bool relayed) {
    if (!gTooltip || !control) return;
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    // The tooltip's own way of seeing the mouse subclasses the control.
    tool.uFlags = TTF_IDISHWND | (relayed ? 0 : TTF_SUBCLASS);
    tool.hwnd = GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(gTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void RelayToTooltip(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            break;
        default:
            return;
    }
    if (!gTooltip) return;
    MSG msg = {control, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()), {}};
    const DWORD point = GetMessagePos();
    msg.pt = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    SendMessageW(gTooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

WNDPROC PutWindowProc(HWND window, WNDPROC proc) {
    return reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

int TrackMenuAtCursor(HMENU menu) {
    POINT point;
    GetCursorPos(&point);
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, gMain, nullptr);
    // Without a message after it, a menu shown from the tray may not close on a click outside it.
    PostMessageW(gMain, WM_NULL, 0, 0);
    return chosen;
}

void RefreshRibbon() {
    if (gRibbon) InvalidateRect(gRibbon, nullptr, FALSE);
}

void RunCommand(int id) {
    if (gMain) SendMessageW(gMain, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

ATOM RegisterWindowClass(const wchar_t* name, WNDPROC proc, HBRUSH background, HICON icon) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = gInstance;
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass);
}

std::wstring GetExePath() {
    wchar_t path[520] = {};
    GetModuleFileNameW(nullptr, path, 520);
    return path;
}

std::wstring GetExeDir() {
    const std::wstring path = GetExePath();
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}
