// A second start hands its request to the running copy and ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/single_instance.h"
#include "index/text.h"
#include "tests/app/harness/dialog_answerer.h"
#include "tests/app/harness/orvane_fixture.h"

namespace ov::gui {
namespace {

class SingleInstance : public OrvaneTest {
protected:
    // Runs a second copy to its end; its exit code.
    DWORD RunSecond(const std::wstring& arguments) {
        Program second;
        EXPECT_TRUE(second.Start(OrvanePath(), arguments));
        DWORD code = 12345;
        EXPECT_TRUE(second.WaitForExit(kStartMs, &code));
        return code;
    }
};

TEST_F(SingleInstance, SearchTextsArriveExactly) {
    ASSERT_NE(Start(), nullptr);
    // A hand-off to a copy too busy to answer within 3 s is given up, as it should be: start from a quiet copy.
    ASSERT_TRUE(WaitUntilUpToDate()) << "the status bar reads: " << StatusBarSeen(StatusBar());
    std::wstring longText;
    for (int i = 0; longText.size() < 30000; ++i) longText += (i % 7 == 0) ? L"\\\"q\" " : L"abcdefgh ";
    longText.resize(30000);
    const std::wstring texts[] = {
        L"ends in a backslash\\",         L"C:\\Program Files\\", L"say \"hi\" \\\"there\\\\\"",
        L"two  blanks  \"and a phrase\"", L"\\\\server\\share\\", longText,
    };
    for (const std::wstring& text : texts) {
        EXPECT_EQ(RunSecond(L"/search " + QuoteArgument(text)), 0u);
        EXPECT_TRUE(WaitUntil([&] { return WindowText(SearchBox()) == text; }, Patient(5000)))
            << "arrived: " << WindowText(SearchBox()).size() << " of " << text.size()
            << " characters; the status bar reads: " << StatusBarSeen(StatusBar());
    }
    EXPECT_TRUE(Visible(main));
}

TEST_F(SingleInstance, TrayShowAndWrongCaseSwitches) {
    ASSERT_NE(Start(L"/tray"), nullptr);
    EXPECT_FALSE(Visible(main));
    // "/tray" changes nothing visible; a switch in another case is no switch, so
    // that start (like one without arguments) asks for the window.
    EXPECT_EQ(RunSecond(L"/tray"), 0u);
    Sleep(500);
    EXPECT_FALSE(Visible(main));
    EXPECT_EQ(RunSecond(L"/Tray"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Visible(main); }, Patient(5000)));
    ShowWindow(main, SW_HIDE);
    EXPECT_EQ(RunSecond(L""), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Visible(main); }, Patient(5000)));
    // "/search" without a value hands over "/show" and keeps the text.
    SetWindowTextW(SearchBox(), L"kept");
    EXPECT_EQ(RunSecond(L"/search"), 0u);
    EXPECT_EQ(WindowText(SearchBox()), L"kept");
}

TEST_F(SingleInstance, WrongCaseTrayStartsVisible) {
    ASSERT_NE(Start(L"/TRAY"), nullptr);
    EXPECT_TRUE(Visible(main));
}

TEST_F(SingleInstance, BadCopyDataChangesNothing) {
    ASSERT_NE(Start(L"/tray"), nullptr);
    const std::wstring text = L"/search changed";
    const std::wstring tooLong = L"/search " + std::wstring(32800, L'x');  // over 65535 bytes
    struct Case {
        ULONG_PTR tag;
        const std::wstring* text;
        DWORD bytes;
    } cases[] = {
        {244, &text, static_cast<DWORD>(text.size() * 2)},
        {245, &tooLong, static_cast<DWORD>(tooLong.size() * 2)},
        {0, &text, static_cast<DWORD>(text.size() * 2)},
    };
    for (const Case& c : cases) {
        COPYDATASTRUCT data = {c.tag, c.bytes, const_cast<wchar_t*>(c.text->data())};
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                                        &result));
        EXPECT_EQ(result, static_cast<DWORD_PTR>(TRUE));
        EXPECT_EQ(WindowText(SearchBox()), L"");
        EXPECT_FALSE(Visible(main));
    }
}

