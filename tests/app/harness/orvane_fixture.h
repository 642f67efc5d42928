// A test fixture that runs Orvane.exe through the GUI harness: a clean settings
// key before each test, the program ended after it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/app/harness/gui_harness.h"

namespace ov::gui {

constexpr const wchar_t* kSettingsKey = L"Software\\Keltrax\\Orvane";
constexpr DWORD kStartMs = Patient(20000);
constexpr DWORD kExitMs = Patient(15000);

inline std::wstring OrvanePath() {
    return ProgramFolder() + L"\\Orvane.exe";
}

class OrvaneTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteRegistryKey(kSettingsKey); }

    void TearDown() override {
        if (main && program.Running()) program.Exit(main, kExitMs);
        program.Kill();
    }

    // Starts Orvane and waits for its main window; null when it did not come.
    HWND Start(const std::wstring& arguments = L"") {
        main = nullptr;
        if (!program.Start(OrvanePath(), arguments)) return nullptr;
        main = program.WaitForWindow(L"OrvaneMain", kStartMs);
        // The window is found while it is being created; its children come
        // with its creation (under Wine WaitForInputIdle returns at once).
        if (main) WaitForInputIdle(program.Handle(), kStartMs);
        if (main && !WaitUntil([&] { return StatusBar() && ChildById(main, 482); }, kStartMs)) main = nullptr;
        return main;
    }

    HWND SearchBox() const { return ChildById(main, 480); }
    HWND StatusBar() const { return ChildByClass(main, L"msctls_statusbar32"); }

    // Waits until every drive has had its first pass: the program is quiet then.
    bool WaitUntilUpToDate() const {
        return WaitUntil([&] { return StatusBarText(StatusBar(), 3).find(L"Up to date") != std::wstring::npos; },
                         kStartMs);
    }

    // Ends the running copy with its exit message; true when the process ended.
    bool ExitOrvane() {
        const bool ended = program.Exit(main, kExitMs);
        main = nullptr;
        return ended;
    }

    Program program;
    HWND main = nullptr;
};

}  // namespace ov::gui
