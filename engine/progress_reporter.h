// The progress of a volume's first pass: a thread that sets the volume's
// status every period from what `text` says while the folder scan or the
// file-table read runs, until Finish or until `halted` says the pass stopped.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/engine.h"

namespace ov {

class ProgressReporter {
public:
    // Without a thread (none could be made) the pass runs without progress texts.
    ProgressReporter(Engine& engine, Volume* volume, VolumePhase phase, uint32_t periodMs,
                     std::function<WString()> text, std::function<bool()> halted);
    ~ProgressReporter();
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    // Wakes and joins the thread: no text is set once it returned.
    void Finish();

private:
    std::mutex mutex;  // guards finished
    std::condition_variable wake;
    bool finished = false;
    std::thread thread;
};

}  // namespace ov
