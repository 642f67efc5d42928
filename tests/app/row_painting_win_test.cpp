// The results list's rows as painted, read back pixel by pixel from the list in
// this process: the real main window over an engine holding a few entries,
// with results handed to ApplyResults as the search worker would. Colours are
// compared, never text widths (fonts are substituted under Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "app/engine_host.h"
#include "app/icon_loader.h"
#include "app/main_window.h"
#include "app/results_list.h"
#include "app/row_icon_cache.h"
#include "app/row_painting.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/startup.h"
#include "engine/engine.h"
#include "index/entry.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/in_process_app.h"
#include "tests/support/index_reference.h"

namespace {

std::vector<uint32_t> gRows;  // entry per row: plain, plain, hidden, system, plain

int Luma(COLORREF c) {
    return (GetRValue(c) * 30 + GetGValue(c) * 59 + GetBValue(c) * 11) / 100;
}

class RowPainting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ov::gui::SetUpAppInProcess();
        {
            std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
            using ov::testing::AddNamed;
            const uint32_t root =
                AddNamed(*gEngine, ov::kNoEntry, "C:", ov::EntryFlags::Directory | ov::EntryFlags::VolumeRoot);
            gRows = {AddNamed(*gEngine, root, "qzname_one.txt", 0, 10),
                     AddNamed(*gEngine, root, "qzname_two.txt", 0, 20),
                     AddNamed(*gEngine, root, "qzname_hidden.txt", ov::FileAttr::Hidden, 30),
                     AddNamed(*gEngine, root, "qzname_system.txt", ov::FileAttr::System, 40),
                     AddNamed(*gEngine, root, "qzname_three.txt", 0, 50)};
        }
        ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
        SetForegroundWindow(gMain);
    }
    static void TearDownTestSuite() { StopIconLoader(); }

    // Shows the rows with these highlight words, as a search result would.
    static void Show(std::vector<std::string> words, bool keepSelection = false) {
        auto result = std::make_unique<ov::SearchResult>();
        result->ids = gRows;
        result->sequence = gShown.sequence + 1;
        result->epoch = gEngine->epoch;
        result->words = std::move(words);
        result->keepSelection = keepSelection;
        ApplyResults(std::move(result));
        Repaint();
    }

    static void Repaint() {
        InvalidateRect(gResultsList, nullptr, TRUE);
        UpdateWindow(gResultsList);
        ov::gui::WaitUntil([] { return false; }, 50);
    }

    static RECT Row(int row) {
        RECT rect = {LVIR_BOUNDS, 0, 0, 0};
        SendMessageW(gResultsList, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
        return rect;
    }

    // Near the row's right end, in the empty date column: the background in
    // the middle, the frame (if any) on the top line.
    static COLORREF RowPixel(int row, bool top) {
        const RECT r = Row(row);
        RECT client;
        GetClientRect(gResultsList, &client);
        HDC dc = GetDC(gResultsList);
        const COLORREF c = GetPixel(dc, std::min(r.right, client.right) - 10, top ? r.top : (r.top + r.bottom) / 2);
        ReleaseDC(gResultsList, dc);
        return c;
    }
    static COLORREF Background(int row) { return RowPixel(row, false); }
    static COLORREF FramePixel(int row) { return RowPixel(row, true); }

    // Within a column's cell of one row: how many pixels differ from the
    // background, and the darkest of them.
    struct Ink {
        int pixels = 0;
        int darkest = 255;
        int left = INT_MAX;  // of the leftmost inked pixel, from the cell's left
        int gap = INT_MAX;   // from the rightmost inked pixel to the cell's right
    };
    // A column's place in the list, wherever it is shown and however scrolled.
    static RECT ColumnRect(int column) {
        RECT cell = {};
        HWND header = ListView_GetHeader(gResultsList);
        SendMessageW(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&cell));
        MapWindowPoints(header, gResultsList, reinterpret_cast<POINT*>(&cell), 2);
        return cell;
    }
    static Ink InkIn(int row, int column) {
        const RECT r = Row(row);
        const RECT cell = ColumnRect(column);
        const int skip = column == 0 ? Dip(12) + gSmallIconHeight : 0;  // past the margin and the icon
        const COLORREF back = Background(row);
        Ink ink;
        HDC dc = GetDC(gResultsList);
        RECT client;
        GetClientRect(gResultsList, &client);
        for (int y = r.top + 1; y < r.bottom - 1; ++y) {
            for (int x = std::max<int>(cell.left + skip, 0); x < std::min<int>(cell.right, client.right); ++x) {
                const COLORREF c = GetPixel(dc, x, y);
                if (c == CLR_INVALID || c == back) continue;
                ++ink.pixels;
                ink.darkest = std::min(ink.darkest, Luma(c));
                ink.left = std::min(ink.left, static_cast<int>(x - cell.left));
                ink.gap = std::min(ink.gap, static_cast<int>(cell.right - 1 - x));
            }
        }
        ReleaseDC(gResultsList, dc);
        return ink;
    }

    static void Select(int row, bool on) {
        ListView_SetItemState(gResultsList, row, on ? LVIS_SELECTED : 0, LVIS_SELECTED);
    }
};

