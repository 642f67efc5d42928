// The administrator bar's icon as painted, read back from the bar in this
// process: a strip of our own whose every icon has its own colour shows which
// icon the bar draws and where.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "app/icon_loader.h"
#include "app/info_bars.h"
#include "app/main_window.h"
#include "app/ribbon.h"
#include "app/startup.h"
#include "tests/app/harness/gui_harness.h"
#include "tests/app/harness/in_process_app.h"

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

TEST(AdminBar, DrawsTheShieldOfTheStripAtItsPlace) {
    ov::gui::SetUpAppInProcess();
    gIconStrip20 = MakeStrip(Dip(20));
    ASSERT_NE(CreateMainWindow(SW_SHOWNORMAL), nullptr);
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
    // Without a strip the bar still paints, without the icon.
    const IconStrip loaded = gIconStrip20;
    gIconStrip20 = {};
    EXPECT_EQ(pixelAt(Dip(12) + size / 2, top + size / 2), bar);
    gIconStrip20 = loaded;
    StopIconLoader();  // the results list started it
}

}  // namespace
