// The ribbon in this process: the real main window over an engine holding a
// few entries, the ribbon driven by the mouse messages a user's clicks give,
// the main window's commands recorded instead of run. Colours are compared,
// never text widths (fonts are substituted under Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "app/command_ids.h"
#include "app/engine_host.h"
#include "app/icon_loader.h"
#include "app/results_list.h"
#include "app/ribbon.h"
#include "app/settings.h"
#include "app/startup.h"
#include "engine/engine.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/in_process_app.h"
#include "tests/support/index_reference.h"

namespace {

std::vector<uint32_t> gRows;
std::vector<int> gSent;  // command ids the main window received without a control
bool gRunCommands = false;
WNDPROC gMainProc = nullptr;

LRESULT CALLBACK RecordCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && lParam == 0) {
        gSent.push_back(LOWORD(wParam));
        if (!gRunCommands) return 0;
    }
    return CallWindowProcW(gMainProc, window, message, wParam, lParam);
}

int Luma(COLORREF c) {
    return (GetRValue(c) * 30 + GetGValue(c) * 59 + GetBValue(c) * 11) / 100;
}

POINT Centre(const RibbonBox& box) {
    return {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

class Ribbon : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ov::gui::SetUpAppInProcess();
        LoadIconStrip(gIconStrip32, Dip(32));
        {
            std::unique_lock<ov::SharedMutex> hold(gEngine->lock);
            using ov::testing::AddNamed;
            const uint32_t root =
                AddNamed(*gEngine, ov::kNoEntry, "C:", ov::EntryFlags::Directory | ov::EntryFlags::VolumeRoot);
            gRows = {AddNamed(*gEngine, root, "one.txt", 0, 10), AddNamed(*gEngine, root, "two.txt", 0, 20)};
        }
        ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
        SetForegroundWindow(gMain);
        gMainProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(gMain, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordCommands)));
        auto result = std::make_unique<ov::SearchResult>();
        result->ids = gRows;
        result->sequence = gShown.sequence + 1;
        result->epoch = gEngine->epoch;
        ApplyResults(std::move(result));
    }
    static void TearDownTestSuite() { StopIconLoader(); }

    void SetUp() override {
        gSent.clear();
        gRunCommands = false;
        Select(true);
        ClickTab(0);
    }

    static const RibbonGeometry& Geometry() { return RibbonLayoutForTesting(); }

    static void Select(bool on) { ListView_SetItemState(gResultsList, 0, on ? LVIS_SELECTED : 0, LVIS_SELECTED); }

    // A press at down and its release at up, client coordinates of the ribbon.
    static void Press(POINT down, POINT up) {
        SendMessageW(gRibbon, WM_MOUSEMOVE, 0, MAKELPARAM(down.x, down.y));
        SendMessageW(gRibbon, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(down.x, down.y));
        SendMessageW(gRibbon, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(up.x, up.y));
        SendMessageW(gRibbon, WM_LBUTTONUP, 0, MAKELPARAM(up.x, up.y));
    }
    static void Press(POINT at) { Press(at, at); }
    static void ClickTab(int tab) { Press(Centre(Geometry().tabs[tab])); }
    static int ButtonOf(int command) {
        for (int b = 0; b < Geometry().buttonCount; ++b) {
            if (Geometry().items[b]->command == command) return b;
        }
        return -1;
    }

    static void Wheel(int delta, POINT client) {
        ClientToScreen(gRibbon, &client);
        SendMessageW(gRibbon, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(client.x, client.y));
    }

    static COLORREF Pixel(int x, int y) {
        RedrawWindow(gRibbon, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC dc = GetDC(gRibbon);
        const COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(gRibbon, dc);
        return c;
    }

    // The darkest pixel of button b's icon square, and how many pixels are clearly coloured.
    static void IconInk(int b, int& darkest, int& coloured) {
        const RibbonBox& box = Geometry().buttons[b];
        RedrawWindow(gRibbon, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC dc = GetDC(gRibbon);
        darkest = 255;
        coloured = 0;
        const int s = gIconStrip32.size;
        const int left = (box.left + box.right - s) / 2;
        for (int y = box.top + Dip(5); y < box.top + Dip(5) + s; ++y) {
            for (int x = left; x < left + s; ++x) {
                const COLORREF c = GetPixel(dc, x, y);
                darkest = std::min(darkest, Luma(c));
                const int spread = std::max({GetRValue(c), GetGValue(c), GetBValue(c)}) -
                                   std::min({GetRValue(c), GetGValue(c), GetBValue(c)});
                if (spread > 80) ++coloured;
            }
        }
        ReleaseDC(gRibbon, dc);
    }

    // The ribbon's own tooltip window: the one that knows the ribbon's tool 1
    // (the shared one knows its controls by window).
    static HWND RibbonTooltip() {
        struct Find {
            HWND found = nullptr;
        } find;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM data) -> BOOL {
                wchar_t name[64] = {};
                GetClassNameW(window, name, 64);
                TTTOOLINFOW tool = {};
                tool.cbSize = sizeof tool;
                tool.hwnd = gRibbon;
                tool.uId = 1;
                if (lstrcmpiW(name, TOOLTIPS_CLASSW) == 0 &&
                    SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) {
                    reinterpret_cast<Find*>(data)->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&find));
        return find.found;
    }
};

