// The main window in this process: the info bars as laid out when they come or
// go while the window is hidden, the administrator bar as painted (a strip of
// our own whose every icon has its own colour shows which icon the bar draws
// and where), what the window lets through for Explorer's restart, and the
// speed test's table in a font whose characters are all as wide.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "app/command_ids.h"
#include "app/icon_loader.h"
#include "app/info_bars.h"
#include "app/main_window.h"
#include "app/ribbon.h"
#include "app/startup.h"
#include "app/tray.h"
#include "engine/engine.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/in_process_app.h"
#include "update/update_manifest.h"

namespace {

// Opaque icon i in the colour (i, 255 - i, 128), premultiplied as a loaded strip is.
IconStrip MakeStrip(int size) {
    IconStrip strip;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 32 * size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    strip.bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* pixels = static_cast<uint32_t*>(bits);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < 32 * size; ++x) {
            const uint32_t i = static_cast<uint32_t>(x / size);
            pixels[y * 32 * size + x] = 0xFF000000u | (i << 16) | ((255 - i) << 8) | 128;
        }
    }
    strip.dc = CreateCompatibleDC(nullptr);
    strip.previous = SelectObject(strip.dc, strip.bitmap);
    strip.size = size;
    return strip;
}

// The window's client area as 0xAARRGGBB pixels, row by row.
std::vector<uint32_t> Capture(HWND window, const RECT& client) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    HDC dc = GetDC(window);
    BitBlt(memory, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> copy(pixels, pixels + static_cast<size_t>(client.right) * client.bottom);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return copy;
}

// What the window asked to let through from lower integrity levels.
std::vector<UINT> gLetThrough;

BOOL WINAPI RecordFilter(HWND window, UINT message, DWORD action, PCHANGEFILTERSTRUCT status) {
    if (action == MSGFLT_ALLOW) gLetThrough.push_back(message);
    return ChangeWindowMessageFilterEx(window, message, action, status);
}

class MainHere : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ov::gui::SetUpAppInProcess();
        SetMessageFilterForTesting(RecordFilter);
        ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
    }
    static void TearDownTestSuite() { StopIconLoader(); }  // the results list started it

    // A child's rectangle in the main window's client coordinates.
    static RECT Placed(HWND child) {
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, gMain, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    // The engine has one NTFS drive and is elevated or not.
    static void SetDrive(bool elevated) {
        std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
        if (!gEngine->VolumeAt(0)) {
            std::vector<std::unique_ptr<ov::Volume>> slots;
            slots.push_back(std::make_unique<ov::Volume>());
            slots[0]->root = L"C:\\";
            slots[0]->name = L"C:";
            slots[0]->fileSystem = L"NTFS";
            gEngine->ReplaceVolumes(std::move(slots));
        }
        gEngine->elevated = elevated;
    }
};

