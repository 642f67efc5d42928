// Still to come: the rows' texts, icons and highlights, and the icon loader.
// Until then a row is its background.
#include "app/row_painting.h"

#include "app/results_list.h"

std::atomic<bool> gIconsPosted{false};

void DrawResultRow(const DRAWITEMSTRUCT* item) {
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_WINDOW));
}

void OnIconsReady() {
    gIconsPosted.exchange(false);
    if (gResultsList) InvalidateRect(gResultsList, nullptr, FALSE);
}

void StopIconLoader() {}
