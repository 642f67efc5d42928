#include "app/row_icon_cache.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "app/window_kit.h"

HIMAGELIST gSystemImages = nullptr;
int gSmallIconHeight = 16;

namespace {

constexpr int kSlotsAcross = 16;

// The slots are squares of one bitmap selected into a memory DC for good.
struct Cache {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    HIMAGELIST images = nullptr;  // what it was drawn from, at which dpi and size
    int dpi = 0;
    int iconHeight = 0;
    int width = 0;  // of one slot
    int height = 0;
    std::unordered_map<uint64_t, int> slots;  // icon, colour and fading -> slot
};
Cache gCache;

// The icon as rows showed it before it was kept: the icon's own handle drawn
// at the small icon size, or faded from the list.
void DrawIconDirect(HDC dc, int index, int x, int y, bool faded) {
    HICON icon = faded ? nullptr : ImageList_GetIcon(gSystemImages, index, ILD_TRANSPARENT);
    if (icon) {
        DrawIconEx(dc, x, y, icon, gSmallIconHeight, gSmallIconHeight, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
    } else {
        ImageList_Draw(gSystemImages, index, dc, x, y, ILD_TRANSPARENT | (faded ? ILD_BLEND25 : 0));
    }
}

bool Current() {
    return gCache.dc && gCache.images == gSystemImages && gCache.dpi == gDpi && gCache.iconHeight == gSmallIconHeight;
}

// A bitmap in the format of the rows' DC, so a copy is a plain copy.
bool Build(HDC target) {
    ResetRowIcons();
    int cx = 0;
    int cy = 0;
    if (!ImageList_GetIconSize(gSystemImages, &cx, &cy)) return false;
    const int width = std::max(cx, gSmallIconHeight);
    const int height = std::max(cy, gSmallIconHeight);
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap =
        dc ? CreateCompatibleBitmap(target, width * kSlotsAcross, height * (kRowIconSlots / kSlotsAcross)) : nullptr;
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        return false;
    }
    gCache.dc = dc;
    gCache.bitmap = bitmap;
    gCache.oldBitmap = SelectObject(dc, bitmap);
    gCache.images = gSystemImages;
    gCache.dpi = gDpi;
    gCache.iconHeight = gSmallIconHeight;
    gCache.width = width;
    gCache.height = height;
    return true;
}

POINT SlotCorner(int slot) {
    return {(slot % kSlotsAcross) * gCache.width, (slot / kSlotsAcross) * gCache.height};
}

// The slot holding the icon on this colour, drawn now when it is new.
int Slot(int index, COLORREF background, bool faded) {
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(index)) << 32) |
                         (static_cast<uint64_t>(background & 0xFFFFFF) << 1) | (faded ? 1 : 0);
    const auto known = gCache.slots.find(key);
    if (known != gCache.slots.end()) return known->second;
    if (gCache.slots.size() >= static_cast<size_t>(kRowIconSlots)) gCache.slots.clear();
    const int slot = static_cast<int>(gCache.slots.size());
    const POINT corner = SlotCorner(slot);
    const RECT square = {corner.x, corner.y, corner.x + gCache.width, corner.y + gCache.height};
    SetDCBrushColor(gCache.dc, background);
    FillRect(gCache.dc, &square, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    DrawIconDirect(gCache.dc, index, corner.x, corner.y, faded);
    gCache.slots.emplace(key, slot);
    return slot;
}

}  // namespace

void DrawRowIcon(HDC dc, int index, int x, int y, COLORREF background, bool faded) {
    if (index < 0 || !gSystemImages) return;
    if (!Current() && !Build(dc)) {
        DrawIconDirect(dc, index, x, y, faded);  // no bitmap to spare: the slow way
        return;
    }
    try {
        const POINT corner = SlotCorner(Slot(index, background, faded));
        BitBlt(dc, x, y, gCache.width, gCache.height, gCache.dc, corner.x, corner.y, SRCCOPY);
    } catch (const std::bad_alloc&) {
        DrawIconDirect(dc, index, x, y, faded);
    }
}

void ResetRowIcons() {
    if (gCache.dc) {
        SelectObject(gCache.dc, gCache.oldBitmap);
        DeleteDC(gCache.dc);
    }
    if (gCache.bitmap) DeleteObject(gCache.bitmap);
    gCache = Cache();
}

void ReadSystemImageList() {
    SHFILEINFOW info = {};
    gSystemImages = reinterpret_cast<HIMAGELIST>(
        SHGetFileInfoW(L"C:\\", 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    int width = 0;
    int height = 0;
    if (gSystemImages && ImageList_GetIconSize(gSystemImages, &width, &height) && height > 0) {
        gSmallIconHeight = height;
    }
}
