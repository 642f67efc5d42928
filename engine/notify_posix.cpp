#include "engine/notify.h"

namespace ov {

void PostNotify(WindowHandle window, uint32_t message) {
    static_cast<NotifyTarget*>(window)->Posted(message);
}

// Natively nothing runs elevated and nothing is saved.
bool ProcessIsElevated() {
    return false;
}

WString SavedIndexPath() {
    return {};
}

}  // namespace ov
