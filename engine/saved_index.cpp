// The engine's saved index: the whole index written to indexPath at a save and
// at a stop with saving, read back at start-up before the volumes are refreshed
// (see index_file.h for the file and its rules).
#include <mutex>
#include <shared_mutex>

#include "engine/engine.h"
#include "engine/index_file.h"
#include "engine/wide_text.h"
#include "index/text.h"

namespace ov {

bool Engine::SaveDb() {
    if (indexPath.empty()) return false;
    std::string reason;
    if (ov::SaveDb(
            *this, indexPath, saveMutex, [this] { PostIndexChanged(); }, reason))
        return true;
    Log(L"Couldn't save the index: %ls", Arg(ToWide(reason)).c_str());
    return false;
}

bool Engine::LoadDb() {
    if (indexPath.empty()) return false;
    // The slot table is replaced whole, so no volume may have a thread yet.
    std::lock_guard<std::mutex> guard(volumesMutex);
    for (Volume* v : SlotVolumes()) {
        if (v->running || !v->threadEnded.load()) {
            Log(L"The saved index wasn't loaded: the volumes are already being indexed");
            return false;
        }
    }
    std::string reason;
    if (ov::LoadDb(*this, indexPath, owned, reason)) return true;
    const WString why = ToWide(reason);
    Log(L"Couldn't load the saved index: %ls", Arg(why).c_str());
    if (reason != kNoSavedIndexYet) {
        std::lock_guard<std::mutex> hold(statusMutex);
        savedIndexProblem =
            Text(L"The saved index couldn't be used (") + why + Text(L"), so the drives are read again.");
    }
    return false;
}

WString Engine::SavedIndexProblem() {
    std::lock_guard<std::mutex> hold(statusMutex);
    return savedIndexProblem;
}

}  // namespace ov
