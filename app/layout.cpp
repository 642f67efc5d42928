#include "app/layout.h"

#include <algorithm>
#include <cstdint>

int ScaleDip(int dip, int dpi) {
    // MulDiv(dip, dpi, 96): rounds halves away from zero.
    const int64_t product = int64_t{dip} * dpi;
    const int64_t half = product >= 0 ? 48 : -48;
    return static_cast<int>((product + half) / 96);
}

void StatusPartEdges(int dpi, int barWidth, int errorWidth, int edges[4]) {
    edges[0] = ScaleDip(210, dpi);
    edges[1] = ScaleDip(400, dpi);
    edges[2] = ScaleDip(560, dpi);
    edges[3] = -1;
    if (errorWidth > 0) {
        const int room = std::max(edges[2], barWidth - ScaleDip(150, dpi));
        edges[2] = std::clamp(edges[1] + errorWidth, edges[2], room);
    }
}

MainLayout ComputeMainLayout(int width, int height, int statusHeight, int dpi, bool updateBarShown,
                             bool adminBarShown) {
    auto dip = [dpi](int value) { return ScaleDip(value, dpi); };
    MainLayout layout;
    int y = dip(30) + dip(98) + 1;
    layout.ribbon = {0, 0, width, y};
    if (updateBarShown) {
        layout.updateBar = {0, y, width, dip(44)};
        y += dip(44);
    }
    if (adminBarShown) {
        layout.adminBar = {0, y, width, dip(48)};
        y += dip(48);
    }
    layout.searchBox = {dip(8), y + dip(6), std::max(50, width - dip(150) - 3 * dip(8)), dip(36 - 4)};
    layout.filterList = {width - dip(8) - dip(150), y + dip(8), dip(150), dip(300)};
    const int listTop = y + dip(36 + 8);
    layout.resultsList = {0, listTop, width, std::max(0, height - listTop - statusHeight)};
    return layout;
}
