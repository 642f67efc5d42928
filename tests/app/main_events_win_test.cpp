// The main window's handling of the engine's messages and its timers, in this
// process over a real engine whose volumes are never started.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "app/commands.h"
#include "app/engine_host.h"
#include "app/icon_loader.h"
#include "app/main_events.h"
#include "app/main_window.h"
#include "app/results_list.h"
#include "app/search_box.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/tray.h"
#include "engine/engine.h"
#include "index/text.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/in_process_app.h"

namespace {

uint64_t LastRequest() {
    std::lock_guard<std::mutex> hold(gSearch.mutex);
    return gSearch.lastSequence;
}

// Pumps messages until the last request number moves; the milliseconds that took, or -1.
double WaitForRequest(uint64_t after, DWORD limitMs) {
    const ULONGLONG start = GetTickCount64();
    ov::gui::WaitUntil([&] { return LastRequest() != after; }, limitMs);
    return LastRequest() != after ? static_cast<double>(GetTickCount64() - start) : -1;
}

void Pump(DWORD ms) {
    ov::gui::WaitUntil([] { return false; }, ms);
}

void ChangeIndex(bool newEpoch) {
    std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
    ++gEngine->changes;
    if (newEpoch) ++gEngine->epoch;
}

class MainEvents : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ov::gui::SetUpAppInProcess();
        ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
        StartSearching();
        // A first result, so the shown results carry the index's epoch.
        RequestSearch(false);
        ASSERT_TRUE(ov::gui::WaitUntil([] { return gShown.sequence == LastRequest(); }, ov::gui::Patient(5000)));
    }
    // The results list started the icon loader; a thread left running ends the process badly.
    static void TearDownTestSuite() { StopIconLoader(); }
};

TEST_F(MainEvents, TenChangesGiveOneSearchAfterTheLast) {
    ChangeIndex(false);
    const uint64_t before = LastRequest();
    // Handled in a row, without a pump between them that a busy machine could stretch past the timer.
    for (int i = 0; i < 10; ++i) SendMessageW(gMain, WM_APP_INDEX_CHANGED, 0, 0);
    EXPECT_EQ(LastRequest(), before);
    const double delay = WaitForRequest(before, ov::gui::Patient(3000));
    EXPECT_GE(delay, 200);
    EXPECT_LE(delay, ov::gui::Patient(1500));
    Pump(700);
    EXPECT_EQ(LastRequest(), before + 1);
}

TEST_F(MainEvents, ANewEpochSearchesAtOnce) {
    ChangeIndex(true);
    const uint64_t before = LastRequest();
    SendMessageW(gMain, WM_APP_INDEX_CHANGED, 0, 0);
    EXPECT_EQ(LastRequest(), before + 1) << "no search while the message was handled";
}

