// Painting of the results list's rows: background by selection, focus and
// stripes, the Name column's icon, each cell in its column, grey for hidden
// and system entries, and the typed words in bold. UI thread only.
#pragma once

#include <windows.h>

#include <string>

// NM_SETFOCUS and NM_KILLFOCUS of the results list: selected rows are drawn
// in the focused colours while it has the keyboard focus.
void SetResultsListFocused(bool focused);
// WM_DRAWITEM of one row of the results list.
void DrawResultRow(const DRAWITEMSTRUCT* item);
// One cell's text with the highlight words in bold; path: path ellipsis instead
// of end ellipsis. Plain when the words would not fit the cell in bold.
void DrawHighlightedText(HDC dc, const std::wstring& text, const RECT& cell, bool path);

// Colours of the rows.
constexpr COLORREF kSelectedFill = RGB(204, 232, 255);
constexpr COLORREF kSelectedFrame = RGB(153, 209, 255);
constexpr COLORREF kSelectedUnfocusedFill = RGB(222, 222, 222);
constexpr COLORREF kStripeFill = RGB(246, 248, 250);
constexpr COLORREF kPlainFill = RGB(255, 255, 255);
constexpr COLORREF kMainText = RGB(20, 20, 20);
constexpr COLORREF kMainTextHidden = RGB(110, 110, 110);
constexpr COLORREF kOtherText = RGB(70, 70, 70);
constexpr COLORREF kOtherTextHidden = RGB(130, 130, 130);