TEST_F(RowPainting, BackgroundsByStripesSelectionAndFocus) {
    gSettings.stripes = 1;
    Show({});
    EXPECT_EQ(Background(0), kPlainFill);
    EXPECT_EQ(Background(1), kStripeFill);
    EXPECT_EQ(Background(2), kPlainFill);
    EXPECT_EQ(Background(3), kStripeFill);

    // A selected row ignores its stripe; with the focus it is blue and framed.
    SetFocus(gResultsList);
    Select(1, true);
    Repaint();
    EXPECT_EQ(Background(1), kSelectedFill);
    EXPECT_EQ(FramePixel(1), kSelectedFrame);
    EXPECT_EQ(Background(3), kStripeFill);

    // Without the focus: plain grey, no frame.
    SetFocus(gSearchBox);
    Repaint();
    EXPECT_EQ(Background(1), kSelectedUnfocusedFill);
    EXPECT_EQ(FramePixel(1), kSelectedUnfocusedFill);

    gSettings.stripes = 0;
    Select(1, false);
    Repaint();
    EXPECT_EQ(Background(1), kPlainFill);
}

// Hidden and system entries are written in grey, selected or not; the others in
// near-black.
TEST_F(RowPainting, HiddenAndSystemRowsAreGrey) {
    Show({});
    for (int row : {0, 1, 4}) EXPECT_LT(InkIn(row, 0).darkest, 70) << row;
    for (int row : {2, 3}) {
        const Ink ink = InkIn(row, 0);
        EXPECT_GT(ink.pixels, 0) << row;
        EXPECT_GE(ink.darkest, 95) << row;
    }
    SetFocus(gResultsList);
    Select(2, true);
    Repaint();
    EXPECT_GE(InkIn(2, 0).darkest, 95);
    Select(2, false);
}

// The typed words are drawn bold: the same name holds more ink marked than
// plain, and the Highlight setting turns the marking off.
TEST_F(RowPainting, MatchedWordsAreBold) {
    Show({});
    const int plain = InkIn(0, 0).pixels;
    ASSERT_GT(plain, 0);
    Show({"qzname_one"});
    const int bold = InkIn(0, 0).pixels;
    EXPECT_GT(bold, plain);
    gSettings.highlight = 0;
    Repaint();
    EXPECT_EQ(InkIn(0, 0).pixels, plain);
    gSettings.highlight = 1;
}

