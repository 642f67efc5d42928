#include "app/window_kit.h"

#include <commctrl.h>

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

HFONT MakeFont(int points, int weight) {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(points, gDpi, 72);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy(font.lfFaceName, L"Segoe UI");
    return CreateFontIndirectW(&font);
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
    const bool updateShown = gUpdateBar && IsWindowVisible(gUpdateBar);
    const bool adminShown = gAdminBar && IsWindowVisible(gAdminBar);
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
    if (!gStatusBar) return;
    const std::wstring shown = L"  " + text;
    SendMessageW(gStatusBar, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(shown.c_str()));
}

void BringToFront() {
    if (!gMain) return;
    ShowWindow(gMain, IsIconic(gMain) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(gMain);
    if (!gSearchBox) return;
    SetFocus(gSearchBox);
    SendMessageW(gSearchBox, EM_SETSEL, 0, -1);
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
