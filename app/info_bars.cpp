// Built so far: the administrator bar. Still to come: its icon (from the icon
// strip) and the text window; until then the help texts are not shown.
#include "app/info_bars.h"

#include "app/commands.h"
#include "app/main_window.h"
#include "app/startup.h"

HWND gNotesWindow = nullptr;

namespace {

void PaintAdminBar(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, gInfoBrush);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(60, 45, 0));
    HGDIOBJ oldFont = SelectObject(dc, gFontUi);
    RECT text = {Dip(42), 0, client.right - Dip(330), client.bottom};
    DrawTextW(dc,
              L"Orvane isn't running as administrator, so it scans folders instead of reading the NTFS file table "
              L"directly (slower to build; still live). Restart it with administrator rights for the full speed.",
              -1, &text, DT_WORDBREAK | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

void LayOutAdminBar(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    const int top = (client.bottom - Dip(28)) / 2;
    const int hideLeft = client.right - Dip(10) - Dip(80);
    MoveWindow(GetDlgItem(window, kCmdHideAdminBar), hideLeft, top, Dip(80), Dip(28), TRUE);
    MoveWindow(GetDlgItem(window, kCmdRestartAsAdmin), hideLeft - Dip(6) - Dip(220), top, Dip(220), Dip(28), TRUE);
    InvalidateRect(window, nullptr, TRUE);
}

}  // namespace

LRESULT CALLBACK AdminBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            PaintAdminBar(window);
            return 0;
        case WM_SIZE:
            LayOutAdminBar(window);
            return 0;
        case WM_COMMAND:
            return SendMessageW(GetParent(window), message, wParam, lParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ShowTextWindow(const wchar_t* title, const wchar_t* first, const wchar_t* second) {}

LRESULT CALLBACK NotesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}
