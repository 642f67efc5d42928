// Ready-made row icons: each icon of the system image list drawn once onto each
// row colour it is shown on, plain or faded, kept side by side in one bitmap and
// copied into a row with one BitBlt. Blending an icon's alpha into every row on
// every paint costs many times a copy. UI thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

// The shell's small system image list (null when the shell gave none) and its
// icon height; 16 until it was read, as the list is measured before that.
// Written only by ReadSystemImageList.
extern HIMAGELIST gSystemImages;
extern int gSmallIconHeight;

// Asks the shell for its small system image list (the results list, once).
void ReadSystemImageList();

// At most this many icon and colour pairs are kept; when full, the bitmap is
// drawn again from the start.
constexpr int kRowIconSlots = 256;

// Puts icon `index` of gSystemImages at (x, y) of dc, which is filled with
// `background` under the icon; faded as hidden and system entries are shown.
// The pixels are those of drawing the icon there directly.
void DrawRowIcon(HDC dc, int index, int x, int y, COLORREF background, bool faded);
// Drops every ready-made icon: the system colours (which fading blends with),
// the display or its dpi changed, or the program ends.
void ResetRowIcons();
