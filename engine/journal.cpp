// Following the NTFS change journal is not part of this build: the volume keeps
// what was read, without live updates, until it is stopped.
#include "engine/engine.h"

namespace ov {

int Engine::Journal(Volume* volume) {
    volume->stopEvent->WaitFor(StopEvent::kForever);
    return 0;
}

}  // namespace ov
