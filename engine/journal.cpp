// The engine's side of the change journal: the drive, the status text, the
// live flag and the posted messages around following a volume's journal
// (journal_follow.h does the following).
#include <memory>

#include "engine/engine.h"
#include "engine/mft_scan.h"
#include "engine/wide_text.h"

namespace ov {

int Engine::Journal(Volume* volume) {
    uint32_t error = 0;
    const std::unique_ptr<JournalSource> drive =
        openJournalDrive ? openJournalDrive(MftDriveName(volume->root), error) : nullptr;
    if (!drive) return static_cast<int>(JournalEnd::RetryLater);
    const JournalCalls calls{drive->Control(), drive->Raw(),
                             [this, volume](uint32_t ms) { return WaitBeforeRetry(volume, ms); }};
    if (!JournalFollowable(calls.control, *volume)) return static_cast<int>(JournalEnd::ReadAgain);

    SetJournalLive(*this, *volume, true);
    // A fresh read's done text stays; a volume resumed from the saved index says it is current.
    if (PhaseOf(volume) != VolumePhase::Indexed)
        SetStatus(volume, VolumePhase::Live, Text(L"Up to date \u2014 watching for changes (NTFS change journal)"));
    PostVolumesChanged();

    RawVolume raw(calls.raw);
    JournalBatch batch;
    const JournalEnd end =
        FollowJournal(*this, *volume, calls, [&](const std::vector<UsnChange>& changes, uint64_t next) {
            return ApplyJournal(volume, changes, next, calls.control, raw, batch);
        });
    SetJournalLive(*this, *volume, false);
    PostVolumesChanged();
    return static_cast<int>(end);
}

BatchEnd Engine::ApplyJournal(Volume* volume, const std::vector<UsnChange>& changes, uint64_t next,
                              const DeviceControl& control, RawVolume& raw, JournalBatch& batch) {
    const BatchEnd end = ApplyJournalBatch(*this, *volume, changes, next, control, raw, batch);
    // A batch that asks for a full read changed nothing, unless memory ran out halfway.
    if (end == BatchEnd::Applied || end == BatchEnd::ReadAgain) PostIndexChanged();
    return end;
}

}  // namespace ov
