#include <windows.h>

#include <gtest/gtest.h>

#include <random>

#include "app/engine_host.h"
#include "index/index.h"
#include "index/search_worker.h"
#include "tests/support/index_reference.h"

namespace ov {
namespace {

HWND MessageWindow() {
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Pumps the calling thread's queue until WM_APP_RESULTS arrives; takes ownership.
std::unique_ptr<SearchResult> NextResult(HWND window, DWORD limitMs) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < limitMs) {
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_APP_RESULTS)
                return std::unique_ptr<SearchResult>(reinterpret_cast<SearchResult*>(msg.lParam));
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
    }
    return nullptr;
}

TEST(SearchResults, PostsResultsToTheWindow) {
    Index index;
    const uint32_t root = testing::AddNamed(index, kNoEntry, "C:", EntryFlags::Directory | EntryFlags::VolumeRoot);
    const uint32_t file = testing::AddNamed(index, root, "report.txt", 0);
    testing::AddNamed(index, root, "other.txt", 0);
    HWND window = MessageWindow();
    ASSERT_NE(window, nullptr);
    SearchRequest request;
    StartSearchWorker(request, index, ::PostResultsTo(window));
    const uint64_t sequence = RequestSearch(request, "report", {}, false, 0);
    auto result = NextResult(window, 30000);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->sequence, sequence);
    EXPECT_EQ(result->ids, std::vector<uint32_t>{file});

    // A window that is gone cannot take the record; the sink frees it and the
    // worker goes on.
    DestroyWindow(window);
    const uint64_t next = RequestSearch(request, "other", {}, false, 0);
    Sleep(200);
    StopSearchWorker(request);
    EXPECT_GT(next, sequence);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_APP_RESULTS, WM_APP_RESULTS, PM_REMOVE));
}

}  // namespace
}  // namespace ov
