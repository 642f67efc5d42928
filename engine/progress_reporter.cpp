#include "engine/progress_reporter.h"

#include <chrono>

namespace ov {

ProgressReporter::ProgressReporter(Engine& engine, Volume* volume, VolumePhase phase, uint32_t periodMs,
                                   std::function<WString()> text, std::function<bool()> halted) {
    try {
        thread =
            std::thread([this, &engine, volume, phase, periodMs, text = std::move(text), halted = std::move(halted)] {
                std::unique_lock<std::mutex> guard(mutex);
                while (!wake.wait_for(guard, std::chrono::milliseconds(periodMs), [this] { return finished; })) {
                    if (halted()) break;
                    guard.unlock();
                    engine.SetStatus(volume, phase, text());
                    guard.lock();
                }
            });
    } catch (const std::exception&) {
        // No progress texts; the pass itself goes on.
    }
}

ProgressReporter::~ProgressReporter() {
    Finish();
}

void ProgressReporter::Finish() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        finished = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
}

}  // namespace ov
