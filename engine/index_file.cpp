#include "engine/index_file.h"

#include <new>
#include <shared_mutex>
#include <stdexcept>

#include "engine/atomic_file.h"
#include "index/text.h"

namespace ov {
namespace {

WString TempPathOf(const WString& path) {
    WString temp = path;
    for (char c : {'.', 't', 'm', 'p'}) temp.push_back(static_cast<WChar>(c));
    return temp;
}

// The exclusive lock is taken only when there is something to compact: taking
// it would make searches wait.
bool CompactIfNeeded(Index& index, std::string& reason, SaveTimes& times) {
    {
        std::shared_lock<SharedMutex> hold(index.lock);
        if (index.deletedCount == 0 && index.garbageBytes == 0) return true;
    }
    try {
        std::unique_lock<SharedMutex> hold(index.lock);
        const double start = NowMs();
        if (index.deletedCount != 0 || index.garbageBytes != 0) index.Compact();
        times.exclusiveMs = NowMs() - start;
    } catch (const std::bad_alloc&) {
        reason = "not enough memory to compact the index";
        return false;
    } catch (const std::length_error&) {
        reason = "not enough memory to compact the index";
        return false;
    }
    return true;
}

}  // namespace

bool SaveDb(Index& index, const WString& path, std::mutex& saveMutex, const std::function<void()>& indexChanged,
            std::string& reason, SaveTimes* times) {
    if (path.empty()) {
        reason = "there is no place for the saved index";
        return false;
    }
    SaveTimes local;
    SaveTimes& t = times ? *times : local;
    std::lock_guard<std::mutex> serial(saveMutex);
    const double start = NowMs();
    const WString temp = TempPathOf(path);
    OutputFile file;
    std::string error;
    if (!file.Create(temp, error)) {
        reason = "the temporary file: " + error;
        return false;
    }
    bool ok = CompactIfNeeded(index, reason, t);
    if (ok && indexChanged) indexChanged();
    ok = ok && WriteIndexFile(index, file, reason, &t);
    if (!ok && !file.WriteError().empty()) reason = "the temporary file: " + file.WriteError();
    const double flushing = NowMs();
    if (ok && !file.FlushAndClose(error)) {
        reason = "the temporary file: " + error;
        ok = false;
    }
    file.Close();
    const double moving = NowMs();
    t.flushMs = moving - flushing;
    if (ok && !MoveOver(temp, path, error)) {
        reason = error;
        ok = false;
    }
    t.moveMs = NowMs() - moving;
    // A temporary file left behind would only take up room until the next save.
    if (!ok) RemoveFile(temp);
    t.totalMs = NowMs() - start;
    return ok;
}

bool ReadSavedIndex(const WString& path, LoadedIndex& image, std::string& reason, LoadTimes* times) {
    if (path.empty()) {
        reason = "there is no place for the saved index";
        return false;
    }
    LoadTimes local;
    LoadTimes& t = times ? *times : local;
    const double start = NowMs();
    InputFile file;
    std::string error;
    switch (file.Open(path, error)) {
        case InputFile::Opened::Yes:
            break;
        case InputFile::Opened::Missing:
            reason = kNoSavedIndexYet;
            return false;
        case InputFile::Opened::Failed:
            reason = error;
            return false;
    }
    t.bytes = file.Size();
    if (!ReadIndexFile(file, image, reason)) return false;
    file.Close();
    t.readMs = NowMs() - start;
    return true;
}

bool LoadDb(Index& index, const WString& path, std::vector<std::unique_ptr<Volume>>& owner, std::string& reason,
            LoadTimes* times) {
    LoadTimes local;
    LoadTimes& t = times ? *times : local;
    const double start = NowMs();
    LoadedIndex image;
    if (!ReadSavedIndex(path, image, reason, &t)) return false;
    const bool installed = InstallIndex(index, image, owner, reason, &t);
    t.totalMs = NowMs() - start;
    return installed;
}

}  // namespace ov
