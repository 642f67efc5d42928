// Following a volume's NTFS change journal from its saved position: the checks
// that say whether it can be followed, the read loop with its pauses, and one
// batch applied to the index together with the position it moves the volume
// to. The engine's Journal and ApplyJournal only add status texts and posted
// messages; the drive and the stop event come in through JournalCalls.
//
// Locks: the index lock is taken exclusively only to apply a batch and to
// write the volume's live flag and next USN, which the saver reads under it
// held shared. Fetching runs without any lock. The volume's journal fields are
// written only by the volume's own thread, which therefore reads them unlocked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/dev.h"
#include "engine/drive_handle.h"
#include "engine/journal_batch.h"
#include "engine/usn_journal.h"
#include "engine/volume.h"
#include "index/index.h"

namespace ov {

// How following the journal ended; the values are Journal's results.
enum class JournalEnd : int { Stopped = 0, ReadAgain = 1, RetryLater = 2 };
// How one batch ended.
enum class BatchEnd { Applied, Stopped, ReadAgain, RetryLater };

constexpr uint32_t kJournalPollMs = 250;

// An open drive as the journal reaches it: its controls and raw reads, valid
// while the source lives.
class JournalSource {
public:
    virtual ~JournalSource() = default;
    virtual DeviceControl Control() const = 0;
    virtual DevFactory Raw() const = 0;
};

// Opens a drive ("C:") for the journal; null with the error code.
using JournalOpener = std::function<std::unique_ptr<JournalSource>(const WString& driveName, uint32_t& error)>;
// The real drive: "\\.\" + driveName.
std::unique_ptr<JournalSource> OpenJournalDrive(const WString& driveName, uint32_t& error);

struct JournalCalls {
    DeviceControl control;  // the drive's journal and file-record controls
    DevFactory raw;         // raw reads, for attribute lists outside their record
    // Waits up to ms on the volume's stop event; false when the thread must
    // stop (the event was signalled, or the wait failed).
    std::function<bool(uint32_t ms)> wait;
};

// The journal is the volume's (same id, not 0) and still holds its next USN.
bool JournalFollowable(const DeviceControl& control, const Volume& volume);

// A failed journal read: the journal is gone or was reset (read the drive
// again), or something worth retrying later.
JournalEnd JournalReadFailure(uint32_t error);

// Enough entries are deleted to be worth a compaction (index lock held).
bool JournalShouldCompact(const Index& index);

// Writes the volume's live flag under the exclusive index lock.
void SetJournalLive(Index& index, Volume& volume, bool live);

// Fetches one batch, then under the exclusive index lock applies it, moves the
// volume's next USN to next and compacts when JournalShouldCompact. Stopped
// (nothing applied, next USN unchanged) when the volume's stop flag was set
// during the fetches or is set once the lock is held; ReadAgain (next USN
// unchanged) when the batch could not be applied whole; RetryLater (nothing
// applied, next USN unchanged) when a record could not be fetched or memory
// ran out before anything was applied; ReadAgain, nothing applied, once the
// records of the batch at that USN could not be fetched six times in a row.
BatchEnd ApplyJournalBatch(Index& index, Volume& volume, const std::vector<UsnChange>& changes, uint64_t next,
                           const DeviceControl& control, RawVolume& raw, JournalBatch& batch);

// Reads the journal from the volume's next USN until stopped or it fails,
// handing every read that names records to applyBatch (which must move the
// next USN when it applied them) and moving the next USN itself after a read
// that named none. Waits kJournalPollMs after a read that filled less than
// half the buffer. Runs on the volume's thread.
using BatchApplier = std::function<BatchEnd(const std::vector<UsnChange>& changes, uint64_t next)>;
JournalEnd FollowJournal(Index& index, Volume& volume, const JournalCalls& calls, const BatchApplier& applyBatch);

}  // namespace ov
