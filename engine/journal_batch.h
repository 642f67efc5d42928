// One batch of the change journal: every changed FILE record fetched once
// with its extension records and parsed, then reconciled with the index in an
// order that does not depend on the order of the journal records.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/dev.h"
#include "engine/drive_handle.h"
#include "engine/mft_layout.h"
#include "engine/usn_journal.h"
#include "index/file_record.h"
#include "index/index.h"
#include "index/volume_maps.h"

namespace ov {

// Raw reads of the drive for attribute lists too long to stay in their record;
// the device is opened on first use and kept for later batches.
class RawVolume {
public:
    explicit RawVolume(DevFactory factory) : factory(std::move(factory)) {}
    // Reads a non-resident attribute's whole value. False when the drive cannot
    // be opened or read or the attribute's runs make no sense.
    bool ReadValue(const Attribute& attr, std::unique_ptr<VirtualBuffer>& value);

private:
    DevFactory factory;
    std::unique_ptr<Dev> dev;
    MftRuns layout;
    bool tried = false;
};

// One distinct changed record of a batch.
struct JournalItem {
    uint32_t record = 0;
    bool present = false;  // in use, a base record, and parsed
    // The journal named the record with another sequence number than it has
    // now: it was freed and holds another file, whose names are new entries.
    bool reused = false;
    FileRec info;
    uint32_t firstRow = 0;  // its name rows: rows[firstRow, firstRow + rowCount)
    uint32_t rowCount = 0;
};

class JournalBatch {
public:
    enum class Fetched { Done, Stopped, Failed };
    enum class Applied { Done, ReadAgain };

    // Fetches and parses each distinct record of changes once, with its
    // extension records (records 0-23 other than the root are NTFS metadata
    // and left out). Then, looking at the index under its lock held shared,
    // also the records without which the batch cannot be placed whole: the
    // parent chain of a name whose folder the index lacks, the folders
    // between a moved folder and a parent the index still shows below it, and
    // what the index still shows in a folder that goes. Stopped, with nothing
    // kept, when stop was set before a fetch. Failed, with nothing kept, when
    // a record could not be fetched (only an answer for a lower record means
    // the record is not in use). Called without the index lock; may throw
    // std::bad_alloc.
    Fetched Fetch(const DeviceControl& control, RawVolume& raw, const std::vector<UsnChange>& changes,
                  const Index& index, const VolumeMaps& volume, const std::atomic<bool>& stop);

    // Reconciles the fetched records with the volume's entries: the whole
    // batch is planned against the index first, then applied. ReadAgain, with
    // nothing changed, when the plan finds a name it cannot place where its
    // record says (records that contradict each other or the index, a chain
    // that loops), a folder that goes still holding what the batch does not
    // name, or a record number out of bounds. Index lock held exclusively;
    // may throw std::bad_alloc, which room reserved before the first change
    // makes unlikely.
    Applied Apply(Index& index, VolumeMaps& volume);

    const std::vector<JournalItem>& Items() const { return items; }

private:
    class Links;

    enum class Got { Record, Free, Failed };
    Got Get(const DeviceControl& control, uint32_t record, bool asExtension, std::vector<uint8_t>& out);
    void AddItem(const DeviceControl& control, RawVolume& raw, uint32_t record);
    void JoinExtension(const DeviceControl& control, uint32_t base, uint32_t extension, JournalItem& item);
    void DropDosTwins(JournalItem& item);
    // The records still to fetch; none once every name's place is known.
    std::vector<uint32_t> Missing(const Index& index, const VolumeMaps& volume);
    std::vector<uint32_t> ApplyOrder(const Links& links) const;

    std::vector<JournalItem> items;
    std::vector<NameRec> rows;
    std::vector<uint8_t> placed;  // per row: the name must be in the index once applied
    bool unplaceable = false;     // a name has no place the batch can give it
    bool failed = false;          // a record could not be fetched
    // The index's counters when Fetch last placed the batch's names.
    uint64_t plannedChanges = 0;
    uint64_t plannedEpoch = 0;
    // Per record: the first sequence number the journal named it with (0:
    // none), whether it named it with another one too, and whether the
    // record was fetched.
    struct Named {
        uint16_t sequence = 0;
        bool mixed = false;
        bool asked = false;
    };
    std::unordered_map<uint32_t, Named> named;
    std::string namePool;
    std::string foldedPool;
    // Each record is asked for once per batch. Kept are the bytes a later
    // request may need: those of extension records (empty: not kept, or the
    // record could not be had).
    std::unordered_map<uint32_t, std::vector<uint8_t>> fetched;
    std::vector<uint8_t> answer;  // one control's output
    std::vector<uint8_t> baseBytes;
    std::vector<uint8_t> extensionBytes;
};

}  // namespace ov
