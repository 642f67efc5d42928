// Built so far: the ribbon window at its height, passing its controls'
// notifications to the main window. Still to come: tabs, buttons, icons and
// the Settings tab's controls.
#include "app/ribbon.h"

IconStrip gIconStrip32;
IconStrip gIconStrip20;

void LoadIconStrip(IconStrip& strip, int size) {
    strip = {};
}

void CreateRibbon() {
    gRibbon = CreateWindowExW(WS_EX_CONTROLPARENT, L"OVRibbon", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0,
                              Dip(30) + Dip(98) + 1, gMain, nullptr, gInstance, nullptr);
}

LRESULT CALLBACK RibbonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
            return SendMessageW(GetParent(window), message, wParam, lParam);
        case WM_ERASEBKGND: {
            RECT client;
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            return 1;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateRibbonControl(const wchar_t* className, const wchar_t* text, DWORD style, int group, int x, int y, int width,
                         int height, int id) {
    if (!gRibbon) return nullptr;
    HWND control = CreateWindowExW(0, className, text, style | WS_CHILD, 0, 0, Dip(width), Dip(height), gRibbon,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), gInstance, nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(gFontUi), FALSE);
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