TEST_F(Ribbon, EveryButtonSendsItsCommandOnReleaseOverIt) {
    ASSERT_NE(gIconStrip32.dc, nullptr) << "the icon strip did not decode";
    ASSERT_TRUE(EngineElevated());  // Wine's processes are
    for (int tab = 0; tab < kRibbonTabCount; ++tab) {
        ClickTab(tab);
        ASSERT_EQ(ActiveRibbonTab(), tab);
        for (int b = 0; b < Geometry().buttonCount; ++b) Press(Centre(Geometry().buttons[b]));
    }
    // Each of the 32 commands once, but Run as Admin: the program is elevated.
    std::vector<int> expected;
    for (int id = kCmdMatchCase; id <= kCmdAbout; ++id) {
        if (id != kCmdRunAsAdmin) expected.push_back(id);
    }
    std::vector<int> sent = gSent;
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, expected);

    // Not elevated, it restarts as administrator.
    ClickTab(2);
    gSent.clear();
    gEngine->elevated = false;
    Press(Centre(Geometry().buttons[ButtonOf(kCmdRunAsAdmin)]));
    gEngine->elevated = true;
    EXPECT_EQ(gSent, std::vector<int>{kCmdRunAsAdmin});

    // A press that ends off its button, on another button or below the ribbon, does nothing.
    ClickTab(0);
    gSent.clear();
    const POINT first = Centre(Geometry().buttons[0]);
    Press(first, {first.x, first.y + 100});
    Press(first, Centre(Geometry().buttons[1]));
    EXPECT_TRUE(gSent.empty());
    // The badge opens About.
    Press(Centre(Geometry().badge));
    EXPECT_EQ(gSent, std::vector<int>{kCmdAbout});
}

TEST_F(Ribbon, SelectionEnablesTheItemButtons) {
    const int open = ButtonOf(kCmdOpen);
    ASSERT_GE(open, 0);
    int darkest = 0;
    int coloured = 0;
    IconInk(open, darkest, coloured);
    EXPECT_LT(darkest, 140);
    EXPECT_GT(coloured, 20) << "no coloured icon pixels: the strip was not drawn";
    Select(false);
    int fadedDarkest = 0;
    IconInk(open, fadedDarkest, coloured);
    EXPECT_GT(fadedDarkest, 150) << "a disabled icon is faded";
    for (int command : {kCmdOpen, kCmdOpenFolder, kCmdCopyPath, kCmdProperties}) {
        Press(Centre(Geometry().buttons[ButtonOf(command)]));
    }
    EXPECT_TRUE(gSent.empty());
    Select(true);
    Press(Centre(Geometry().buttons[open]));
    EXPECT_EQ(gSent, std::vector<int>{kCmdOpen});
}

