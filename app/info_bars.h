// The two info bars (update, administrator) and the text window, the one
// window every long text is shown in.
#pragma once

#include <windows.h>

// The open text window, or null.
extern HWND gNotesWindow;
// Background of both info bars; made with them.
extern HBRUSH gInfoBrush;

// The update bar and the administrator bar, hidden children of the main window.
void CreateInfoBars();
LRESULT CALLBACK AdminBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Replaces any open text window by one showing first followed by second (whose
// line feeds become CR LF).
void ShowTextWindow(const wchar_t* title, const wchar_t* first, const wchar_t* second);
LRESULT CALLBACK NotesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