TEST_F(SingleInstance, TakeoverStartsOnceTheRunningCopyHasExited) {
    ASSERT_NE(Start(), nullptr);
    Program second;
    ASSERT_TRUE(second.Start(OrvanePath(), L"/takeover /search " + QuoteArgument(L"new copy")));
    Sleep(1500);
    EXPECT_TRUE(second.Running());
    ASSERT_TRUE(ExitOrvane());
    HWND secondMain = second.WaitForWindow(L"OrvaneMain", kStartMs);
    ASSERT_NE(secondMain, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(ChildById(secondMain, 480)) == L"new copy"; }, Patient(5000)));
    EXPECT_TRUE(second.Exit(secondMain, kExitMs));
}

// Copies started together, none running yet: exactly one stays, the others
// hand it their text and end with 0.
TEST_F(SingleInstance, CopiesStartedTogetherLeaveOne) {
    constexpr int kCopies = 20;
    std::vector<std::unique_ptr<Program>> copies;
    std::vector<std::wstring> texts;
    for (int i = 0; i < kCopies; ++i) {
        texts.push_back(L"copy " + std::to_wstring(i));
        copies.push_back(std::make_unique<Program>());
        ASSERT_TRUE(copies.back()->Start(OrvanePath(), L"/search " + QuoteArgument(texts.back())));
    }
    // Everyone but the one that runs ends; it is the one with the window.
    int running = -1;
    std::wstring seen;
    const bool settled = WaitUntil(
        [&] {
            int alive = 0;
            for (int i = 0; i < kCopies; ++i) {
                if (copies[i]->Running()) {
                    ++alive;
                    running = i;
                }
            }
            seen = std::to_wstring(alive) + L" running";
            return alive == 1;
        },
        6 * kStartMs);
    ASSERT_TRUE(settled) << ToUtf8(seen);
    for (int i = 0; i < kCopies; ++i) {
        if (i == running) continue;
        DWORD code = 12345;
        EXPECT_TRUE(GetExitCodeProcess(copies[i]->Handle(), &code));
        EXPECT_EQ(code, 0u) << i;
    }
    main = copies[running]->WaitForWindow(L"OrvaneMain", kStartMs);
    ASSERT_NE(main, nullptr);
    int windows = 0;
    EnumWindows(
        [](HWND window, LPARAM count) {
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (std::wstring(name) == L"OrvaneMain") ++*reinterpret_cast<int*>(count);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    EXPECT_EQ(windows, 1);
    const std::wstring text = WindowText(SearchBox());
    EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << ToUtf8(text);
    EXPECT_TRUE(copies[running]->Exit(main, kExitMs));
    main = nullptr;
}

// A copy that owns the instance mutex but shows no window (waiting at its own
// elevation prompt): this start says its search was not passed on, and fails.
TEST(HandOff, ARunningCopyWithoutAWindowIsToldAboutAndFails) {
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([&] {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Keltrax.Orvane.Instance");
        SetEvent(held);
        WaitForSingleObject(done, INFINITE);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    ASSERT_EQ(WaitForSingleObject(held, Patient(30000)), WAIT_OBJECT_0);
    SetHandOffWaitForTesting(1000);
    CommandLine line;
    line.search = L"budget 2025";
    Answerer ok = Answerer::Pressing(IDOK);
    const HandOff handOff = HandOffToRunningCopy(line);
    ok.Stop();
    SetHandOffWaitForTesting(0);
    SetEvent(done);
    owner.join();
    CloseHandle(held);
    CloseHandle(done);
    EXPECT_EQ(handOff, HandOff::Lost);
    EXPECT_NE(kHandOffLostExitCode, 0);
    const std::vector<std::wstring> seen = ok.Seen();
    ASSERT_EQ(seen.size(), 1u) << Seen(seen);
    EXPECT_EQ(seen[0].rfind(L"Orvane | ", 0), 0u) << Seen(seen);  // the caption comes first
    EXPECT_NE(seen[0].find(L"couldn't be passed on"), std::wstring::npos) << Seen(seen);
    EXPECT_NE(seen[0].find(L"budget 2025"), std::wstring::npos) << Seen(seen);
}

}  // namespace
}  // namespace ov::gui