// Closed to the tray, the update check and the volumes report while nothing is
// shown; a second start brings the window back.
TEST_F(MainHere, BarsThatComeOrGoWhileTheWindowIsHiddenHaveTheirPlaceWhenItComesBack) {
    auto hideThenShow = [](const std::function<void()>& meanwhile) {
        SendMessageW(gMain, WM_CLOSE, 0, 0);
        ASSERT_FALSE(IsWindowVisible(gMain));
        meanwhile();
        const std::wstring show = L"/show";
        COPYDATASTRUCT data = {kHandOffTag, static_cast<DWORD>(show.size() * sizeof(wchar_t)),
                               const_cast<wchar_t*>(show.c_str())};
        SendMessageW(gMain, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        ASSERT_TRUE(IsWindowVisible(gMain));
    };
    struct Bar {
        HWND window;
        int height;
        std::vector<std::pair<int, int>> buttons;  // id, width, from the right
    };
    const Bar update = {gUpdateBar, 44, {{492, 104}, {491, 104}, {490, 104}}};
    const Bar admin = {gAdminBar, 48, {{494, 80}, {493, 220}}};
    auto expectLaidOut = [&](bool updateShown, bool adminShown) {
        RECT client;
        GetClientRect(gMain, &client);
        int y = Placed(gRibbon).bottom;
        for (const auto& [bar, shown] : {std::pair{update, updateShown}, std::pair{admin, adminShown}}) {
            EXPECT_EQ(IsWindowVisible(bar.window) != FALSE, shown) << bar.height;
            if (!shown) continue;
            const RECT placed = Placed(bar.window);
            EXPECT_TRUE(placed.left == 0 && placed.top == y && placed.right == client.right &&
                        placed.bottom == y + Dip(bar.height))
                << "bar of " << bar.height << " DIP at " << placed.left << "," << placed.top << "," << placed.right
                << "," << placed.bottom << ", wanted below " << y << " across " << client.right;
            int right = placed.right - Dip(10);
            for (const auto& [id, width] : bar.buttons) {
                const RECT button = Placed(GetDlgItem(bar.window, id));
                EXPECT_TRUE(button.right == right && button.right - button.left == Dip(width) &&
                            button.bottom - button.top == Dip(28))
                    << "button " << id << " at " << button.left << "," << button.top << "," << button.right << ","
                    << button.bottom;
                right -= Dip(width) + Dip(6);
            }
            y += Dip(bar.height);
        }
        EXPECT_EQ(Placed(gSearchBox).top, y + Dip(6));
    };

    ShowWindow(gMain, SW_SHOWNORMAL);
    hideThenShow([] {
        auto info = std::make_unique<UpdateInfo>();
        info->ok = 1;
        wcscpy(info->version, L"9.0.0");
        SendMessageW(gMain, WM_APP_UPDATE_RESULT, 0, reinterpret_cast<LPARAM>(info.release()));
        SetDrive(false);
        SendMessageW(gMain, WM_APP_VOLUMES_CHANGED, 0, 0);
    });
    expectLaidOut(true, true);
    // Elevated now: the administrator bar goes while nothing shows.
    hideThenShow([] {
        SetDrive(true);
        SendMessageW(gMain, WM_APP_VOLUMES_CHANGED, 0, 0);
    });
    expectLaidOut(true, false);
    RunCommand(kCmdUpdateLater);
    expectLaidOut(false, false);
}

TEST_F(MainHere, TheAdminBarDrawsTheShieldOfTheStripAndCentresItsText) {
    const IconStrip loaded = gIconStrip20;
    gIconStrip20 = MakeStrip(Dip(20));
    ShowWindow(gMain, SW_SHOWNORMAL);
    SetForegroundWindow(gMain);
    ShowWindow(gAdminBar, SW_SHOW);
    LayoutMainWindow();
    RECT client;
    GetClientRect(gAdminBar, &client);
    const int size = gIconStrip20.size;
    const int top = (client.bottom - size) / 2;
    auto pixelAt = [&](int x, int y) {
        RedrawWindow(gAdminBar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        HDC dc = GetDC(gAdminBar);
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(gAdminBar, dc);
        return c;
    };
    const COLORREF bar = RGB(255, 243, 205);
    const COLORREF shield = RGB(21, 255 - 21, 128);
    struct Probe {
        int x, y;
        COLORREF expected;
    } probes[] = {{Dip(12), top, shield},
                  {Dip(12) + size - 1, top + size - 1, shield},
                  {Dip(12) - 1, top + size / 2, bar},
                  {Dip(12) + size, top + size / 2, bar},
                  {Dip(12) + size / 2, top - 1, bar},
                  {Dip(12) + size / 2, top + size, bar}};
    for (const Probe& p : probes) {
        EXPECT_EQ(pixelAt(p.x, p.y), p.expected) << p.x << "," << p.y;
    }

    // The text's lines, from the first row with ink to the last, sit in the
    // middle of the bar's height (a glyph's ink is a little off its line box).
    RedrawWindow(gAdminBar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    const std::vector<uint32_t> shown = Capture(gAdminBar, client);
    const uint32_t barPixel = 0xFF000000u | (GetRValue(bar) << 16) | (GetGValue(bar) << 8) | GetBValue(bar);
    int firstInk = -1;
    int lastInk = -1;
    for (int y = 0; y < client.bottom; ++y) {
        const uint32_t* row = shown.data() + static_cast<size_t>(y) * client.right;
        if (std::any_of(row + Dip(42), row + client.right - Dip(330),
                        [&](uint32_t pixel) { return (pixel | 0xFF000000u) != barPixel; })) {
            if (firstInk < 0) firstInk = y;
            lastInk = y;
        }
    }
    ASSERT_GE(firstInk, 0) << "no text drawn";
    EXPECT_LE(std::abs(firstInk + lastInk - client.bottom), Dip(6))
        << "ink from row " << firstInk << " to " << lastInk << " in a bar of " << client.bottom;

    // Without a strip the bar still paints, without the icon.
    gIconStrip20 = {};
    EXPECT_EQ(pixelAt(Dip(12) + size / 2, top + size / 2), bar);
    gIconStrip20 = loaded;
    ShowWindow(gAdminBar, SW_HIDE);
    LayoutMainWindow();
}

// An elevated copy hears Explorer's restart only when it let the message
// through; Wine enforces no integrity levels, so the asking is what is seen.
TEST_F(MainHere, ExplorersRestartIsLetThroughAndAddsTheIconAgainWithoutANewOne) {
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    for (UINT message : {static_cast<UINT>(WM_COPYDATA), static_cast<UINT>(WM_APP_EXIT), taskbarCreated}) {
        EXPECT_NE(std::find(gLetThrough.begin(), gLetThrough.end(), message), gLetThrough.end()) << message;
    }
    const HICON icon = TrayIconForTesting();
    ASSERT_NE(icon, nullptr);
    for (int i = 0; i < 3; ++i) SendMessageW(gMain, taskbarCreated, 0, 0);
    RegisterGlobalHotkey();  // adds the icon again for its tip
    EXPECT_EQ(TrayIconForTesting(), icon);
    ICONINFO info = {};
    EXPECT_TRUE(GetIconInfo(TrayIconForTesting(), &info));
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
}

// The table's columns line up only when every character is as wide; other texts keep the interface font.
TEST_F(MainHere, TheSpeedTableShowsInAFixedWidthFontOtherTextsInTheInterfaceFont) {
    auto shownPitch = [](int command, HFONT* font) {
        RunCommand(command);
        HWND edit = gNotesWindow ? GetDlgItem(gNotesWindow, 100) : nullptr;
        *font = edit ? reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)) : nullptr;
        TEXTMETRICW metrics = {};
        HDC dc = GetDC(nullptr);
        HGDIOBJ previous = SelectObject(dc, *font);
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, previous);
        ReleaseDC(nullptr, dc);
        // Set when the font is proportional (the flag's name says the opposite).
        return (metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) != 0;
    };
    HFONT font = nullptr;
    EXPECT_FALSE(shownPitch(kCmdSpeedTest, &font)) << "the speed test's text is in a proportional font";
    EXPECT_NE(font, nullptr);
    EXPECT_TRUE(shownPitch(kCmdReleaseNotes, &font));
    EXPECT_EQ(font, gFontUi);
    if (gNotesWindow) DestroyWindow(gNotesWindow);
}

}  // namespace
