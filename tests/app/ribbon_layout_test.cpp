// The ribbon's geometry with a stub text measurer: every box obeys the layout's
// rules, at 96 and 144 dpi, and the limits hold.
#include "app/ribbon_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/layout.h"

namespace {

// Seven pixels a character at 96 dpi, scaled with the dpi like a real font.
RibbonTextWidth Measure(int dpi) {
    return [dpi](const wchar_t*, int length) { return ScaleDip(7 * length, dpi); };
}

int WidestLine(const std::wstring& label) {
    size_t widest = 0;
    size_t start = 0;
    for (;;) {
        const size_t end = label.find(L'\n', start);
        widest = std::max(widest, (end == std::wstring::npos ? label.size() : end) - start);
        if (end == std::wstring::npos) return static_cast<int>(widest);
        start = end + 1;
    }
}

// A made-up tab of groups x buttons, with captions and labels of the given lengths.
struct TestTab {
    std::vector<std::wstring> texts;
    std::vector<std::vector<RibbonItem>> items;
    std::vector<RibbonGroup> groups;
    RibbonTab tab = {};

    TestTab(int groupCount, int buttons, int captionLength, const wchar_t* label) {
        texts.reserve(groupCount);
        items.resize(groupCount);
        for (int g = 0; g < groupCount; ++g) {
            texts.push_back(std::wstring(captionLength, L'c'));
            for (int b = 0; b < buttons; ++b) items[g].push_back({100 + g * 10 + b, 0, label, L""});
        }
        for (int g = 0; g < groupCount; ++g) {
            groups.push_back({texts[g].c_str(), items[g].data(), buttons, 0});
        }
        tab = {L"Tab", groups.data(), groupCount, L""};
    }
};

void CheckRules(const RibbonGeometry& g, int dpi) {
    auto dip = [dpi](int v) { return ScaleDip(v, dpi); };
    for (int t = 1; t < g.tabCount; ++t) EXPECT_EQ(g.tabs[t].left, g.tabs[t - 1].right + dip(2));
    int b = 0;
    for (int i = 0; i < g.groupCount; ++i) {
        const RibbonBox& group = g.groups[i];
        if (i > 0) {
            EXPECT_EQ(group.left, g.groups[i - 1].right + dip(1));
        }
        const int captionWidth = Measure(dpi)(nullptr, static_cast<int>(std::wcslen(g.groupDefs[i]->caption)));
        EXPECT_GE(group.right - group.left, captionWidth + dip(20));
        const int first = b;
        while (b < g.buttonCount && g.buttons[b].right <= group.right && g.buttons[b].left >= group.left) ++b;
        if (b == first) continue;
        for (int k = first; k < b; ++k) {
            const int width = g.buttons[k].right - g.buttons[k].left;
            EXPECT_EQ(width, std::max(dip(52), Measure(dpi)(nullptr, WidestLine(g.items[k]->label)) + dip(16)));
            EXPECT_EQ(g.buttons[k].top, dip(34));
            EXPECT_EQ(g.buttons[k].bottom, dip(106));
            if (k > first) {
                EXPECT_EQ(g.buttons[k].left, g.buttons[k - 1].right + dip(2));
            }
        }
        // Buttons sit centred in a group widened by its caption, else 4 DIP in from both edges.
        const int leftGap = g.buttons[first].left - group.left;
        const int rightGap = group.right - g.buttons[b - 1].right;
        EXPECT_LE(std::abs(leftGap - rightGap), 1) << i;
        EXPECT_GE(leftGap, dip(4));
    }
    EXPECT_EQ(b, g.buttonCount) << "a button outside its group";
}

TEST(RibbonLayout, BoxesFollowTheRulesWithinTheLimits) {
    struct Case {
        int groups, buttons, caption;
        const wchar_t* label;
        int shownGroups, shownButtons;
    } cases[] = {
        {3, 4, 6, L"Match\nCase", 3, 12},            // narrow labels: 52 DIP buttons
        {1, 1, 30, L"ab", 1, 1},                     // the caption widens the group
        {2, 2, 4, L"A much longer label\nx", 2, 4},  // the widest line sizes the button
        {10, 4, 3, L"Go", 8, 24},                    // 24 buttons and 8 groups at most
        {1, 0, 3, L"", 1, 0},                        // a group without buttons
    };
    for (int dpi : {96, 144}) {
        for (const Case& c : cases) {
            TestTab tab(c.groups, c.buttons, c.caption, c.label);
            const RibbonTab tabs[] = {tab.tab, tab.tab};
            const RibbonGeometry g = LayoutRibbonGeometry(tabs, 2, 1, 1400, dpi, L"Orvane v1.0.1", Measure(dpi));
            SCOPED_TRACE(testing::Message() << c.groups << "x" << c.buttons << " at " << dpi);
            EXPECT_EQ(g.groupCount, c.shownGroups);
            EXPECT_EQ(g.buttonCount, c.shownButtons);
            CheckRules(g, dpi);
            EXPECT_EQ(g.badge.right, 1400 - ScaleDip(8, dpi));
            EXPECT_EQ(g.badge.right - g.badge.left, Measure(dpi)(nullptr, 13) + ScaleDip(16, dpi));
        }
    }
}

}  // namespace
