// Painting of the results list's rows and the icon loader behind them.
#pragma once

#include <windows.h>

#include <atomic>

// Set by the icon loader before it posts WM_APP_ICONS_READY; cleared by the window.
extern std::atomic<bool> gIconsPosted;

// WM_DRAWITEM of one row of the results list.
void DrawResultRow(const DRAWITEMSTRUCT* item);
// WM_APP_ICONS_READY: new icons arrived; repaint the rows.
void OnIconsReady();
// Tear-down: stops and joins the icon loader when it runs.
void StopIconLoader();