TEST_F(Ribbon, MatchCaseSwitchesAndShowsItsState) {
    const RibbonBox box = Geometry().buttons[ButtonOf(kCmdMatchCase)];
    const POINT fill = {box.left + Dip(3), box.top + Dip(20)};  // inside the box, beside the icon
    Press({box.right + 300, box.top - 1});                      // leave the button: not hot
    EXPECT_EQ(Pixel(fill.x, fill.y), RGB(255, 255, 255));
    gRunCommands = true;
    Press(Centre(box));
    DWORD stored = 0;
    ASSERT_TRUE(ov::gui::ReadRegistryDword(kSettingsKey, L"MatchCase", stored));
    EXPECT_EQ(stored, 1u);
    SendMessageW(gRibbon, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(Pixel(fill.x, fill.y), RGB(204, 228, 247)) << "switched on, not hovered";
    Press(Centre(box));
    ASSERT_TRUE(ov::gui::ReadRegistryDword(kSettingsKey, L"MatchCase", stored));
    EXPECT_EQ(stored, 0u);

    // The rows and the active tab's underline.
    const RibbonBox home = Geometry().tabs[0];
    EXPECT_EQ(Pixel(Dip(3), Dip(10)), RGB(243, 243, 243));
    EXPECT_EQ(Pixel((home.left + home.right) / 2, home.bottom - Dip(2)), RGB(0, 103, 192));
    RECT client;
    GetClientRect(gRibbon, &client);
    EXPECT_EQ(Pixel(client.right - 3, Dip(60)), RGB(255, 255, 255));
    EXPECT_EQ(Pixel(client.right - 3, client.bottom - 1), RGB(218, 218, 218));
}

TEST_F(Ribbon, WheelPagesTabsWithTheirToolsAndControls) {
    HWND tips = RibbonTooltip();
    ASSERT_NE(tips, nullptr);
    const int tools[kRibbonTabCount] = {16, 14, 12, 6, 14};  // buttons, 5 tabs and the badge
    HWND hideHidden = GetDlgItem(gRibbon, kSetHideHidden);
    ASSERT_NE(hideHidden, nullptr);
    const POINT inside = {Dip(300), Dip(60)};
    Wheel(WHEEL_DELTA, inside);
    EXPECT_EQ(ActiveRibbonTab(), 0);
    for (int tab = 0; tab < kRibbonTabCount + 2; ++tab) {
        const int shown = std::min(tab, kRibbonTabCount - 1);
        EXPECT_EQ(ActiveRibbonTab(), shown);
        EXPECT_EQ(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0), tools[shown]) << shown;
        for (int id = kSetRunAsAdmin; id <= kSetSizeFormat; ++id) {
            if (HWND control = GetDlgItem(gRibbon, id)) {
                EXPECT_EQ(IsWindowVisible(control) != 0, shown == 3) << id;
            }
        }
        Wheel(-WHEEL_DELTA, inside);
    }
    Wheel(-WHEEL_DELTA, {inside.x, Dip(200)});  // below the ribbon: nothing
    Wheel(WHEEL_DELTA, {inside.x, Dip(200)});
    EXPECT_EQ(ActiveRibbonTab(), kRibbonTabCount - 1);
    Wheel(WHEEL_DELTA, inside);
    EXPECT_EQ(ActiveRibbonTab(), 3);

    // The Settings tab's controls reach the settings.
    SendMessageW(hideHidden, BM_CLICK, 0, 0);
    DWORD stored = 0;
    ASSERT_TRUE(ov::gui::ReadRegistryDword(kSettingsKey, L"HideHidden", stored));
    EXPECT_EQ(stored, 1u);
    HWND threads = GetDlgItem(gRibbon, kSetThreads);
    SendMessageW(threads, CB_SETCURSEL, 3, 0);
    SendMessageW(gRibbon, WM_COMMAND, MAKEWPARAM(kSetThreads, CBN_SELCHANGE), reinterpret_cast<LPARAM>(threads));
    ASSERT_TRUE(ov::gui::ReadRegistryDword(kSettingsKey, L"SearchThreads", stored));
    EXPECT_EQ(stored, 4u);
}

// A PNG of count square icons of side pixels, RGBA rows as given; stored
// (uncompressed) deflate blocks, so the test needs no compressor.
std::vector<BYTE> MakePng(int width, int height, const std::vector<BYTE>& rgba) {
    auto crc = [](const BYTE* data, size_t size, uint32_t c = 0xFFFFFFFF) {
        for (size_t i = 0; i < size; ++i) {
            c ^= data[i];
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
        }
        return c;
    };
    std::vector<BYTE> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba.begin() + y * width * 4, rgba.begin() + (y + 1) * width * 4);
    }
    std::vector<BYTE> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (BYTE v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t at = 0; at < raw.size(); at += 65535) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.insert(z.end(), {BYTE(n), BYTE(n >> 8), BYTE(~n), BYTE(~n >> 8)});
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    }
    const uint32_t adler = (b << 16) | a;
    z.insert(z.end(), {BYTE(adler >> 24), BYTE(adler >> 16), BYTE(adler >> 8), BYTE(adler)});
    std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* kind, const std::vector<BYTE>& data) {
        const uint32_t n = static_cast<uint32_t>(data.size());
        png.insert(png.end(), {BYTE(n >> 24), BYTE(n >> 16), BYTE(n >> 8), BYTE(n)});
        std::vector<BYTE> body(kind, kind + 4);
        body.insert(body.end(), data.begin(), data.end());
        png.insert(png.end(), body.begin(), body.end());
        const uint32_t c = ~crc(body.data(), body.size());
        png.insert(png.end(), {BYTE(c >> 24), BYTE(c >> 16), BYTE(c >> 8), BYTE(c)});
    };
    const uint32_t w = width, h = height;
    chunk("IHDR", {BYTE(w >> 24), BYTE(w >> 16), BYTE(w >> 8), BYTE(w), BYTE(h >> 24), BYTE(h >> 16), BYTE(h >> 8),
                   BYTE(h), 8, 6, 0, 0, 0});
    chunk("IDAT", z);
    chunk("IEND", {});
    return png;
}

