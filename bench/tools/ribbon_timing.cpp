// Times the ribbon's painting with the real main window in this process, 1,400
// pixels wide: a full repaint of the Home tab, and the repaint after the mouse
// moves from one button to the next (only the two buttons are invalidated),
// beside the floor: the same repaint of a window that draws nothing.
// Each is run ROUNDS times; the median and the 90th percentile are printed.
//
//   ov_ribbon_timing [ROUNDS]
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "app/engine_host.h"
#include "app/icon_loader.h"
#include "app/ribbon.h"
#include "app/settings.h"
#include "app/startup.h"

namespace {

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Report(const char* name, int rounds, const std::function<void(int)>& once) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        once(i);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-22s rounds %5d  median %.3f ms  p90 %.3f ms\n", name, rounds, ms[ms.size() / 2],
                ms[ms.size() * 9 / 10]);
}

// The floor: a window whose painting only begins and ends.
LRESULT CALLBACK EmptyPaintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 500;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x40FF};
    InitCommonControlsEx(&controls);
    gInstance = GetModuleHandleW(nullptr);
    ReadSettings();
    CreateAppFonts();
    LoadIconStrip(gIconStrip32, Dip(32));
    if (!gIconStrip32.dc) std::printf("the icon strip did not load: icons are not drawn\n");
    RegisterWindowClasses();
    SetUpEngine();
    if (!CreateMainWindow(SW_SHOWNORMAL)) return 1;
    RECT window;
    RECT client;
    GetWindowRect(gMain, &window);
    GetClientRect(gMain, &client);
    SetWindowPos(gMain, nullptr, 0, 0, 1400 + (window.right - window.left) - client.right, 700, SWP_NOZORDER);
    Pump();
    GetClientRect(gRibbon, &client);
    std::printf("ribbon %ld x %ld px\n", client.right, client.bottom);

    Report("full paint", rounds, [](int) { RedrawWindow(gRibbon, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); });
    const RibbonGeometry& g = RibbonLayoutForTesting();
    const RibbonBox a = g.buttons[0];
    const RibbonBox b = g.buttons[1];
    Report("hover repaint", rounds, [&](int i) {
        const RibbonBox& to = i % 2 ? a : b;
        SendMessageW(gRibbon, WM_MOUSEMOVE, 0, MAKELPARAM((to.left + to.right) / 2, (to.top + to.bottom) / 2));
        UpdateWindow(gRibbon);
    });
    RegisterWindowClass(L"OVEmptyPaint", EmptyPaintProc, nullptr, nullptr);
    HWND empty = CreateWindowExW(0, L"OVEmptyPaint", L"", WS_CHILD | WS_VISIBLE, 0, client.bottom + 10, 400, 100, gMain,
                                 nullptr, gInstance, nullptr);
    Report("empty paint (floor)", rounds, [&](int) {
        const RECT part = {10, 10, 200, 80};
        InvalidateRect(empty, &part, FALSE);
        UpdateWindow(empty);
    });
    DestroyWindow(gMain);
    StopIconLoader();
    EndEngine();
    CoUninitialize();
    return 0;
}
