// Folder change notifications are not part of this build: returning with
// neither stop nor rescan set tells the volume thread the volume cannot be
// watched, and it keeps what was scanned until it is started again.
#include "engine/engine.h"

namespace ov {

void Engine::Watch(Volume* volume) {}

}  // namespace ov
