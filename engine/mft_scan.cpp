// The NTFS file-table route is not part of this build: the volume thread falls
// back to scanning the drive's folders.
#include "engine/engine.h"
#include "engine/wide_text.h"

namespace ov {

bool Engine::MftScan(Volume* volume) {
    SetStatus(volume, Text(L"Couldn't read the file table: not available in this build"));
    return false;
}

}  // namespace ov
