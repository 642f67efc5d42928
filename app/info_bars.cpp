// Built so far: the administrator bar. Still to come: its icon (from the icon
// strip) and the text window; until then the help texts are not shown.
#include "app/info_bars.h"

#include <commctrl.h>

#include "app/command_ids.h"
#include "app/window_kit.h"

HWND gNotesWindow = nullptr;
HBRUSH gInfoBrush = nullptr;

namespace {

HWND MakeButton(HWND parent, const wchar_t* text, int id, DWORD style, HFONT font, const wchar_t* tooltip) {
    HWND button = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 10, 10, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    AddControlTooltip(button, tooltip);
    return button;
}

HWND MakeInfoBar(const wchar_t* className, int height) {
    return CreateWindowExW(WS_EX_CONTROLPARENT, className, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, Dip(100), Dip(height),
                           gMain, nullptr, gInstance, nullptr);
}

void CreateUpdateBar() {
    gUpdateBar = MakeInfoBar(L"OVUpdBar", 44);
    MakeButton(gUpdateBar, L"Update now", kCmdUpdateNow, BS_DEFPUSHBUTTON, gFontEmphasis,
               L"Downloads the new version, checks it isn't damaged or tampered with (SHA-256 checksum and version "
               L"check), swaps it in place of this copy and restarts Orvane - usually in a few seconds. Your settings "
               L"and the index are kept, and your search is put back.");
    MakeButton(gUpdateBar, L"What's new", kCmdUpdateNotes, 0, gFontUi,
               L"Shows the full list of what changed in the new version.");
    MakeButton(gUpdateBar, L"Later", kCmdUpdateLater, 0, gFontUi,
               L"Hides this bar for now. Orvane will remind you at the next check (every 6 hours), or use Help > Check "
               L"for Updates any time.");
}

void CreateAdminBar() {
    gAdminBar = MakeInfoBar(L"OVAdminBar", 48);
    MakeButton(gAdminBar, L"Restart as administrator", kCmdRestartAsAdmin, BS_DEFPUSHBUTTON, gFontEmphasis,
               L"Restarts Orvane with administrator rights (Windows asks for permission). Your search is kept. With "
               L"them, Orvane reads each NTFS drive's file table directly - millions of files in seconds - and follows "
               L"the change journal.");
    MakeButton(gAdminBar, L"Hide", kCmdHideAdminBar, 0, gFontUi,
               L"Don't show this bar again. You can still use Index > Run as Admin, and Settings > Run as "
               L"administrator.");
}

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

void CreateInfoBars() {
    gInfoBrush = CreateSolidBrush(RGB(255, 243, 205));
    CreateUpdateBar();
    CreateAdminBar();
}

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
