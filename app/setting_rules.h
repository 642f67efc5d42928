// The clamps of the stored settings and the rows of the thread-count list.
// Portable; the registry side is settings.h.
#pragma once

#include <cstdint>

// A stored DWORD as the program uses it: with max 1 a switch (non-zero is 1),
// else a row or count where anything above max (taken unsigned) is max.
uint32_t ClampSetting(uint32_t stored, uint32_t max);

// The "Threads" list: rows 0-6 stand for 0 (all), 1, 2, 4, 8, 16, 32 threads.
constexpr int kThreadRowCount = 7;
// The thread count of a row; a row outside 0-6 is taken as the nearest end.
uint32_t ThreadsOfRow(int row);
// The row that shows a thread count: its own row, or for a count no row shows
// (3, 100) the nearest row, the larger one on a tie.
int RowOfThreads(uint32_t threads);
