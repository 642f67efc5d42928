#include "app/row_painting.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "app/icon_loader.h"
#include "app/results_list.h"
#include "app/row_icon_cache.h"
#include "app/settings.h"
#include "app/window_kit.h"
#include "index/entry.h"

namespace {

// Both are asked once rather than per row: under Wine each question is a round
// trip to the window server or through the list's subclass chain.
bool gListFocused = false;

HWND Header() {
    static HWND list = nullptr;
    static HWND header = nullptr;
    if (list != gResultsList) {
        list = gResultsList;
        header = ListView_GetHeader(list);
    }
    return header;
}

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
    SetDCBrushColor(dc, colour);
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// Returns the fill, which the icon is drawn onto.
COLORREF DrawBackground(const DRAWITEMSTRUCT* item) {
    const bool selected = (item->itemState & ODS_SELECTED) != 0;
    if (selected && gListFocused) {
        Fill(item->hDC, item->rcItem, kSelectedFill);
        SetDCBrushColor(item->hDC, kSelectedFrame);
        FrameRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
        return kSelectedFill;
    }
    const bool odd = (item->itemID & 1) != 0;
    const COLORREF fill = selected ? kSelectedUnfocusedFill : gSettings.stripes && odd ? kStripeFill : kPlainFill;
    Fill(item->hDC, item->rcItem, fill);
    return fill;
}

// Each cell goes where the list has its column: the header knows the column's
// place whatever the display order and the horizontal scroll.
void DrawCells(HDC dc, const RECT& rowRect, const ov::ResultRow& row, COLORREF background) {
    HWND header = Header();
    const bool dim = (row.flags & (ov::FileAttr::Hidden | ov::FileAttr::System)) != 0;
    const int margin = Dip(6);
    for (int c = 0; c < static_cast<int>(gColumnMap.size()); ++c) {
        RECT bounds;
        if (!Header_GetItemRect(header, c, &bounds)) continue;
        MapWindowPoints(header, gResultsList, reinterpret_cast<POINT*>(&bounds), 2);
        RECT cell = {bounds.left + margin, rowRect.top, bounds.right - margin, rowRect.bottom};
        if (cell.left >= cell.right) continue;
        const int column = gColumnMap[c];
        SetTextColor(dc, dim ? kMainTextHidden : kMainText);
        if (column == 0) {
            const int y = (cell.top + cell.bottom - gSmallIconHeight) / 2;
            DrawRowIcon(dc, RowIconIndex(row), cell.left, y, background, dim);
            cell.left += margin + gSmallIconHeight;
            DrawHighlightedText(dc, row.name, cell, false);
        } else if (column == 1) {
            DrawHighlightedText(dc, row.folder, cell, true);
        } else {
            const std::wstring text = GetCellText(row, column);
            if (column != 2 && column != 7) SetTextColor(dc, dim ? kOtherTextHidden : kOtherText);
            const UINT right = kColumns[column].rightAligned ? DT_RIGHT : 0;
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &cell,
                      DT_END_ELLIPSIS | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER | right);
        }
    }
}

}  // namespace

void SetResultsListFocused(bool focused) {
    gListFocused = focused;
}

void DrawResultRow(const DRAWITEMSTRUCT* item) {
    const COLORREF background = DrawBackground(item);
    HDC dc = item->hDC;
    HGDIOBJ oldFont = nullptr;
    try {
        const ov::ResultRow row = GetResultRow(static_cast<int>(item->itemID));
        if (!row.valid) return;
        SetBkMode(dc, TRANSPARENT);
        // The list hands over its own font, which is ours: selecting a font
        // costs a font lookup under Wine even when it is already selected.
        if (GetCurrentObject(dc, OBJ_FONT) != gFontList) oldFont = SelectObject(dc, gFontList);
        DrawCells(dc, item->rcItem, row, background);
    } catch (const std::exception&) {
        // Out of memory: the row keeps what was painted.
    }
    if (oldFont) SelectObject(dc, oldFont);
}

void DrawHighlightedText(HDC dc, const std::wstring& text, const RECT& cell, bool path) {
    RECT box = cell;
    if (box.left >= box.right) return;
    const UINT plain = (path ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS) | DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER;
    const int length = static_cast<int>(text.size());
    auto drawPlain = [&] { DrawTextW(dc, text.c_str(), length, &box, plain); };
    if (!gSettings.highlight || gShown.wideWords.empty() || text.empty()) return drawPlain();
    std::wstring lower = text;
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    const std::vector<bool> marks = MatchMarks(lower, gShown.wideWords);
    if (std::find(marks.begin(), marks.end(), true) == marks.end()) return drawPlain();
    struct Run {
        size_t start;
        size_t length;
        bool bold;
        int width;
    };
    std::vector<Run> runs;
    for (size_t start = 0; start < text.size();) {
        size_t end = start + 1;
        while (end < text.size() && marks[end] == marks[start]) ++end;
        runs.push_back({start, end - start, marks[start], 0});
        start = end;
    }
    // The runs of one font are measured and drawn together: each change of
    // font costs a font lookup (most of a row's time under Wine), and runs of
    // one colour side by side paint the same pixels in any order.
    auto measure = [&](bool bold) {
        int width = 0;
        for (Run& run : runs) {
            if (run.bold != bold) continue;
            SIZE size = {};
            GetTextExtentPoint32W(dc, text.c_str() + run.start, static_cast<int>(run.length), &size);
            run.width = static_cast<int>(size.cx);
            width += run.width;
        }
        return width;
    };
    if (GetCurrentObject(dc, OBJ_FONT) != gFontList) SelectObject(dc, gFontList);
    int total = measure(false);
    SelectObject(dc, gFontListBold);
    total += measure(true);
    // Bold that would not fit is dropped: the whole text with an ellipsis instead.
    if (box.right - box.left < total) {
        SelectObject(dc, gFontList);
        return drawPlain();
    }
    auto draw = [&](bool bold) {
        int x = box.left;
        for (const Run& run : runs) {
            if (run.bold == bold) {
                RECT part = {x, box.top, box.right, box.bottom};
                DrawTextW(dc, text.c_str() + run.start, static_cast<int>(run.length), &part,
                          DT_NOPREFIX | DT_SINGLELINE | DT_VCENTER);
            }
            x += run.width;
        }
    };
    draw(true);
    SelectObject(dc, gFontList);
    draw(false);
}
