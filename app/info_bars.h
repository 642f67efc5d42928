// The two info bars (update, administrator) and the text window, the one
// window every long text is shown in. UI thread only.
#pragma once

#include <windows.h>

// The open text window, or null.
extern HWND gNotesWindow;
// Background of both info bars; made with them.
extern HBRUSH gInfoBrush;

// The update bar and the administrator bar, hidden children of the main window.
void CreateInfoBars();
LRESULT CALLBACK AdminBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What both bars share. Fills client with the bar brush, sets a transparent
// text background and draws icon icon of the 20 DIP icon strip at 12 DIP from
// the left, vertically centred (nothing when the strip did not load).
void PaintInfoBarBackground(HDC dc, const RECT& client, int icon);
// Places the bar's buttons right-aligned in a row, 28 DIP high and vertically
// centred: ids[0] ends 10 DIP from the right edge, each next one stands 6 DIP
// left of the one before; widths in DIP. Then invalidates the bar (erasing).
void PlaceInfoBarButtons(HWND bar, const int* ids, const int* widths, int count);

// Replaces any open text window by one showing first followed by second, their
// bare line feeds made CR LF, in the interface font or, for a table in
// columns, in a fixed-width font. When the window cannot be made, nothing
// shows. The window stays inside the work area of the main window's monitor,
// also when the main window is minimised or hidden.
void ShowTextWindow(const wchar_t* title, const wchar_t* first, const wchar_t* second, bool fixedWidth = false);
LRESULT CALLBACK NotesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
