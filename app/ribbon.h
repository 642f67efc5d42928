// The ribbon: five tabs of large buttons and the Settings tab's controls, drawn
// from the icon strip. UI thread only.
#pragma once

#include <windows.h>

#include <cstddef>

#include "app/ribbon_layout.h"
#include "app/window_kit.h"

struct IWICBitmapSource;
struct IWICImagingFactory;

// A decoded icon strip in a memory device context; empty (no dc) when it could not be loaded.
struct IconStrip {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;  // top-down premultiplied BGRA, (count x size) x size
    HGDIOBJ previous = nullptr;
    int size = 0;  // icon size in pixels
};

extern IconStrip gIconStrip32;  // ribbon buttons
extern IconStrip gIconStrip20;  // info bars

// Loads the icon strip resource at size pixels; on failure the strip stays empty.
// COM must be initialised on this thread.
void LoadIconStrip(IconStrip& strip, int size);
// The same from PNG bytes of square icons side by side; false, strip empty, on failure.
bool DecodeIconStrip(const void* png, size_t bytes, int size, IconStrip& strip);

// The pixels of an icon strip at width x height: frame converted to premultiplied
// BGRA, then scaled. The caller releases it; null on failure.
IWICBitmapSource* IconStripSource(IWICImagingFactory* factory, IWICBitmapSource* frame, UINT width, UINT height);

// A rounded box filled with fill and outlined with a 1-pixel border, corners 6 x 6 DIP.
void DrawRoundBox(HDC dc, const RECT& rect, COLORREF fill, COLORREF border);

// The ribbon window with its tooltip window and controls; called once by the main window's WM_CREATE.
void CreateRibbon();
// Measures and places everything for the current width and active tab.
void LayoutRibbon();
LRESULT CALLBACK RibbonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A Settings-tab control: a child of the ribbon of size width x height DIP, placed
// at (x, y) DIP in group group when the Settings tab shows.
HWND CreateRibbonControl(const wchar_t* className, const wchar_t* text, DWORD style, int group, int x, int y, int width,
                         int height, int id);
// A label and a drop-down list in the Settings tab's "Keys, sizes & speed" group.
HWND CreateLabeledCombo(int y, const wchar_t* label, int id, const wchar_t* const* items, int count, int selected,
                        const wchar_t* tooltip);

// The boxes of the last layout and the active tab (0-4), for tests.
const RibbonGeometry& RibbonLayoutForTesting();
int ActiveRibbonTab();