// Each cell is drawn inside its own column wherever the user dragged it and
// however far the list is scrolled: with Size shown first, its right-aligned
// text lies in the right part of the Size column, not where the row starts.
TEST_F(RowPainting, CellsFollowTheColumnsWhereTheyAreShown) {
    Show({});
    const int columns = static_cast<int>(gColumnMap.size());
    ASSERT_GE(columns, 3);
    ASSERT_EQ(gColumnMap[2], 2);  // Size
    std::vector<int> order(columns);
    for (int i = 0; i < columns; ++i) order[i] = i;
    std::swap(order[0], order[2]);
    ASSERT_TRUE(ListView_SetColumnOrderArray(gResultsList, columns, order.data()));
    const int dateWidth = ListView_GetColumnWidth(gResultsList, 3);
    ListView_SetColumnWidth(gResultsList, 3, 3000);  // room to scroll sideways
    for (int scroll : {0, Dip(40)}) {
        SendMessageW(gResultsList, LVM_SCROLL, scroll, 0);
        Repaint();
        const RECT size = ColumnRect(2);
        const Ink ink = InkIn(0, 2);  // "10 bytes"
        EXPECT_GT(ink.pixels, 0) << scroll;
        EXPECT_GT(ink.left, (size.right - size.left) / 3) << scroll;
        // Right-aligned within the margin, not shifted out of its column.
        EXPECT_GE(ink.gap, Dip(6) - 1) << scroll;
        EXPECT_LE(ink.gap, Dip(6) + 3) << scroll;
        EXPECT_LT(InkIn(0, 0).darkest, 70) << scroll;  // the name, in its own column
    }
    SendMessageW(gResultsList, LVM_SCROLL, -Dip(40), 0);
    ListView_SetColumnWidth(gResultsList, 3, dateWidth);
    for (int i = 0; i < columns; ++i) order[i] = i;
    ListView_SetColumnOrderArray(gResultsList, columns, order.data());
}

// The square of pixels at (x, y) of dc.
std::vector<COLORREF> Square(HDC dc, int x, int y, int size) {
    std::vector<COLORREF> pixels;
    for (int dy = 0; dy < size; ++dy) {
        for (int dx = 0; dx < size; ++dx) pixels.push_back(GetPixel(dc, x + dx, y + dy));
    }
    return pixels;
}

