// The administrator bar and the text window, the one window every long text is shown in.
#pragma once

#include <windows.h>

// The open text window, or null.
extern HWND gNotesWindow;

LRESULT CALLBACK AdminBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Replaces any open text window by one showing first followed by second (whose
// line feeds become CR LF).
void ShowTextWindow(const wchar_t* title, const wchar_t* first, const wchar_t* second);
LRESULT CALLBACK NotesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
