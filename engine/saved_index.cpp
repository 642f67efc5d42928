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
namespace {

constexpr const char* kVolumesAlreadyIndexed = "the volumes are already being indexed";

}  // namespace

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
    // Parsing takes seconds at millions of entries; the volume list is held
    // only for the swap, so the window's commands that take it do not wait.
    std::string reason;
    LoadedIndex image;
    bool loaded = ReadSavedIndex(indexPath, image, reason);
    if (loaded && loadParsedForTesting) loadParsedForTesting();
    // The slot table is replaced whole, so no volume may have a thread yet.
    const auto noThreads = [this](std::string& why) {
        for (Volume* v : SlotVolumes()) {
            if (v->running || !v->threadEnded.load()) {
                why = kVolumesAlreadyIndexed;
                return false;
            }
        }
        return true;
    };
    loaded = loaded && InstallIndex(*this, image, owned, reason, nullptr, &volumesMutex, noThreads);
    if (loaded) return true;
    if (reason == kVolumesAlreadyIndexed) {
        Log(L"The saved index wasn't loaded: the volumes are already being indexed");
        return false;
    }
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