TEST(IconStripDecode, ScaledEdgesKeepTheirColour) {
    // Two icons: white discs with soft edges on transparent black. However an
    // icon is scaled, every pixel must stay premultiplied white: a colour
    // channel below its alpha is a dark fringe from the transparent black.
    constexpr int kSide = 64;
    std::vector<BYTE> rgba(2 * kSide * kSide * 4, 0);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < 2 * kSide; ++x) {
            const double d = std::hypot(x % kSide - 31.5, y - 31.5);
            const double alpha = std::clamp(24.0 - d, 0.0, 1.0) * (x < kSide ? 1.0 : 0.6);
            if (alpha <= 0) continue;
            BYTE* p = &rgba[(y * 2 * kSide + x) * 4];
            p[0] = p[1] = p[2] = 255;
            p[3] = static_cast<BYTE>(alpha * 255 + 0.5);
        }
    }
    const std::vector<BYTE> png = MakePng(2 * kSide, kSide, rgba);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (int size : {20, 32, 48}) {
        IconStrip strip;
        ASSERT_TRUE(DecodeIconStrip(png.data(), png.size(), size, strip)) << size;
        EXPECT_EQ(strip.size, size);
        DIBSECTION dib = {};
        ASSERT_EQ(GetObjectW(strip.bitmap, sizeof dib, &dib), static_cast<int>(sizeof dib));
        ASSERT_EQ(dib.dsBm.bmWidth, 2 * size);
        const BYTE* bits = static_cast<const BYTE*>(dib.dsBm.bmBits);
        int partial = 0;
        int fringe = 0;
        for (int i = 0; i < 2 * size * size; ++i) {
            const BYTE* p = bits + i * 4;
            if (p[3] > 0 && p[3] < 255) ++partial;
            for (int k = 0; k < 3; ++k) {
                if (std::abs(p[k] - p[3]) > 2) ++fringe;
            }
        }
        EXPECT_GT(partial, 0) << size;
        EXPECT_EQ(fringe, 0) << size;
        SelectObject(strip.dc, strip.previous);
        DeleteDC(strip.dc);
        DeleteObject(strip.bitmap);
    }
    IconStrip bad;
    const BYTE junk[] = {0x89, 'P', 'N', 'G', 1, 2, 3};
    EXPECT_FALSE(DecodeIconStrip(junk, sizeof junk, 32, bad));
    EXPECT_EQ(bad.dc, nullptr);
}

// Wine's scaler picks the nearest pixel whatever the mode, so there the test
// above cannot tell the two orders apart: the pipeline itself must scale the
// premultiplied pixels.
TEST(IconStripDecode, ScalingTakesPremultipliedPixels) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))));
    IWICBitmap* image = nullptr;
    ASSERT_TRUE(SUCCEEDED(factory->CreateBitmap(8, 4, GUID_WICPixelFormat32bppBGRA, WICBitmapCacheOnLoad, &image)));
    IWICBitmapSource* source = IconStripSource(factory, image, 4, 2);
    ASSERT_NE(source, nullptr);
    IWICBitmapScaler* scaler = nullptr;
    EXPECT_TRUE(SUCCEEDED(source->QueryInterface(IID_IWICBitmapScaler, reinterpret_cast<void**>(&scaler))))
        << "the last step must be the scaling";
    WICPixelFormatGUID format = {};
    EXPECT_TRUE(SUCCEEDED(source->GetPixelFormat(&format)));
    EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat32bppPBGRA));
    UINT w = 0, h = 0;
    source->GetSize(&w, &h);
    EXPECT_EQ(w, 4u);
    EXPECT_EQ(h, 2u);
    if (scaler) scaler->Release();
    source->Release();
    image->Release();
    factory->Release();
}

}  // namespace