// An icon drawn straight onto a fill of background, faded from the list or
// plain from its own handle: the pixels the copied icons must equal.
std::vector<COLORREF> DrawnIcon(int index, COLORREF background, bool faded) {
    const int size = gSmallIconHeight;
    HDC screen = GetDC(gResultsList);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    ReleaseDC(gResultsList, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    RECT square = {0, 0, size, size};
    FillRect(dc, &square, brush);
    DeleteObject(brush);
    HICON icon = faded ? nullptr : ImageList_GetIcon(gSystemImages, index, ILD_TRANSPARENT);
    if (icon) {
        DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
    } else {
        ImageList_Draw(gSystemImages, index, dc, 0, 0, ILD_TRANSPARENT | (faded ? ILD_BLEND25 : 0));
    }
    std::vector<COLORREF> pixels = Square(dc, 0, 0, size);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

// Icons are copied from ready-made squares, yet every row shows the pixels of
// the icon drawn onto its own background: plain, selected with and without the
// focus, striped, faded for hidden entries; also after more icon and colour
// pairs than are kept pushed the first ones out, and after a reset.
TEST_F(RowPainting, CopiedIconsMatchIconsDrawnOntoTheRow) {
    ASSERT_NE(gSystemImages, nullptr);
    gSettings.stripes = 1;
    Show({});
    const int index = RowIconIndex(GetResultRow(0));
    ASSERT_GE(index, 0);
    const int size = gSmallIconHeight;
    auto shownIcon = [&](int row) {
        const RECT r = Row(row);
        HDC dc = GetDC(gResultsList);
        std::vector<COLORREF> pixels = Square(dc, ColumnRect(0).left + Dip(6), (r.top + r.bottom - size) / 2, size);
        ReleaseDC(gResultsList, dc);
        return pixels;
    };
    const std::vector<COLORREF> plain = DrawnIcon(index, kPlainFill, false);
    ASSERT_NE(std::count(plain.begin(), plain.end(), kPlainFill), static_cast<long>(plain.size()))
        << "the icon draws nothing";
    ASSERT_NE(DrawnIcon(index, kPlainFill, true), plain) << "fading changes nothing";

    struct Case {
        int row;
        bool selected;
        bool focus;
        COLORREF background;
        bool faded;
    };
    const Case cases[] = {
        {0, false, false, kPlainFill, false},
        {1, false, false, kStripeFill, false},
        {2, false, false, kPlainFill, true},
        {3, false, false, kStripeFill, true},
        {0, true, true, kSelectedFill, false},
        {2, true, true, kSelectedFill, true},
        {0, true, false, kSelectedUnfocusedFill, false},
        {2, true, false, kSelectedUnfocusedFill, true},
    };
    for (const Case& c : cases) {
        SetFocus(c.focus ? gResultsList : gSearchBox);
        Select(c.row, c.selected);
        Repaint();
        EXPECT_EQ(Background(c.row), c.background) << c.row;
        EXPECT_EQ(shownIcon(c.row), DrawnIcon(index, c.background, c.faded)) << c.row << " " << c.selected;
        Select(c.row, false);
    }

    auto copied = [&](COLORREF background) {
        HDC screen = GetDC(gResultsList);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
        ReleaseDC(gResultsList, screen);
        HGDIOBJ old = SelectObject(dc, bitmap);
        DrawRowIcon(dc, index, 0, 0, background, false);
        std::vector<COLORREF> pixels = Square(dc, 0, 0, size);
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        return pixels;
    };
    for (int i = 0; i < kRowIconSlots + 20; ++i) copied(RGB(i % 256, 128, i / 256));
    EXPECT_EQ(copied(RGB(3, 128, 0)), DrawnIcon(index, RGB(3, 128, 0), false));
    EXPECT_EQ(copied(kPlainFill), plain);
    ResetRowIcons();
    EXPECT_EQ(copied(kPlainFill), plain);
    gSettings.stripes = 0;
}

int gStatusPaints = 0;

LRESULT CALLBACK CountStatusPaints(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_PAINT) ++gStatusPaints;
    return DefSubclassProc(window, message, wParam, lParam);
}

// A new result changes two status parts (its count and its timing), and the
// bar is painted once for both, showing the new texts.
TEST_F(RowPainting, StatusBarPaintsOncePerResult) {
    Show({});
    UpdateWindow(gStatusBar);
    ASSERT_TRUE(SetWindowSubclass(gStatusBar, CountStatusPaints, 1, 0));
    gStatusPaints = 0;
    const std::vector<uint32_t> all = gRows;
    gRows.resize(2);
    auto result = std::make_unique<ov::SearchResult>();
    result->ids = gRows;
    result->sequence = gShown.sequence + 1;
    result->epoch = gEngine->epoch;
    result->ms = gShown.ms + 1.5;
    ApplyResults(std::move(result));
    UpdateWindow(gStatusBar);
    EXPECT_EQ(gStatusPaints, 1);
    wchar_t text[256] = {};
    SendMessageW(gStatusBar, SB_GETTEXTW, 1, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"  2 results");
    RemoveWindowSubclass(gStatusBar, CountStatusPaints, 1);
    gRows = all;
    Show({});
}

// The shell's answers for the icon test: files answer slowly until released;
// the share is offline and keeps whoever asks waiting until released (60 s at
// most), and records whether the icon lock was free while it was asked.
std::atomic<bool> gShellReleased{false};
std::atomic<bool> gShareReleased{false};
std::atomic<int> gRootAsked{0};
std::atomic<bool> gRootAskedUnlocked{false};

bool SlowShell(const std::wstring& path, DWORD, UINT flags, int& index) {
    if (flags & SHGFI_USEFILEATTRIBUTES) {  // by type: answered at once
        index = 1;
        return true;
    }
    if (path.size() > 2 && path.back() == L'\\') {
        // The window takes the lock for moments while it paints; a loader holding it would hold it throughout.
        for (int i = 0; i < 100 && !gRootAskedUnlocked; ++i) {
            gRootAskedUnlocked = IconLockFreeForTesting();
            if (!gRootAskedUnlocked) Sleep(2);
        }
        ++gRootAsked;
        for (int i = 0; i < 6000 && !gShareReleased; ++i) Sleep(10);
        index = 7;
        return true;
    }
    while (!gShellReleased) Sleep(5);
    index = 100 + std::stoi(path.substr(path.find(L'_') + 1));
    return true;
}

// Files of their own icon show their type's icon until the loader has theirs;
// at most 2,000 wait, the rest are asked again when painted. An offline share
// among the roots holds up neither the window (it is asked on the loader,
// outside the icon lock) nor the exit (the loader's join has a limit).
// Last of the suite: the loader is stopped.
TEST_F(RowPainting, IconLoaderQueueIsBoundedAndAnOfflineShareHoldsUpNothing) {
    SetShellIconLookupForTesting(SlowShell);
    auto program = [](int i) {
        ov::ResultRow row;
        row.fullPath = L"C:\\apps\\tool_" + std::to_wstring(i) + L".exe";
        row.extension = L"exe";
        row.valid = true;
        return row;
    };
    for (int i = 0; i < 2500; ++i) EXPECT_EQ(RowIconIndex(program(i)), 1) << i;
    EXPECT_LE(QueuedIconPathsForTesting(), kIconQueueLimit);
    EXPECT_GE(QueuedIconPathsForTesting(), kIconQueueLimit - 1);  // the loader holds one

    gShellReleased = true;
    ASSERT_TRUE(ov::gui::WaitUntil([] { return QueuedIconPathsForTesting() == 0; }, ov::gui::Patient(10000)));
    ASSERT_TRUE(ov::gui::WaitUntil([&] { return RowIconIndex(program(1999)) == 100 + 1999; }, ov::gui::Patient(5000)));
    EXPECT_EQ(RowIconIndex(program(0)), 100);
    // One not taken the first time is queued now and arrives too.
    EXPECT_EQ(RowIconIndex(program(2400)), 1);
    EXPECT_TRUE(ov::gui::WaitUntil([&] { return RowIconIndex(program(2400)) == 2500; }, ov::gui::Patient(5000)));

    ov::ResultRow root;
    root.fullPath = L"\\\\server\\share\\";
    root.flags = ov::EntryFlags::Directory | ov::EntryFlags::VolumeRoot;
    const ULONGLONG asked = GetTickCount64();
    EXPECT_EQ(RowIconIndex(root), 3) << "a root shows the fourth icon until its own arrives";
    EXPECT_LT(GetTickCount64() - asked, ov::gui::Patient(1000)) << "the window waited for the share";
    EXPECT_EQ(RowIconIndex(root), 3);
    ASSERT_TRUE(ov::gui::WaitUntil([] { return gRootAsked == 1; }, ov::gui::Patient(5000)));
    EXPECT_TRUE(gRootAskedUnlocked);

    // The loader is stuck in the share: the exit waits for it only so long.
    const ULONGLONG stopping = GetTickCount64();
    StopIconLoader();
    const ULONGLONG stopped = GetTickCount64() - stopping;
    EXPECT_GE(stopped + 100, kIconLoaderStopLimitMs);
    EXPECT_LT(stopped, kIconLoaderStopLimitMs + ov::gui::Patient(1000));
    gShareReleased = true;
    EXPECT_EQ(gRootAsked, 1);
    SetShellIconLookupForTesting(nullptr);
}

}  // namespace
