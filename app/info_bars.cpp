#include "app/info_bars.h"

#include <commctrl.h>

#include <string>

#include "app/command_ids.h"
#include "app/folder_lists.h"
#include "app/result_actions.h"
#include "app/ribbon.h"
#include "app/window_kit.h"

HWND gNotesWindow = nullptr;
HBRUSH gInfoBrush = nullptr;

namespace {

HFONT gNotesFont = nullptr;  // the open text window's own font, or null

constexpr int kAdminBarIcon = 21;  // the shield of the icon strip
constexpr int kNotesTextId = 100;
constexpr int kNotesCloseId = IDOK;  // Enter and the Close button
constexpr int kNotesCopyId = 101;

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
    PaintInfoBarBackground(dc, client, kAdminBarIcon);
    SetTextColor(dc, RGB(60, 45, 0));
    HGDIOBJ oldFont = SelectObject(dc, gFontUi);
    const wchar_t* message =
        L"Orvane isn't running as administrator, so it scans folders instead of reading the NTFS file table "
        L"directly (slower to build; still live). Restart it with administrator rights for the full speed.";
    const UINT format = DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS;
    RECT text = {Dip(42), 0, client.right - Dip(330), client.bottom};
    // DT_VCENTER centres a single line only: the lines are measured and the block centred.
    RECT measured = text;
    DrawTextW(dc, message, -1, &measured, format | DT_CALCRECT);
    const int height = measured.bottom - measured.top;
    if (height < client.bottom) {
        text.top = (client.bottom - height) / 2;
        text.bottom = text.top + height;
    }
    DrawTextW(dc, message, -1, &text, format);
    SelectObject(dc, oldFont);
    EndPaint(window, &paint);
}

// The text with a carriage return before every line feed that lacks one: the
// edit control breaks lines only at CR LF.
std::wstring NotesText(const wchar_t* first, const wchar_t* second) {
    return WithCrLf(std::wstring(first ? first : L"") + (second ? second : L""));
}

// Centred on the main window's normal rectangle, 60 DIP below its top, inside
// the work area: a minimised window sits far off screen and a hidden one may
// never have been placed.
RECT NotesRect(int width, int height) {
    const RECT owner = MainWindowFrame();
    return InsideWorkArea(owner.left + (owner.right - owner.left - Dip(720)) / 2, owner.top + Dip(60), width, height);
}

// A table in columns of characters reads only in a font whose characters are
// all as wide; made for the one text window that needs it.
HFONT MakeFixedWidthFont() {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(9, gDpi, 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    wcscpy(font.lfFaceName, L"Consolas");
    return CreateFontIndirectW(&font);
}

HWND MakeNotesChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD exStyle, DWORD style, int id) {
    HWND child = CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(gFontUi), FALSE);
    return child;
}

void LayOutNotes(HWND window, int width, int height) {
    MoveWindow(GetDlgItem(window, kNotesTextId), Dip(10), Dip(10), width - Dip(20), height - Dip(58), TRUE);
    MoveWindow(GetDlgItem(window, kNotesCloseId), width - Dip(110), height - Dip(40), Dip(100), Dip(30), TRUE);
    MoveWindow(GetDlgItem(window, kNotesCopyId), Dip(10), height - Dip(40), Dip(150), Dip(30), TRUE);
}

void CopyNotes(HWND window) {
    HWND edit = GetDlgItem(window, kNotesTextId);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    // Only a copy that happened is confirmed.
    if (CopyTextToClipboard(text)) SetDlgItemTextW(window, kNotesCopyId, L"Copied \u2714");
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
        case WM_SIZE: {
            const int ids[] = {kCmdHideAdminBar, kCmdRestartAsAdmin};
            const int widths[] = {80, 220};
            PlaceInfoBarButtons(window, ids, widths, 2);
            return 0;
        }
        case WM_COMMAND:
            return SendMessageW(GetParent(window), message, wParam, lParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void PaintInfoBarBackground(HDC dc, const RECT& client, int icon) {
    FillRect(dc, &client, gInfoBrush);
    SetBkMode(dc, TRANSPARENT);
    const IconStrip& strip = gIconStrip20;
    if (!strip.dc) return;
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, Dip(12), (client.bottom - client.top - strip.size) / 2, strip.size, strip.size, strip.dc,
               icon * strip.size, 0, strip.size, strip.size, blend);
}

void PlaceInfoBarButtons(HWND bar, const int* ids, const int* widths, int count) {
    RECT client;
    GetClientRect(bar, &client);
    const int top = (client.bottom - Dip(28)) / 2;
    int right = client.right - Dip(10);
    for (int i = 0; i < count; ++i) {
        MoveWindow(GetDlgItem(bar, ids[i]), right - Dip(widths[i]), top, Dip(widths[i]), Dip(28), TRUE);
        right -= Dip(widths[i]) + Dip(6);
    }
    InvalidateRect(bar, nullptr, TRUE);
}

void ShowTextWindow(const wchar_t* title, const wchar_t* first, const wchar_t* second, bool fixedWidth) {
    if (gNotesWindow) DestroyWindow(gNotesWindow);
    const std::wstring text = NotesText(first, second);
    const RECT place = NotesRect(Dip(720), Dip(580));
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, L"OVNotes", title, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
                                  place.left, place.top, place.right - place.left, place.bottom - place.top, gMain,
                                  nullptr, gInstance, nullptr);
    if (!window) return;
    gNotesWindow = window;
    HWND edit = MakeNotesChild(window, L"EDIT", L"", WS_EX_CLIENTEDGE,
                               WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, kNotesTextId);
    SendMessageW(edit, EM_LIMITTEXT, 0, 0);
    if (fixedWidth && (gNotesFont = MakeFixedWidthFont()) != nullptr) {
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(gNotesFont), FALSE);
    }
    SetWindowTextW(edit, text.c_str());
    SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(Dip(8), Dip(8)));
    HWND close = MakeNotesChild(window, L"BUTTON", L"Close", 0, WS_TABSTOP | BS_DEFPUSHBUTTON, kNotesCloseId);
    MakeNotesChild(window, L"BUTTON", L"Copy to clipboard", 0, WS_TABSTOP, kNotesCopyId);
    RECT client;
    GetClientRect(window, &client);
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    ShowWindow(window, SW_SHOW);
    SetFocus(close);
}

LRESULT CALLBACK NotesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            LayOutNotes(window, LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) != 0) break;
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(window);
            } else if (LOWORD(wParam) == kNotesCopyId) {
                CopyNotes(window);
            }
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
            return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
        case WM_DESTROY:
            if (gNotesWindow == window) gNotesWindow = nullptr;
            return 0;
        case WM_NCDESTROY:
            // After the children: the text control no longer uses the font.
            if (gNotesFont) DeleteObject(gNotesFont);
            gNotesFont = nullptr;
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
