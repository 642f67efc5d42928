// The least a program must do to show a new result per keystroke, as a yardstick
// for the application's own keystroke: a bare window with an owner-data report
// list of 4 columns whose owner-drawn rows hold an icon and 4 texts, and a status
// bar of 4 parts. Its icon is drawn once onto each row colour and copied into a
// row with BitBlt, the cheapest honest way to show one.
#pragma once

#include <windows.h>

class UiFloor {
public:
    // A window whose list has a client area of listSize pixels, placed at
    // topLeft; false when a window could not be made.
    bool Create(POINT topLeft, SIZE listSize);
    void Destroy();
    // One keystroke's work: redraw off, a new item count (10,000 and 1,000,000
    // in turn), back to the top, redraw on, the list painted, one status text
    // put and painted. Returns its milliseconds.
    double Keystroke();
    int VisibleRows() const;
    // Of the last keystroke: the list's paint, the rows within it, and the
    // status text put and painted.
    double PaintMs() const { return paintMs_; }
    double RowsMs() const { return rowsMs_; }
    double StatusMs() const { return statusMs_; }
    HWND Window() const { return window_; }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void DrawRow(const DRAWITEMSTRUCT* item) const;

    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND status_ = nullptr;
    HFONT font_ = nullptr;
    HDC icons_ = nullptr;  // the icon on each row colour, side by side
    HBITMAP iconBitmap_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    int iconSize_ = 16;
    int rowHeight_ = 22;
    int widths_[4] = {};
    int keystrokes_ = 0;
    double paintMs_ = 0;
    double statusMs_ = 0;
    mutable double rowsMs_ = 0;
};
