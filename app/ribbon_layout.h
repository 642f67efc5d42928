// Where the ribbon's tabs, badge, groups and buttons go for a width and an
// active tab. Portable arithmetic over the ribbon's tables; ribbon.cpp measures
// the texts, paints and moves the controls.
#pragma once

#include <functional>

struct RibbonItem {
    int command;           // CommandId
    int icon;              // index in the icon strip, negative for none
    const wchar_t* label;  // "\n" breaks it into two lines
    const wchar_t* tooltip;
};

struct RibbonGroup {
    const wchar_t* caption;
    const RibbonItem* items;
    int itemCount;
    int width;  // DIP; 0: sized by its buttons
};

struct RibbonTab {
    const wchar_t* name;
    const RibbonGroup* groups;
    int groupCount;
    const wchar_t* tooltip;
};

constexpr int kRibbonTabCount = 5;
constexpr int kRibbonMaxGroups = 8;
constexpr int kRibbonMaxButtons = 24;

struct RibbonBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct RibbonGeometry {
    int tabCount = 0;
    RibbonBox tabs[kRibbonTabCount];
    RibbonBox badge;
    int groupCount = 0;
    RibbonBox groups[kRibbonMaxGroups];
    const RibbonGroup* groupDefs[kRibbonMaxGroups] = {};
    int buttonCount = 0;
    RibbonBox buttons[kRibbonMaxButtons];
    const RibbonItem* items[kRibbonMaxButtons] = {};
};

// Width in pixels of text[0, length) in the ribbon's 9 pt UI font.
using RibbonTextWidth = std::function<int(const wchar_t* text, int length)>;

// The boxes of tabs[0, tabCount) (at most kRibbonTabCount), the badge showing
// badgeText at the right of a ribbon width pixels wide, and the groups and
// buttons of tabs[active] at dpi. Groups past the eighth and buttons past the
// 24th are left out.
RibbonGeometry LayoutRibbonGeometry(const RibbonTab* tabs, int tabCount, int active, int width, int dpi,
                                    const wchar_t* badgeText, const RibbonTextWidth& measure);

// The index of the box of boxes[0, count) that holds (x, y); -1 for none.
int RibbonHit(const RibbonBox* boxes, int count, int x, int y);
