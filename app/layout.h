// Where the main window's children go for a client size. Portable arithmetic;
// LayoutMainWindow (main_window.h) moves the windows.
#pragma once

// A design size at 96 dpi in pixels at dpi, rounded as MulDiv rounds.
int ScaleDip(int dip, int dpi);

struct LayoutRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct MainLayout {
    LayoutRect ribbon;
    LayoutRect updateBar;  // zero when hidden
    LayoutRect adminBar;   // zero when hidden
    LayoutRect searchBox;
    LayoutRect filterList;  // height is the drop-down's
    LayoutRect resultsList;
};

// Right edges of the status bar's four parts (the last is -1, to the end) for
// a bar barWidth pixels wide. errorWidth, the pixels an error text shown in
// part 2 needs (0 when none), widens that part while the message part keeps
// its design width where the bar allows; the message part moves over.
void StatusPartEdges(int dpi, int barWidth, int errorWidth, int edges[4]);

// width, height: the client size; statusHeight: the status bar's own height.
// The search box keeps at least 50 pixels, the results list a height of 0.
MainLayout ComputeMainLayout(int width, int height, int statusHeight, int dpi, bool updateBarShown, bool adminBarShown);
