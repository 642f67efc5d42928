// The saved index file is not part of this build: nothing is written or read,
// and every start indexes from scratch.
#include "engine/engine.h"

namespace ov {

bool Engine::SaveDb() {
    return false;
}

bool Engine::LoadDb() {
    return false;
}

}  // namespace ov
