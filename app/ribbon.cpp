// The ribbon paints itself from the boxes of the last layout into a back
// buffer kept for its size: every selection change repaints it, so painting
// measures no text and creates no bitmap, and hovering repaints only the boxes
// whose look changed. Buttons fire on release over the button pressed; tabs
// switch on press; the wheel pages through the tabs.
#include "app/ribbon.h"

#include <commctrl.h>
#include <wincodec.h>

#include <algorithm>
#include <string>

#include "app/activity_log.h"
#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/res/resource.h"
#include "app/setting_rules.h"
#include "app/settings.h"

IconStrip gIconStrip32;
IconStrip gIconStrip20;

namespace {

// A group of buttons, sized by them; its count taken from the array.
template <int N>
constexpr RibbonGroup Buttons(const wchar_t* caption, const RibbonItem (&items)[N]) {
    return {caption, items, N, 0};
}

constexpr RibbonItem kSearchItems[] = {
    {kCmdMatchCase, 0, L"Match\nCase",
     L"Match upper and lower case exactly  (Ctrl+I)\n\nOFF: report finds report, Report and REPORT.\nON: Report finds "
     L"only Report.\n\nHighlighted while it's on. To match the case of one word only, type case: before it."},
    {kCmdWholeWord, 1, L"Whole\nWords",
     L"Only match whole words  (Ctrl+B)\n\nOFF: cat finds cat.txt, concat.doc and category.pdf.\nON: cat finds cat.txt "
     L"and my cat.jpg, not concat.doc.\n\nHighlighted while it's on. For one word only, type ww: before it."},
    {kCmdMatchPath, 2, L"Match\nPath",
     L"Search the whole path, not just the name  (Ctrl+U)\n\nExample: projects report finds every report inside a "
     L"folder called projects.\n\nWords with a backslash in them always search paths."},
    {kCmdRegex, 3, L"Regex",
     L"Treat the search box as one regular expression  (Ctrl+R)\n\nExample: ^IMG_\\d{4}\\.jpg$\n\nSpaces, | and ! lose "
     L"their meaning while it's on. For one search only, start it with regex:"},
};
constexpr RibbonItem kSelectedItems[] = {
    {kCmdOpen, 4, L"Open",
     L"Open the selected file(s) or folder(s)  (Enter, or double-click)\n\nEvery opening is counted (the Run Count "
     L"column)."},
    {kCmdOpenFolder, 5, L"Open\nFolder",
     L"Open the folder that contains the selected item, with the item selected  (Ctrl+Enter)"},
    {kCmdCopyPath, 6, L"Copy\nPath",
     L"Copy the full path of the selected item(s) to the clipboard  (Ctrl+Shift+C)\n\nOne path per line. Ctrl+C copies "
     L"the items themselves, as files."},
    {kCmdProperties, 7, L"Properties", L"Show Windows' Properties window for the selected item  (Alt+Enter)"},
};
constexpr RibbonItem kResultsItems[] = {
    {kCmdExport, 8, L"Export",
     L"Save the list of results to a file\n\nAs CSV (for spreadsheets), TXT (one path per line) or EFU (a file list "
     L"other tools read). Every result is saved, not just the ones on screen."},
    {kCmdClearSearch, 31, L"Clear\nSearch",
     L"Empty the search box and show everything again  (Esc in the search box)\n\nThe filter and the search switches "
     L"stay as they are."},
};
constexpr RibbonGroup kHomeGroups[] = {
    Buttons(L"Search", kSearchItems),
    Buttons(L"Selected item", kSelectedItems),
    Buttons(L"Results", kResultsItems),
};

constexpr RibbonItem kFindItems[] = {
    {kCmdSameNames, 9, L"Same\nNames",
     L"Find files and folders that have the same name as something else  (search: dupe:)\n\nSorted by name so copies "
     L"sit together. Add words to narrow it down, e.g. dupe: .jpg"},
    {kCmdSameSize, 10, L"Same\nSize",
     L"Find files whose exact size (to the byte) matches another file  (search: sizedupe:)\n\nSorted by size, biggest "
     L"first. Empty files are left out."},
    {kCmdLargestFiles, 11, L"Largest\nFiles", L"Show only files, biggest first  (search: file:, sorted by Size)"},
    {kCmdLargestFolders, 12, L"Largest\nFolders",
     L"Show only folders, biggest first  (search: folder:, sorted by Size)\n\nA folder's size is the total of "
     L"everything inside it, always known."},
    {kCmdRecentChanges, 13, L"Recent\nChanges",
     L"Show what changed in the last 24 hours, newest first  (search: dm:last24hours, sorted by Date Modified)\n\nThe "
     L"list keeps updating while files change."},
    {kCmdEmptyFolders, 14, L"Empty\nFolders", L"Show folders with nothing in them  (search: empty:)"},
};
constexpr RibbonItem kMoreItems[] = {
    {kCmdMostOpened, 16, L"Most\nOpened",
     L"Sort by Run Count: the files and folders you open most from Orvane come first\n\nEvery opening from Orvane is "
     L"counted and remembered."},
    {kCmdSpeedTest, 15, L"Speed\nTest",
     L"Measure how fast Orvane is on this PC\n\nRuns typical searches with one thread and with all of them, and shows "
     L"how long the index took to build."},
};
constexpr RibbonGroup kToolsGroups[] = {
    Buttons(L"Find", kFindItems),
    Buttons(L"More", kMoreItems),
};

constexpr RibbonItem kIndexItems[] = {
    {kCmdIndexStatus, 17, L"Index\nStatus",
     L"See every indexed drive and folder: how many files, how it was indexed, how long it took, and whether it's "
     L"being watched for changes right now. You can rescan or remove one there."},
    {kCmdRescanAll, 18, L"Rescan\nAll",
     L"Throw away the index and build it again from scratch\n\nNormally never needed: Orvane keeps up with every "
     L"change "
     L"by itself. Searching keeps working meanwhile."},
    {kCmdAddFolder, 19, L"Add\nFolder",
     L"Index an extra folder, such as a network share (\\\\server\\share) or a folder on a drive that isn't "
     L"indexed\n\nIt is scanned, then watched for changes. Remove it again on Index Status."},
    {kCmdExcludedFolders, 22, L"Excluded\nFolders",
     L"Choose folders whose contents never show in results, e.g. C:\\Windows\\WinSxS or a backup folder full of "
     L"copies\n\nTakes effect immediately. Nothing is deleted."},
    {kCmdSaveIndex, 20, L"Save\nIndex", L"Save the index to disk now\n\nIt is saved when Orvane exits anyway."},
    {kCmdRunAsAdmin, 21, L"Run as\nAdmin",
     L"Restart Orvane with administrator rights\n\nThen it reads each NTFS drive's file table directly, which is much "
     L"faster than walking folders. Grayed out when it already has them."},
};
constexpr RibbonGroup kIndexGroups[] = {
    Buttons(L"Index", kIndexItems),
};

constexpr RibbonGroup kSettingsGroups[] = {
    {L"Starting", nullptr, 0, 212}, {L"Results", nullptr, 0, 168}, {L"Keys, sizes & speed", nullptr, 0, 206},
    {L"Index", nullptr, 0, 176},    {L"Updates", nullptr, 0, 156},
};

constexpr RibbonItem kHelpItems[] = {
    {kCmdHowToUse, 23, L"How to\nUse", L"A short, plain-English guide to Orvane  (F1)"},
    {kCmdSearchTricks, 24, L"Search\nTricks",
     L"Everything you can type in the search box, with examples: several words, | for either, ! to leave out, "
     L"*.jpg, ext:, size:, dm:, file:, folder: and more."},
    {kCmdUserGuide, 25, L"User\nGuide", L"Open the full Orvane user guide (with pictures) in your web browser."},
    {kCmdReleaseNotes, 26, L"Release\nNotes", L"What's new in each version of Orvane."},
    {kCmdCheckUpdates, 27, L"Check for\nUpdates",
     L"Check now whether a newer Orvane is available\n\nOrvane also checks by itself every 6 hours. A download is "
     L"verified (SHA-256) before it is installed, and Orvane restarts with the same search."},
    {kCmdDownloadPage, 28, L"Download\nPage", L"Open Orvane's download page in your web browser."},
    {kCmdDiagnosticReport, 29, L"Diagnostic\nReport",
     L"Save a text file for support that describes the drives, how each was indexed and how long it took, and recent "
     L"activity. It contains no file names."},
    {kCmdAbout, 30, L"About", L"Show the version information."},
};
constexpr RibbonGroup kHelpGroups[] = {
    Buttons(L"Help", kHelpItems),
};

template <int N>
constexpr RibbonTab Tab(const wchar_t* name, const RibbonGroup (&groups)[N], const wchar_t* tooltip) {
    return {name, groups, N, tooltip};
}

constexpr RibbonTab kRibbonTabs[kRibbonTabCount] = {
    Tab(L"Home", kHomeGroups,
        L"Search switches (case, whole words, paths, regex) and things to do with the selected result."),
    Tab(L"Tools", kToolsGroups,
        L"Ready-made searches: duplicates, largest files and folders, recent changes, empty folders - and a speed "
        L"test."),
    Tab(L"Index", kIndexGroups,
        L"What Orvane indexes, how it's doing, extra folders (network shares) and excluded folders."),
    Tab(L"Settings", kSettingsGroups,
        L"How Orvane starts, what results show, what gets indexed and updates. Every change takes effect immediately."),
    Tab(L"Help", kHelpGroups, L"How to use Orvane, search tricks, release notes, updates and support."),
};

constexpr const wchar_t* kBadgeTooltip = L"The version of Orvane you're running. Click for About.";

constexpr const wchar_t* kHotkeyItems[] = {L"None",        L"Ctrl+Alt+F",     L"Ctrl+Shift+F",
                                           L"Win+Shift+F", L"Ctrl+Alt+Space", L"Ctrl+`"};
constexpr const wchar_t* kSizeItems[] = {L"Automatic", L"Always KB", L"Exact bytes"};
constexpr const wchar_t* kThreadItems[] = {L"All (fastest)", L"1", L"2", L"4", L"8", L"16", L"32"};

constexpr COLORREF kTabRowColor = RGB(243, 243, 243);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kLineColor = RGB(218, 218, 218);
constexpr COLORREF kHotTabColor = RGB(232, 232, 232);
constexpr COLORREF kAccent = RGB(0, 103, 192);
constexpr COLORREF kTabText = RGB(40, 40, 40);
constexpr COLORREF kBadgeText = RGB(90, 90, 90);
constexpr COLORREF kCaptionText = RGB(110, 110, 110);
constexpr COLORREF kLabelText = RGB(30, 30, 30);
constexpr COLORREF kDisabledText = RGB(160, 160, 160);
constexpr COLORREF kHoverFill = RGB(229, 241, 251);
constexpr COLORREF kHoverBorder = RGB(204, 228, 247);
constexpr COLORREF kOnFill = RGB(204, 228, 247);
constexpr int kSettingsTab = 3;
constexpr int kMaxControls = 40;

struct RibbonControl {
    HWND window;
    int group;
    int x;
    int y;
};

// UI thread only.
struct RibbonState {
    int activeTab = 0;
    RibbonGeometry geometry;
    std::wstring badgeText;
    int hotButton = -1;
    int hotTab = -1;
    bool badgeHot = false;
    int pressed = -1;
    bool tracking = false;
    HWND tooltip = nullptr;
    int toolCount = 0;
    HBRUSH whiteBrush = nullptr;
    RibbonControl controls[kMaxControls] = {};
    int controlCount = 0;
    // The back buffer, remade only when the client size changes.
    HDC backDc = nullptr;
    HBITMAP backBitmap = nullptr;
    HGDIOBJ backPrevious = nullptr;
    int backWidth = 0;
    int backHeight = 0;
};

RibbonState gState;

RECT ToRect(const RibbonBox& box) {
    return {box.left, box.top, box.right, box.bottom};
}

void Invalidate(const RibbonBox& box) {
    const RECT rect = ToRect(box);
    InvalidateRect(gRibbon, &rect, FALSE);
}

void FillSolid(HDC dc, int left, int top, int right, int bottom, COLORREF color) {
    SetDCBrushColor(dc, color);
    const RECT rect = {left, top, right, bottom};
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

// One source of the elevation for the badge and the Run as Admin button: the
// engine's, which the title reads too (and which /forcescan turns off).
bool Elevated() {
    return EngineElevated();
}

bool ButtonEnabled(int command) {
    switch (command) {
        case kCmdOpen:
        case kCmdOpenFolder:
        case kCmdCopyPath:
        case kCmdProperties:
            return gResultsList && ListView_GetSelectedCount(gResultsList) > 0;
        case kCmdRunAsAdmin:
            return EngineMade() && !Elevated();
        default:
            return true;
    }
}

bool ButtonSwitchedOn(int command) {
    switch (command) {
        case kCmdMatchCase:
            return gSettings.matchCase != 0;
        case kCmdWholeWord:
            return gSettings.wholeWord != 0;
        case kCmdMatchPath:
            return gSettings.matchPath != 0;
        case kCmdRegex:
            return gSettings.regex != 0;
        case kCmdMostOpened:
            return gSettings.sort == 7;  // ov::SortKey::RunCount
        default:
            return false;
    }
}

void SendCommand(int id) {
    if (gMain) SendMessageW(gMain, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

// Settings-tab controls ------------------------------------------------------

HWND CreateCheck(const wchar_t* text, int group, int x, int y, int width, int id, uint32_t checked,
                 const wchar_t* tooltip) {
    HWND box = CreateRibbonControl(L"BUTTON", text, BS_AUTOCHECKBOX | WS_TABSTOP, group, x, y, width, 22, id);
    if (!box) return nullptr;
    SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    AddControlTooltip(box, tooltip);
    return box;
}

int ThreadRowOf(uint32_t threads) {
    for (int row = 0; row < kThreadRowCount; ++row) {
        if (ThreadsOfRow(row) == threads) return row;
    }
    return 0;
}

void CreateSettingsControls() {
    const AppSettings& s = gSettings;
    CreateCheck(L"Run as administrator (fastest)", 0, 8, 3, 200, kSetRunAsAdmin, s.runAsAdmin,
                L"ON: Orvane asks for administrator rights when it starts, so it can read each NTFS drive's file table "
                L"directly (much faster).\nOFF: it starts without them and walks the folders instead.\nTakes effect "
                L"the next time Orvane starts.");
    CreateCheck(L"Start with Windows", 0, 8, 28, 200, kSetStartWithWindows, s.startWithWindows,
                L"ON: Orvane starts in the tray when you sign in to Windows, so the index is ready when you need "
                L"it.\nOFF: it starts only when you open it.\nTakes effect immediately.");
    CreateCheck(L"Keep running in the tray", 0, 8, 53, 200, kSetKeepInTray, s.keepInTray,
                L"ON: closing the window keeps Orvane running in the tray, with its index up to date and the hotkey "
                L"working.\nOFF: closing the window ends Orvane.\nTakes effect immediately.");
    CreateCheck(L"Hide hidden files", 1, 8, 3, 156, kSetHideHidden, s.hideHidden,
                L"ON: files and folders marked hidden are left out of results.\nOFF: they show like any other.\nTakes "
                L"effect immediately.");
    CreateCheck(L"Hide system files", 1, 8, 28, 156, kSetHideSystem, s.hideSystem,
                L"ON: files and folders marked as system files are left out of results.\nOFF: they show like any "
                L"other.\nTakes effect immediately.");
    CreateCheck(L"Show matches in bold", 1, 8, 53, 156, kSetHighlight, s.highlight,
                L"ON: the parts of each name that match your search are shown in bold.\nOFF: names are shown "
                L"plainly.\nTakes effect immediately.");
    CreateLabeledCombo(2, L"Hotkey", kSetHotkey, kHotkeyItems, 6, static_cast<int>(s.hotkey),
                       L"The key combination that brings Orvane to the front from anywhere, with the search box ready "
                       L"to type in. None: no hotkey.\nTakes effect immediately.");
    CreateLabeledCombo(27, L"Sizes", kSetSizeFormat, kSizeItems, 3, static_cast<int>(s.sizeFormat),
                       L"How the Size column shows sizes.\nAutomatic: KB, MB or GB, whichever reads best.\nAlways KB: "
                       L"every size in KB.\nExact bytes: to the byte.\nTakes effect immediately.");
    CreateLabeledCombo(52, L"Threads", kSetThreads, kThreadItems, kThreadRowCount, ThreadRowOf(s.searchThreads),
                       L"How many processor threads each search may use. All is fastest; fewer leaves more of the PC "
                       L"to other programs while you type.\nTakes effect immediately.");
    CreateCheck(L"Index USB drives too", 3, 8, 3, 164, kSetIncludeRemovable, s.includeRemovable,
                L"ON: USB sticks and other removable drives are indexed too, as soon as they are plugged in.\nOFF: "
                L"only fixed drives and added folders are indexed.\nTakes effect immediately.");
    HWND excluded =
        CreateRibbonControl(L"BUTTON", L"Excluded folders…", WS_TABSTOP, 3, 8, 30, 150, 24, kSetExcludedFolders);
    AddControlTooltip(excluded,
                      L"Choose folders whose contents never show in results. Nothing is deleted.\nTakes effect "
                      L"immediately.");
    CreateCheck(L"Check automatically", 4, 8, 3, 144, kSetAutoUpdate, s.autoUpdate,
                L"ON: Orvane checks for a newer version every 6 hours and offers it in a bar above the results.\nOFF: "
                L"only when you click Help > Check for Updates.\nTakes effect immediately.");
}

// Tooltips of the ribbon's own tooltip window: buttons, then tabs, then the badge.
void AddTool(int id, const RibbonBox& box, const wchar_t* text) {
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = gRibbon;
    tool.uId = static_cast<UINT_PTR>(id);
    tool.rect = ToRect(box);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(gState.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void RebuildTools() {
    if (!gState.tooltip) return;
    for (int id = 1; id <= gState.toolCount; ++id) {
        TTTOOLINFOW tool = {};
        tool.cbSize = sizeof tool;
        tool.hwnd = gRibbon;
        tool.uId = static_cast<UINT_PTR>(id);
        SendMessageW(gState.tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    const RibbonGeometry& g = gState.geometry;
    int id = 0;
    for (int b = 0; b < g.buttonCount; ++b) AddTool(++id, g.buttons[b], g.items[b]->tooltip);
    for (int t = 0; t < g.tabCount; ++t) AddTool(++id, g.tabs[t], kRibbonTabs[t].tooltip);
    AddTool(++id, g.badge, kBadgeTooltip);
    gState.toolCount = id;
}

void PlaceControls() {
    const RibbonGeometry& g = gState.geometry;
    const bool settings = gState.activeTab == kSettingsTab;
    for (int i = 0; i < gState.controlCount; ++i) {
        const RibbonControl& c = gState.controls[i];
        if (settings && c.group < g.groupCount) {
            SetWindowPos(c.window, nullptr, g.groups[c.group].left + Dip(c.x), Dip(30) + Dip(c.y), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            ShowWindow(c.window, SW_SHOWNA);
        } else {
            ShowWindow(c.window, SW_HIDE);
        }
    }
}

// Painting -------------------------------------------------------------------

HDC BackBuffer(HDC windowDc, int width, int height) {
    if (gState.backDc && gState.backWidth == width && gState.backHeight == height) return gState.backDc;
    if (gState.backDc) {
        SelectObject(gState.backDc, gState.backPrevious);
        DeleteObject(gState.backBitmap);
        DeleteDC(gState.backDc);
    }
    gState.backDc = CreateCompatibleDC(windowDc);
    gState.backBitmap = CreateCompatibleBitmap(windowDc, std::max(width, 1), std::max(height, 1));
    gState.backPrevious = SelectObject(gState.backDc, gState.backBitmap);
    gState.backWidth = width;
    gState.backHeight = height;
    SetBkMode(gState.backDc, TRANSPARENT);
    return gState.backDc;
}

bool Touches(const RibbonBox& box, const RECT& area) {
    return box.left < area.right && box.right > area.left && box.top < area.bottom && box.bottom > area.top;
}

void DrawLabel(HDC dc, const wchar_t* text, RECT rect, UINT format, COLORREF color) {
    SetTextColor(dc, color);
    DrawTextW(dc, text, -1, &rect, format | DT_NOPREFIX);
}

void PaintTabs(HDC dc, const RECT& area) {
    const RibbonGeometry& g = gState.geometry;
    for (int t = 0; t < g.tabCount; ++t) {
        const RibbonBox& tab = g.tabs[t];
        if (!Touches({tab.left, tab.top, tab.right, tab.bottom + 1}, area)) continue;
        const bool active = t == gState.activeTab;
        if (active) {
            FillSolid(dc, tab.left, tab.top, tab.right, tab.bottom + 1, kWhite);
            FillSolid(dc, tab.left, tab.top, tab.left + 1, tab.bottom, kLineColor);
            FillSolid(dc, tab.left, tab.top, tab.right, tab.top + 1, kLineColor);
            FillSolid(dc, tab.right - 1, tab.top, tab.right, tab.bottom, kLineColor);
            FillSolid(dc, tab.left + Dip(10), tab.bottom - Dip(3), tab.right - Dip(10), tab.bottom - Dip(1), kAccent);
        } else if (t == gState.hotTab) {
            FillSolid(dc, tab.left, tab.top, tab.right, tab.bottom - 1, kHotTabColor);
        }
        SelectObject(dc, active ? gFontEmphasis : gFontUi);
        DrawLabel(dc, kRibbonTabs[t].name, ToRect(tab), DT_SINGLELINE | DT_VCENTER | DT_CENTER,
                  active ? kAccent : kTabText);
    }
    SelectObject(dc, gFontUi);
    if (Touches(g.badge, area)) {
        if (gState.badgeHot) DrawRoundBox(dc, ToRect(g.badge), kHoverFill, kHoverBorder);
        DrawLabel(dc, gState.badgeText.c_str(), ToRect(g.badge), DT_SINGLELINE | DT_VCENTER | DT_CENTER, kBadgeText);
    }
}

void PaintButton(HDC dc, int b) {
    const RibbonBox& box = gState.geometry.buttons[b];
    const RibbonItem& item = *gState.geometry.items[b];
    const bool enabled = ButtonEnabled(item.command);
    const bool on = ButtonSwitchedOn(item.command);
    const RECT rect = ToRect(box);
    if (b == gState.hotButton && enabled) {
        if (b == gState.pressed || on) {
            DrawRoundBox(dc, rect, kOnFill, kAccent);
        } else {
            DrawRoundBox(dc, rect, kHoverFill, kHoverBorder);
        }
    } else if (on) {
        DrawRoundBox(dc, rect, kOnFill, kOnFill);
    }
    const IconStrip& strip = gIconStrip32;
    if (strip.dc && item.icon >= 0) {
        const int s = strip.size;
        const BLENDFUNCTION blend = {AC_SRC_OVER, 0, static_cast<BYTE>(enabled ? 255 : 80), AC_SRC_ALPHA};
        AlphaBlend(dc, (box.left + box.right - s) / 2, box.top + Dip(5), s, s, strip.dc, item.icon * s, 0, s, s, blend);
    }
    DrawLabel(dc, item.label, {box.left + Dip(2), box.top + Dip(40), box.right - Dip(2), box.bottom},
              DT_WORDBREAK | DT_CENTER, enabled ? kLabelText : kDisabledText);
}

void PaintRibbon(HWND window) {
    PAINTSTRUCT paint;
    HDC windowDc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    HDC dc = BackBuffer(windowDc, client.right, client.bottom);
    const RECT& area = paint.rcPaint;
    HRGN clip = CreateRectRgnIndirect(&area);
    SelectClipRgn(dc, clip);
    DeleteObject(clip);

    const int tabRow = Dip(30);
    FillSolid(dc, 0, 0, client.right, tabRow, kTabRowColor);
    FillSolid(dc, 0, tabRow, client.right, client.bottom, kWhite);
    FillSolid(dc, 0, tabRow - 1, client.right, tabRow, kLineColor);
    FillSolid(dc, 0, client.bottom - 1, client.right, client.bottom, kLineColor);
    PaintTabs(dc, area);

    const RibbonGeometry& g = gState.geometry;
    SelectObject(dc, gFontUi);
    for (int i = 0; i < g.groupCount; ++i) {
        const RibbonBox& group = g.groups[i];
        const RibbonBox caption = {group.left, group.bottom - Dip(20), group.right, group.bottom - Dip(3)};
        if (Touches(caption, area)) {
            DrawLabel(dc, g.groupDefs[i]->caption, ToRect(caption), DT_SINGLELINE | DT_VCENTER | DT_CENTER,
                      kCaptionText);
        }
        FillSolid(dc, group.right, group.top + Dip(8), group.right + 1, group.bottom - Dip(6), kLineColor);
    }
    for (int b = 0; b < g.buttonCount; ++b) {
        if (Touches(g.buttons[b], area)) PaintButton(dc, b);
    }
    SelectClipRgn(dc, nullptr);
    BitBlt(windowDc, area.left, area.top, area.right - area.left, area.bottom - area.top, dc, area.left, area.top,
           SRCCOPY);
    EndPaint(window, &paint);
}

// Mouse ----------------------------------------------------------------------

void OnMouseMove(int x, int y) {
    const RibbonGeometry& g = gState.geometry;
    const int button = RibbonHit(g.buttons, g.buttonCount, x, y);
    const int tab = RibbonHit(g.tabs, g.tabCount, x, y);
    const bool badge = g.badge.Contains(x, y);
    if (button != gState.hotButton) {
        if (gState.hotButton >= 0) Invalidate(g.buttons[gState.hotButton]);
        if (button >= 0) Invalidate(g.buttons[button]);
        gState.hotButton = button;
    }
    if (tab != gState.hotTab) {
        if (gState.hotTab >= 0) Invalidate(g.tabs[gState.hotTab]);
        if (tab >= 0) Invalidate(g.tabs[tab]);
        gState.hotTab = tab;
    }
    if (badge != gState.badgeHot) {
        Invalidate(g.badge);
        gState.badgeHot = badge;
    }
    if (!gState.tracking) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, gRibbon, 0};
        gState.tracking = TrackMouseEvent(&track) != FALSE;
    }
}

void OnMouseLeave() {
    gState.tracking = false;
    gState.hotButton = -1;
    gState.hotTab = -1;
    gState.badgeHot = false;
    InvalidateRect(gRibbon, nullptr, FALSE);
}

void SelectTab(int tab) {
    if (tab == gState.activeTab || tab < 0 || tab >= kRibbonTabCount) return;
    gState.activeTab = tab;
    gState.hotButton = -1;
    gState.pressed = -1;
    LayoutRibbon();
}

void OnButtonDown(int x, int y) {
    const RibbonGeometry& g = gState.geometry;
    const int tab = RibbonHit(g.tabs, g.tabCount, x, y);
    if (tab >= 0 && tab != gState.activeTab) {
        SelectTab(tab);
        return;
    }
    if (g.badge.Contains(x, y)) {
        SendCommand(kCmdAbout);
        return;
    }
    const int button = RibbonHit(g.buttons, g.buttonCount, x, y);
    if (button >= 0 && ButtonEnabled(g.items[button]->command)) {
        gState.pressed = button;
        SetCapture(gRibbon);
        Invalidate(g.buttons[button]);
        return;
    }
    gState.pressed = -1;
}

void OnButtonUp(int x, int y) {
    const RibbonGeometry& g = gState.geometry;
    const int pressed = gState.pressed;
    gState.pressed = -1;
    if (GetCapture() == gRibbon) ReleaseCapture();
    if (pressed < 0) return;
    Invalidate(g.buttons[pressed]);
    if (RibbonHit(g.buttons, g.buttonCount, x, y) == pressed) SendCommand(g.items[pressed]->command);
}

bool OnWheel(WPARAM wParam, LPARAM lParam) {
    POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ScreenToClient(gRibbon, &point);
    RECT client;
    GetClientRect(gRibbon, &client);
    if (point.y < 0 || point.y >= client.bottom) return false;
    const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
    SelectTab(gState.activeTab + (delta > 0 ? -1 : 1));
    return true;
}

// Icon strip -----------------------------------------------------------------

template <typename T>
void Release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

}  // namespace

IWICBitmapSource* IconStripSource(IWICImagingFactory* factory, IWICBitmapSource* frame, UINT width, UINT height) {
    IWICFormatConverter* converter = nullptr;
    IWICBitmapScaler* scaler = nullptr;
    // Premultiplied before scaling: scaling straight colours mixes the colour of
    // transparent pixels into the edges and leaves dark fringes.
    const bool ok = factory && frame && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
                    SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                                    nullptr, 0.0, WICBitmapPaletteTypeCustom)) &&
                    SUCCEEDED(factory->CreateBitmapScaler(&scaler)) &&
                    SUCCEEDED(scaler->Initialize(converter, width, height, WICBitmapInterpolationModeFant));
    Release(converter);
    if (!ok) Release(scaler);
    return scaler;
}

bool DecodeIconStrip(const void* png, size_t bytes, int size, IconStrip& strip) {
    strip = {};
    if (!png || bytes == 0 || bytes > 0x7FFFFFFF || size <= 0 || size > 1024) return false;
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    bool ok = false;
    UINT w = 0;
    UINT h = 0;
    UINT count = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(
            stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(png)), static_cast<DWORD>(bytes))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetSize(&w, &h))) {
        count = h == 0 ? 0 : w / h;
    }
    IWICBitmapSource* pixels = nullptr;
    if (count > 0 && count <= 1024) pixels = IconStripSource(factory, frame, count * size, size);
    if (pixels) {
        const int width = static_cast<int>(count) * size;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -size;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        const UINT stride = static_cast<UINT>(width) * 4;
        if (bitmap && bits && SUCCEEDED(pixels->CopyPixels(nullptr, stride, stride * size, static_cast<BYTE*>(bits)))) {
            GdiFlush();
            HDC dc = CreateCompatibleDC(nullptr);
            if (dc) {
                strip.dc = dc;
                strip.bitmap = bitmap;
                strip.previous = SelectObject(dc, bitmap);
                strip.size = size;
                ok = true;
            }
        }
        if (!ok && bitmap) DeleteObject(bitmap);
    }
    Release(pixels);
    Release(frame);
    Release(decoder);
    Release(stream);
    Release(factory);
    return ok;
}

void LoadIconStrip(IconStrip& strip, int size) {
    strip = {};
    HRSRC found = FindResourceW(gInstance, MAKEINTRESOURCEW(IDR_ICON_STRIP), MAKEINTRESOURCEW(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(gInstance, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || !DecodeIconStrip(bytes, SizeofResource(gInstance, found), size, strip)) {
        Log(L"The button icons could not be loaded; buttons show their labels only");
    }
}

void DrawRoundBox(HDC dc, const RECT& rect, COLORREF fill, COLORREF border) {
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
    SetDCPenColor(dc, border);
    SetDCBrushColor(dc, fill);
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, Dip(6), Dip(6));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void CreateRibbon() {
    gState = {};
    gState.whiteBrush = CreateSolidBrush(kWhite);
    gState.badgeText = FormatString(L"Orvane v%ls%ls", kVersionText, Elevated() ? L"  •  Administrator" : L"");
    gRibbon = CreateWindowExW(WS_EX_CONTROLPARENT, L"OVRibbon", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0,
                              Dip(30) + Dip(98) + 1, gMain, nullptr, gInstance, nullptr);
    if (!gRibbon) return;
    gState.tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                     0, 0, 0, 0, gRibbon, nullptr, gInstance, nullptr);
    if (gState.tooltip) {
        SendMessageW(gState.tooltip, TTM_SETMAXTIPWIDTH, 0, Dip(440));
        SendMessageW(gState.tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 32000);
        SendMessageW(gState.tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, 450);
    }
    CreateSettingsControls();
    LayoutRibbon();
}

void LayoutRibbon() {
    if (!gRibbon) return;
    RECT client;
    GetClientRect(gRibbon, &client);
    HDC dc = GetDC(gRibbon);
    HGDIOBJ old = SelectObject(dc, gFontUi);
    const RibbonTextWidth measure = [dc](const wchar_t* text, int length) {
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text, length, &extent);
        return static_cast<int>(extent.cx);
    };
    gState.geometry = LayoutRibbonGeometry(kRibbonTabs, kRibbonTabCount, gState.activeTab, client.right, gDpi,
                                           gState.badgeText.c_str(), measure);
    SelectObject(dc, old);
    ReleaseDC(gRibbon, dc);
    PlaceControls();
    RebuildTools();
    InvalidateRect(gRibbon, nullptr, FALSE);
}

LRESULT CALLBACK RibbonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const int x = static_cast<short>(LOWORD(lParam));
    const int y = static_cast<short>(HIWORD(lParam));
    switch (message) {
        case WM_SIZE:
            LayoutRibbon();
            return 0;
        case WM_PAINT:
            PaintRibbon(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_COMMAND:
        case WM_NOTIFY:
            return SendMessageW(GetParent(window), message, wParam, lParam);
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, kWhite);
            SetTextColor(dc, kLabelText);
            return reinterpret_cast<LRESULT>(gState.whiteBrush);
        }
        case WM_MOUSEMOVE:
            if (gRibbon) OnMouseMove(x, y);
            return 0;
        case WM_MOUSELEAVE:
            if (gRibbon) OnMouseLeave();
            return 0;
        case WM_LBUTTONDOWN:
            if (gRibbon) OnButtonDown(x, y);
            return 0;
        case WM_LBUTTONUP:
            if (gRibbon) OnButtonUp(x, y);
            return 0;
        case WM_MOUSEWHEEL:
            if (gRibbon && OnWheel(wParam, lParam)) return 0;
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateRibbonControl(const wchar_t* className, const wchar_t* text, DWORD style, int group, int x, int y, int width,
                         int height, int id) {
    if (!gRibbon) return nullptr;
    HWND control = CreateWindowExW(0, className, text, style | WS_CHILD, 0, 0, Dip(width), Dip(height), gRibbon,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    if (!control) return nullptr;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(gFontUi), FALSE);
    if (gState.controlCount < kMaxControls) gState.controls[gState.controlCount++] = {control, group, x, y};
    return control;
}

HWND CreateLabeledCombo(int y, const wchar_t* label, int id, const wchar_t* const* items, int count, int selected,
                        const wchar_t* tooltip) {
    constexpr int kGroup = 2;  // "Keys, sizes & speed"
    HWND text = CreateRibbonControl(L"STATIC", label, SS_NOTIFY | SS_CENTERIMAGE, kGroup, 8, y, 56, 23, 0);
    HWND list =
        CreateRibbonControl(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kGroup, 64, y, 136, 220, id);
    if (!list) return nullptr;
    for (int i = 0; i < count; ++i) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
    SendMessageW(list, CB_SETCURSEL, selected, 0);
    if (text) AddControlTooltip(text, tooltip);
    AddControlTooltip(list, tooltip);
    return list;
}

const RibbonGeometry& RibbonLayoutForTesting() {
    return gState.geometry;
}

int ActiveRibbonTab() {
    return gState.activeTab;
}
