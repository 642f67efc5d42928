#include "app/ribbon_layout.h"

#include <algorithm>
#include <cwchar>

#include "app/layout.h"

namespace {

// The widest "\n"-separated line of label.
int WidestLine(const wchar_t* label, const RibbonTextWidth& measure) {
    int widest = 0;
    const wchar_t* line = label;
    for (;;) {
        const wchar_t* end = std::wcschr(line, L'\n');
        const int length = end ? static_cast<int>(end - line) : static_cast<int>(std::wcslen(line));
        widest = std::max(widest, measure(line, length));
        if (!end) return widest;
        line = end + 1;
    }
}

}  // namespace

RibbonGeometry LayoutRibbonGeometry(const RibbonTab* tabs, int tabCount, int active, int width, int dpi,
                                    const wchar_t* badgeText, const RibbonTextWidth& measure) {
    auto dip = [dpi](int value) { return ScaleDip(value, dpi); };
    RibbonGeometry g;
    g.tabCount = std::min(tabCount, kRibbonTabCount);
    int x = dip(10);
    for (int i = 0; i < g.tabCount; ++i) {
        const wchar_t* name = tabs[i].name;
        const int right = x + measure(name, static_cast<int>(std::wcslen(name))) + dip(28);
        g.tabs[i] = {x, dip(2), right, dip(30)};
        x = right + dip(2);
    }

    const int badgeRight = width - dip(8);
    const int badgeWidth = measure(badgeText, static_cast<int>(std::wcslen(badgeText))) + dip(16);
    g.badge = {badgeRight - badgeWidth, dip(4), badgeRight, dip(30) - dip(2)};

    if (active < 0 || active >= g.tabCount) return g;
    const RibbonTab& tab = tabs[active];
    x = dip(6);
    for (int gi = 0; gi < tab.groupCount && g.groupCount < kRibbonMaxGroups; ++gi) {
        const RibbonGroup& group = tab.groups[gi];
        const int firstButton = g.buttonCount;
        int groupWidth = 0;
        if (group.width > 0) {
            groupWidth = dip(group.width);
        } else {
            int bx = x + dip(4);
            int lastRight = -1;
            for (int i = 0; i < group.itemCount && g.buttonCount < kRibbonMaxButtons; ++i) {
                const RibbonItem& item = group.items[i];
                const int buttonWidth = std::max(dip(52), WidestLine(item.label, measure) + dip(16));
                g.buttons[g.buttonCount] = {bx, dip(34), bx + buttonWidth, dip(106)};
                g.items[g.buttonCount] = &item;
                ++g.buttonCount;
                lastRight = bx + buttonWidth;
                bx = lastRight + dip(2);
            }
            groupWidth = lastRight < 0 ? dip(6) : lastRight - x + dip(4);
        }
        const int captionWidth = measure(group.caption, static_cast<int>(std::wcslen(group.caption))) + dip(20);
        if (captionWidth > groupWidth) {
            const int shift = (captionWidth - groupWidth) / 2;
            for (int b = firstButton; b < g.buttonCount; ++b) {
                g.buttons[b].left += shift;
                g.buttons[b].right += shift;
            }
            groupWidth = captionWidth;
        }
        g.groups[g.groupCount] = {x, dip(30), x + groupWidth, dip(128)};
        g.groupDefs[g.groupCount] = &group;
        ++g.groupCount;
        x += groupWidth + dip(1);
    }
    return g;
}

int RibbonHit(const RibbonBox* boxes, int count, int x, int y) {
    for (int i = 0; i < count; ++i) {
        if (boxes[i].Contains(x, y)) return i;
    }
    return -1;
}
