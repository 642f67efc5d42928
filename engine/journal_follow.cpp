#include "engine/journal_follow.h"

#include <mutex>
#include <new>
#include <shared_mutex>

namespace ov {
namespace {

constexpr uint64_t kCompactAfterDeleted = 50000;
// Batches whose records cannot be fetched, retried on the journal-error
// schedule (about half a minute), before the drive is read again.
constexpr uint32_t kFetchFailuresBeforeReadAgain = 6;

void MoveNextUsn(Index& index, Volume& volume, uint64_t next) {
    if (next == volume.nextUsn) return;
    std::unique_lock<SharedMutex> guard(index.lock);
    volume.nextUsn = next;
}

JournalEnd Follow(Index& index, Volume& volume, const JournalCalls& calls, const BatchApplier& applyBatch) {
    std::vector<uint8_t> answer(kJournalReadBytes, 0);
    std::vector<UsnChange> changes;
    while (!volume.stop.load()) {
        uint32_t returned = 0, error = 0;
        if (!ReadJournal(calls.control, volume.nextUsn, volume.journalId, answer.data(), kJournalReadBytes, returned,
                         error))
            return JournalReadFailure(error);
        changes.clear();
        uint64_t next = 0;
        if (ParseJournalRead(answer.data(), returned, next, changes)) {
            if (changes.empty()) {
                MoveNextUsn(index, volume, next);
            } else {
                const BatchEnd end = applyBatch(changes, next);
                if (end == BatchEnd::Stopped) return JournalEnd::Stopped;
                if (end == BatchEnd::ReadAgain) return JournalEnd::ReadAgain;
                if (end == BatchEnd::RetryLater) return JournalEnd::RetryLater;
            }
        }
        // A fuller answer means a burst: drain it without pausing.
        if (returned < kJournalReadBytes / 2 && !calls.wait(kJournalPollMs)) return JournalEnd::Stopped;
    }
    return JournalEnd::Stopped;
}

}  // namespace

bool JournalFollowable(const DeviceControl& control, const Volume& volume) {
    JournalData data;
    uint32_t error = 0;
    return volume.journalId != 0 && QueryJournal(control, data, error) && data.journalId == volume.journalId &&
           data.firstUsn <= volume.nextUsn && volume.nextUsn <= data.nextUsn;
}

std::unique_ptr<JournalSource> OpenJournalDrive(const WString& driveName, uint32_t& error) {
    class Drive final : public JournalSource {
    public:
        explicit Drive(const WString& name) : name(name) {}
        DeviceControl Control() const override { return handle.Control(); }
        DevFactory Raw() const override { return DriveDevFactory(name); }
        DriveHandle handle;
        WString name;
    };
    auto drive = std::make_unique<Drive>(driveName);
    if (!drive->handle.Open(driveName, DriveHandle::Access::Read, error)) return nullptr;
    return drive;
}

JournalEnd JournalReadFailure(uint32_t error) {
    switch (error) {
        case kErrorJournalEntryDeleted:
        case kErrorJournalDeleteInProgress:
        case kErrorJournalNotActive:
        case kErrorInvalidParameter:
            return JournalEnd::ReadAgain;
        default:
            return JournalEnd::RetryLater;
    }
}

bool JournalShouldCompact(const Index& index) {
    return index.deletedCount > kCompactAfterDeleted && index.deletedCount > index.entries.size() / 4;
}

void SetJournalLive(Index& index, Volume& volume, bool live) {
    std::unique_lock<SharedMutex> guard(index.lock);
    volume.live.store(live);
}

BatchEnd ApplyJournalBatch(Index& index, Volume& volume, const std::vector<UsnChange>& changes, uint64_t next,
                           const DeviceControl& control, RawVolume& raw, JournalBatch& batch) {
    try {
        switch (batch.Fetch(control, raw, changes, index, volume, volume.stop)) {
            case JournalBatch::Fetched::Stopped:
                return BatchEnd::Stopped;
            case JournalBatch::Fetched::Failed:
                // The drive may be going: nothing is known to have gone. A record
                // that keeps failing on a drive that still answers can only be
                // known from a full read.
                if (++volume.fetchFailures < kFetchFailuresBeforeReadAgain) return BatchEnd::RetryLater;
                volume.fetchFailures = 0;
                return BatchEnd::ReadAgain;
            case JournalBatch::Fetched::Done:
                volume.fetchFailures = 0;
                break;
        }
    } catch (const std::bad_alloc&) {
        return BatchEnd::RetryLater;
    } catch (const std::length_error&) {
        return BatchEnd::RetryLater;
    }
    std::unique_lock<SharedMutex> guard(index.lock);
    // A volume being removed may still have its thread running: its part of
    // the index is no longer its own to change.
    if (volume.stop.load()) return BatchEnd::Stopped;
    try {
        if (batch.Apply(index, volume) == JournalBatch::Applied::ReadAgain) return BatchEnd::ReadAgain;
        volume.nextUsn = next;
        if (JournalShouldCompact(index)) index.Compact();
    } catch (const std::bad_alloc&) {
        return BatchEnd::ReadAgain;
    } catch (const std::length_error&) {
        return BatchEnd::ReadAgain;
    }
    return BatchEnd::Applied;
}

JournalEnd FollowJournal(Index& index, Volume& volume, const JournalCalls& calls, const BatchApplier& applyBatch) {
    try {
        return Follow(index, volume, calls, applyBatch);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return JournalEnd::RetryLater;
}

}  // namespace ov