RECT StatusPart(int part) {
    RECT rect = {};
    SendMessageW(gStatusBar, SB_GETRECT, part, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// A search text that does not parse shows its whole error, examples and all,
// at the window's first size; the message part moves over and stays in view,
// and the parts go back when the text parses again.
TEST_F(MainEvents, ErrorTextsShowWhole) {
    RECT window;
    GetWindowRect(gMain, &window);
    ASSERT_EQ(window.right - window.left, Dip(1180)) << "the window is not at its first size";
    const RECT plain = StatusPart(2);
    HDC dc = GetDC(gStatusBar);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(gStatusBar, WM_GETFONT, 0, 0)));
    int borders[3] = {};
    SendMessageW(gStatusBar, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
    for (const wchar_t* search : {L"report size:>lots", L"dm:someday", L"regex:(unclosed"}) {
        SetWindowTextW(gSearchBox, search);
        ASSERT_TRUE(ov::gui::WaitUntil([] { return !gShown.error.empty() && gShown.sequence == LastRequest(); },
                                       ov::gui::Patient(5000)))
            << ov::gui::StatusBarSeen(gStatusBar);
        const std::wstring text = ov::gui::StatusBarText(gStatusBar, 2);
        ASSERT_NE(text.find(ov::ToWide(gShown.error)), std::wstring::npos) << ov::gui::StatusBarSeen(gStatusBar);
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        const RECT part = StatusPart(2);
        const RECT message = StatusPart(3);
        EXPECT_LE(extent.cx + 2 * borders[0], part.right - part.left) << ov::gui::StatusBarSeen(gStatusBar);
        EXPECT_GE(message.left, part.right);
        EXPECT_GE(message.right - message.left, Dip(100)) << ov::gui::StatusBarSeen(gStatusBar);
    }
    ReleaseDC(gStatusBar, dc);
    SetWindowTextW(gSearchBox, L"");
    ASSERT_TRUE(ov::gui::WaitUntil([] { return gShown.error.empty() && gShown.sequence == LastRequest(); },
                                   ov::gui::Patient(5000)));
    const RECT back = StatusPart(2);
    EXPECT_EQ(back.right - back.left, plain.right - plain.left);
}

// A search that could not be finished takes the rows of the last answer away
// and says so where the timing goes.
TEST_F(MainEvents, AFailedSearchSaysSoAndShowsNoRows) {
    auto post = [](bool failed) {
        auto result = std::make_unique<ov::SearchResult>();
        result->sequence = gShown.sequence;  // applied as the newest
        result->epoch = gShown.epoch;
        result->failed = failed;
        if (!failed) result->ids = {0, 1, 2};
        SendMessageW(gMain, ov::WM_APP_RESULTS, 0, reinterpret_cast<LPARAM>(result.release()));
    };
    post(false);
    ASSERT_EQ(ListView_GetItemCount(gResultsList), 3);
    post(true);
    EXPECT_EQ(ListView_GetItemCount(gResultsList), 0);
    EXPECT_EQ(ov::gui::StatusBarText(gStatusBar, 2), L"  The search couldn't be finished: there wasn't enough memory.")
        << ov::gui::StatusBarSeen(gStatusBar);
    // A real answer puts the timing back.
    RequestSearch(false);
    ASSERT_TRUE(ov::gui::WaitUntil([] { return gShown.sequence == LastRequest() && gShown.error.empty(); },
                                   ov::gui::Patient(5000)))
        << ov::gui::StatusBarSeen(gStatusBar);
    EXPECT_NE(ov::gui::StatusBarText(gStatusBar, 2).find(L" ms"), std::wstring::npos)
        << ov::gui::StatusBarSeen(gStatusBar);
}

// A notification area that is not up yet (the first two adds are refused).
std::vector<std::wstring> gTrayCalls;
bool gTrayIconThere = false;

BOOL WINAPI LateTray(DWORD message, PNOTIFYICONDATAW data) {
    const bool up = std::count(gTrayCalls.begin(), gTrayCalls.end(), L"add") >= 2;
    gTrayCalls.push_back(message == NIM_ADD ? L"add" : message == NIM_MODIFY ? L"modify" : L"delete");
    if (data->hWnd != gMain) return FALSE;
    if (message == NIM_ADD && up && !gTrayIconThere) {
        gTrayIconThere = true;
        return TRUE;
    }
    if (message == NIM_DELETE && gTrayIconThere) {
        gTrayIconThere = false;
        return TRUE;
    }
    return message == NIM_MODIFY && gTrayIconThere;
}

std::string Calls(const std::vector<std::wstring>& calls) {
    std::string text;
    for (const std::wstring& call : calls) text += ov::ToUtf8(call) + " ";
    return text;
}

TEST_F(MainEvents, ARefusedTrayIconIsTriedAgainUntilItIsThere) {
    RemoveTrayIcon();
    SetTrayCallForTesting(LateTray);
    AddTrayIcon();
    EXPECT_FALSE(gTrayIconThere);
    EXPECT_TRUE(ov::gui::WaitUntil([] { return gTrayIconThere; }, ov::gui::Patient(10000))) << Calls(gTrayCalls);
    const size_t calls = gTrayCalls.size();
    Pump(3000);  // past the next tick: the tries have ended
    EXPECT_EQ(gTrayCalls.size(), calls) << Calls(gTrayCalls);
    RemoveTrayIcon();
    EXPECT_FALSE(gTrayIconThere);
    SetTrayCallForTesting(nullptr);
    AddTrayIcon();
}

// Around the save at the session's end Windows is given the reason to wait.
std::vector<std::wstring> gBlockCalls;

BOOL WINAPI RecordBlock(HWND window, LPCWSTR reason) {
    gBlockCalls.push_back(std::wstring(L"set ") + reason + (gEnding ? L" after" : L" before") + L" the save" +
                          (window == gMain ? L"" : L" on another window"));
    return TRUE;
}

BOOL WINAPI RecordUnblock(HWND window) {
    gBlockCalls.push_back(std::wstring(L"removed") + (gEnding ? L" after" : L" before") + L" the save" +
                          (window == gMain ? L"" : L" on another window"));
    return TRUE;
}

// After log-off was announced the index is saved and everything stopped; the
// window lives on until Windows ends the process, and no timer or message may
// start engine work again.
TEST_F(MainEvents, NothingRestartsAfterTheSessionEnds) {
    gIndexLoaded = true;
    SetShutdownBlockForTesting(RecordBlock, RecordUnblock);
    SendMessageW(gMain, WM_ENDSESSION, TRUE, 0);
    SetShutdownBlockForTesting(nullptr, nullptr);
    ASSERT_TRUE(gEnding);
    EXPECT_EQ(gBlockCalls,
              (std::vector<std::wstring>{L"set Saving the index\u2026 before the save", L"removed after the save"}));
    ChangeIndex(false);
    PostMessageW(gMain, WM_APP_INDEX_CHANGED, 0, 0);
    PostMessageW(gMain, WM_DEVICECHANGE, 0x8000, 0);
    for (UINT_PTR timer : {kTimerDevices, kTimerSave, kTimerRefresh}) SendMessageW(gMain, WM_TIMER, timer, 0);
    Pump(2500);
    EXPECT_FALSE(gSaveThread.joinable());
    std::shared_lock<ov::SharedMutex> hold(gEngine->lock);
    EXPECT_TRUE(gEngine->volumes.empty());
}

}  // namespace
