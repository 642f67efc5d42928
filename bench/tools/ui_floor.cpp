#include "bench/tools/ui_floor.h"

#include <commctrl.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t kClass[] = L"OvUiFloor";
constexpr int kDipWidths[4] = {300, 380, 92, 140};  // the application's default columns
constexpr const wchar_t* kTitles[4] = {L"Name", L"Path", L"Size", L"Date Modified"};

int Scale(int dip, int dpi) {
    return MulDiv(dip, dpi, 96);
}

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

bool UiFloor::Create(POINT topLeft, SIZE listSize) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls = {};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = Proc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    cls.lpszClassName = kClass;
    RegisterClassExW(&cls);

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    font_ = CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Segoe UI");

    // The shell's icon of a text file, the same the application shows for one.
    SHFILEINFOW info = {};
    HIMAGELIST images =
        reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"x.txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                                                    SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES));
    int cx = 16;
    if (images) ImageList_GetIconSize(images, &cx, &iconSize_);
    rowHeight_ = std::max(Scale(22, dpi), Scale(6, dpi) + iconSize_);

    window_ = CreateWindowExW(0, kClass, L"floor", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, topLeft.x, topLeft.y,
                              listSize.cx, listSize.cy, nullptr, nullptr, instance, this);
    if (!window_) return false;
    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
                              nullptr, instance, nullptr);
    list_ = CreateWindowExW(
        0, WC_LISTVIEWW, nullptr,
        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDRAWFIXED | LVS_OWNERDATA,
        0, 0, listSize.cx, listSize.cy, window_, nullptr, instance, nullptr);
    if (!status_ || !list_) return false;
    SendMessageW(status_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    const int parts[4] = {Scale(220, dpi), Scale(480, dpi), Scale(700, dpi), -1};
    SendMessageW(status_, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(parts));
    SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_DOUBLEBUFFER | LVS_EX_FULLROWSELECT);
    SetWindowTheme(list_, L"Explorer", nullptr);
    for (int c = 0; c < 4; ++c) {
        widths_[c] = Scale(kDipWidths[c], dpi);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = c == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = widths_[c];
        column.pszText = const_cast<wchar_t*>(kTitles[c]);
        ListView_InsertColumn(list_, c, &column);
    }
    // The window around the list and the status bar below it (WM_SIZE places them).
    RECT bar;
    GetWindowRect(status_, &bar);
    RECT frame = {0, 0, listSize.cx, listSize.cy + (bar.bottom - bar.top)};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);

    // The icon drawn once onto the row colour.
    HDC dc = GetDC(list_);
    icons_ = CreateCompatibleDC(dc);
    iconBitmap_ = CreateCompatibleBitmap(dc, cx, iconSize_);
    ReleaseDC(list_, dc);
    oldBitmap_ = SelectObject(icons_, iconBitmap_);
    RECT square = {0, 0, cx, iconSize_};
    FillRect(icons_, &square, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (images) ImageList_Draw(images, info.iIcon, icons_, 0, 0, ILD_TRANSPARENT);

    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(window_);
    return true;
}

void UiFloor::Destroy() {
    if (window_) DestroyWindow(window_);
    window_ = list_ = status_ = nullptr;
    if (icons_) {
        SelectObject(icons_, oldBitmap_);
        DeleteDC(icons_);
        DeleteObject(iconBitmap_);
        icons_ = nullptr;
    }
    if (font_) DeleteObject(font_);
    font_ = nullptr;
}

int UiFloor::VisibleRows() const {
    return ListView_GetCountPerPage(list_);
}

double UiFloor::Keystroke() {
    const double start = NowMs();
    const int count = (keystrokes_++ & 1) ? 1000000 : 10000;
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list_, LVM_SETITEMCOUNT, count, 0);
    ListView_EnsureVisible(list_, 0, FALSE);
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
    rowsMs_ = 0;
    const double paintStart = NowMs();
    UpdateWindow(list_);
    paintMs_ = NowMs() - paintStart;
    const double statusStart = NowMs();
    wchar_t text[64];
    std::swprintf(text, 64, L"  %d results", count);
    SendMessageW(status_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text));
    UpdateWindow(status_);
    const double end = NowMs();
    statusMs_ = end - statusStart;
    return end - start;
}

void UiFloor::DrawRow(const DRAWITEMSTRUCT* item) const {
    const double start = NowMs();
    HDC dc = item->hDC;
    SetDCBrushColor(dc, RGB(255, 255, 255));
    FillRect(dc, &item->rcItem, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    const int row = static_cast<int>(item->itemID);
    wchar_t texts[4][96];
    std::swprintf(texts[0], 96, L"quarterly report %06d.txt", row);
    std::swprintf(texts[1], 96, L"C:\\Users\\someone\\Documents\\projects\\accounts\\%d\\reports", 2000 + row % 26);
    std::swprintf(texts[2], 96, L"%d.%d KB", 10 + row % 990, row % 10);
    std::swprintf(texts[3], 96, L"2025-%02d-%02d %02d:%02d", 1 + row % 12, 1 + row % 28, row % 24, row % 60);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    SetTextColor(dc, RGB(20, 20, 20));
    const int margin = MulDiv(rowHeight_, 6, 22);
    int x = item->rcItem.left;
    for (int c = 0; c < 4; ++c) {
        RECT cell = {x + margin, item->rcItem.top, x + widths_[c] - margin, item->rcItem.bottom};
        x += widths_[c];
        if (cell.left >= cell.right) continue;
        if (c == 0) {
            const int y = (cell.top + cell.bottom - iconSize_) / 2;
            BitBlt(dc, cell.left, y, iconSize_, iconSize_, icons_, 0, 0, SRCCOPY);
            cell.left += margin + iconSize_;
        }
        const UINT format = (c == 1 ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS) | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER |
                            (c == 2 ? DT_RIGHT : 0);
        DrawTextW(dc, texts[c], -1, &cell, format);
    }
    SelectObject(dc, oldFont);
    rowsMs_ += NowMs() - start;
}

LRESULT CALLBACK UiFloor::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<UiFloor*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_MEASUREITEM:
            if (self) reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = static_cast<UINT>(self->rowHeight_);
            return TRUE;
        case WM_DRAWITEM:
            if (self) self->DrawRow(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_SIZE:
            if (self && self->status_ && self->list_) {
                SendMessageW(self->status_, WM_SIZE, 0, 0);
                RECT bar;
                GetWindowRect(self->status_, &bar);
                SetWindowPos(self->list_, nullptr, 0, 0, LOWORD(lParam), HIWORD(lParam) - (bar.bottom - bar.top),
                             SWP_NOZORDER | SWP_NOMOVE);
            }
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
