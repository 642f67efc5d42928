// A batch names records, not changes: each record is read again as it is now
// and reconciled with ApplyFile, which reuses entries so that a renamed or
// moved record keeps its entry number. A burst spans several batches, and a
// record is read as it is when its batch is applied, which may be long after
// the change the batch names: a folder may have gone while what it held left
// in a later batch, or a name may sit in a folder made in a later one. What the
// index holds of a record that no batch names again is never changed again, so
// before applying, the batch also fetches every record it needs to place its
// names whole: the parent chain of a name whose folder the index lacks, the
// folders between a moved folder and a parent the index shows below it, and
// what the index still shows in a folder that goes (NTFS removes only empty
// folders: what is left moved elsewhere, in a later batch).
//
// A record freed and taken by another file within the batch is told apart
// from a rename by its sequence number, which the journal names and the FILE
// record's header holds: its old entries go and the new file gets new ones.
//
// Applying is planned whole, then done: the plan finds a place for every name
// once the batch is applied, or sends the volume to a full read before
// anything changes. Done, the entries that do not stay their record's (the
// record went, was reused, or turned from file to folder or back) first leave
// the maps, so that the record's names are new entries; then the present
// folders are reconciled, each after the batch's folder that is its nearest
// ancestor once the batch is applied (its new parent, or the first folder of
// the batch met walking up the index from there), so a folder made in the
// batch exists before anything moves into it and no folder moves below one
// still inside it; then the files, which are nobody's parent. Last the
// entries that left the maps go, deepest first: by then everything that stays
// has moved out of them, and each folder is empty when it goes (no table walk).
#include "engine/journal_batch.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <unordered_set>

#include "engine/file_record_parser.h"
#include "engine/le_bytes.h"
#include "engine/ntfs_attributes.h"

namespace ov {
namespace {

constexpr uint32_t kRootRecord = 5;
constexpr uint32_t kFirstUserRecord = 24;
constexpr uint32_t kAnswerHeader = 12;  // FileReferenceNumber, FileRecordLength
constexpr uint32_t kMinRecordBytes = 256;
constexpr uint32_t kMaxRecordBytes = 65536;
constexpr uint64_t kRecordNumberBits = 0xFFFFFFFFFFFFull;
constexpr uint8_t kDosNames = 2;
constexpr uint32_t kNone = 0xFFFFFFFFu;

// FSCTL_GET_NTFS_FILE_RECORD. The drive answers a record not in use with a
// lower one that is: only that answer says the record is free. A refused
// call or an answer that makes no sense says nothing about the record.
enum class Answer { Record, Free, Failed };
Answer FetchRecord(const DeviceControl& control, uint32_t record, std::vector<uint8_t>& answer,
                   std::vector<uint8_t>& out) {
    answer.assign(kAnswerHeader + kMaxRecordBytes, 0);
    uint64_t reference = record;
    uint32_t returned = 0, error = 0;
    if (!control(kGetNtfsFileRecord, &reference, sizeof reference, answer.data(), static_cast<uint32_t>(answer.size()),
                 returned, error) ||
        returned < kAnswerHeader || returned > answer.size())
        return Answer::Failed;
    const uint64_t answered = LeU64(answer.data()) & kRecordNumberBits;
    if (answered != record) return answered < record ? Answer::Free : Answer::Failed;
    const uint32_t length = LeU32(answer.data() + 8);
    if (length < kMinRecordBytes || length > kMaxRecordBytes || length > returned - kAnswerHeader)
        return Answer::Failed;
    out.assign(answer.begin() + kAnswerHeader, answer.begin() + kAnswerHeader + length);
    return Answer::Record;
}

uint32_t Size(const std::vector<uint8_t>& bytes) {
    return static_cast<uint32_t>(bytes.size());
}

}  // namespace

bool RawVolume::ReadValue(const Attribute& attr, std::unique_ptr<VirtualBuffer>& value) {
    if (!tried) {
        tried = true;
        dev = factory ? factory() : nullptr;
        VirtualBuffer boot(4096);
        uint64_t mftCluster = 0, volumeBytes = 0;
        if (dev && !(boot.data() && dev->Read(0, boot.data(), 4096) &&
                     ParseBootSector(boot.data(), layout, mftCluster, volumeBytes)))
            dev.reset();
    }
    return dev && ReadNonResidentValue(dev.get(), layout, attr, value);
}

JournalBatch::Got JournalBatch::Get(const DeviceControl& control, uint32_t record, bool asExtension,
                                    std::vector<uint8_t>& out) {
    if (const auto it = fetched.find(record); it != fetched.end()) {
        out = it->second;
        return out.empty() ? Got::Free : Got::Record;
    }
    const Answer got = FetchRecord(control, record, answer, out);
    if (got == Answer::Failed) {
        failed = true;
        return Got::Failed;
    }
    const bool found = got == Answer::Record;
    // Only an extension record can join a base record fetched later, and only
    // a record fetched as an extension can be a batch record later.
    const bool keep = found && (asExtension || LeU32(out.data() + 0x20) != 0);
    fetched.emplace(record, keep ? out : std::vector<uint8_t>{});
    return found ? Got::Record : Got::Free;
}

JournalBatch::Fetched JournalBatch::Fetch(const DeviceControl& control, RawVolume& raw,
                                          const std::vector<UsnChange>& changes, const Index& index,
                                          const VolumeMaps& volume, const std::atomic<bool>& stop) {
    items.clear();
    rows.clear();
    namePool.clear();
    foldedPool.clear();
    fetched.clear();
    placed.clear();
    named.clear();
    unplaceable = false;
    failed = false;
    named.reserve(changes.size());
    for (const UsnChange& change : changes) {
        const auto sequence = static_cast<uint16_t>(change.fileReference >> 48);
        Named& n = named[static_cast<uint32_t>(change.fileReference)];
        if (n.sequence == 0) n.sequence = sequence;
        n.mixed |= sequence != 0 && sequence != n.sequence;
    }
    Fetched end = Fetched::Done;
    auto fetch = [&](uint32_t record) {
        if (record < kFirstUserRecord && record != kRootRecord) return true;
        if (Named& n = named[record]; !n.asked) {
            n.asked = true;
        } else {
            return true;
        }
        if (stop.load()) {
            end = Fetched::Stopped;
        } else {
            AddItem(control, raw, record);
            if (!failed) return true;
            end = Fetched::Failed;
        }
        items.clear();
        rows.clear();
        return false;
    };
    for (const UsnChange& change : changes)
        if (!fetch(static_cast<uint32_t>(change.fileReference))) return end;
    // Each round reaches one level further up a chain or down a folder that
    // went; a volume whose chains run deeper than the index keeps is read again.
    for (int round = 0;; ++round) {
        std::vector<uint32_t> more;
        {
            std::shared_lock<SharedMutex> guard(index.lock);
            more = Missing(index, volume);
            plannedChanges = index.changes;
            plannedEpoch = index.epoch;
        }
        if (more.empty()) break;
        const size_t before = items.size();
        for (uint32_t record : more)
            if (!fetch(record)) return end;
        if (items.size() == before || round > 2 * Index::kMaxDepth) {
            unplaceable = true;
            break;
        }
    }
    return Fetched::Done;
}

void JournalBatch::AddItem(const DeviceControl& control, RawVolume& raw, uint32_t record) {
    JournalItem item;
    item.record = record;
    item.firstRow = static_cast<uint32_t>(rows.size());
    const size_t nameMark = namePool.size(), foldedMark = foldedPool.size();
    std::vector<uint32_t> extensions;
    uint32_t baseReference = 0;
    const Got got = Get(control, record, false, baseBytes);
    if (got == Got::Failed) return;
    if (got == Got::Record &&
        ParseFileRecord(baseBytes.data(), Size(baseBytes), record, item.info, baseReference, rows, namePool, foldedPool,
                        true, &extensions) &&
        baseReference == 0) {
        item.present = true;
        // The header's sequence number changes when the record is freed.
        if (const auto it = named.find(record); it != named.end() && it->second.sequence != 0)
            item.reused = it->second.mixed || it->second.sequence != LeU16(baseBytes.data() + 0x10);
        // An attribute list too long for the record lives outside it, read
        // through its runs. Should that fail, the record's extension names
        // are unknown: it keeps its entries as they are.
        bool listRead = true;
        ForEachAttribute(baseBytes.data(), std::min(LeU32(baseBytes.data() + 0x18), Size(baseBytes)),
                         [&](const Attribute& attr) {
                             if (attr.type != kAttrList || attr.resident) return;
                             std::unique_ptr<VirtualBuffer> list;
                             if (raw.ReadValue(attr, list)) {
                                 AddExtensionRecords(list->data(), attr.dataSize, record, extensions);
                             } else {
                                 listRead = false;
                             }
                         });
        if (!listRead) {
            rows.resize(item.firstRow);
            namePool.resize(nameMark);
            foldedPool.resize(foldedMark);
            return;
        }
        for (uint32_t extension : extensions) JoinExtension(control, record, extension, item);
        if (failed) return;
    } else {
        rows.resize(item.firstRow);
        namePool.resize(nameMark);
        foldedPool.resize(foldedMark);
        item.present = false;
        item.info = FileRec{};
    }
    item.rowCount = static_cast<uint32_t>(rows.size()) - item.firstRow;
    DropDosTwins(item);
    items.push_back(item);
}

void JournalBatch::JoinExtension(const DeviceControl& control, uint32_t base, uint32_t extension, JournalItem& item) {
    if (Get(control, extension, true, extensionBytes) != Got::Record) return;
    const size_t rowMark = rows.size(), nameMark = namePool.size(), foldedMark = foldedPool.size();
    FileRec part;
    uint32_t baseReference = 0;
    // Only names that say they belong to this base join it.
    if (ParseFileRecord(extensionBytes.data(), Size(extensionBytes), extension, part, baseReference, rows, namePool,
                        foldedPool, true, nullptr) &&
        baseReference == base) {
        if (part.sizeKnown && !item.info.sizeKnown) {
            item.info.size = part.size;
            item.info.sizeKnown = true;
        }
        return;
    }
    rows.resize(rowMark);
    namePool.resize(nameMark);
    foldedPool.resize(foldedMark);
}

// As the full read does: a DOS name goes when the record has another name,
// wherever in its base or extension records the names are.
void JournalBatch::DropDosTwins(JournalItem& item) {
    const auto begin = rows.begin() + item.firstRow;
    const auto end = begin + item.rowCount;
    if (std::none_of(begin, end, [](const NameRec& row) { return row.nameSpace != kDosNames; })) return;
    const auto kept = std::remove_if(begin, end, [](const NameRec& row) { return row.nameSpace == kDosNames; });
    item.rowCount = static_cast<uint32_t>(kept - begin);
    rows.erase(kept, end);
}

namespace {

// The live entry of a record's first name, the root for the root record.
uint32_t LiveEntry(const Index& index, const VolumeMaps& volume, uint32_t record) {
    uint32_t e = record == kRootRecord              ? volume.rootEntry
                 : record < volume.recordMap.size() ? volume.recordMap[record]
                                                    : kNoEntry;
    return e < index.entries.size() && !IsDeleted(index.entries[e]) ? e : kNoEntry;
}

bool LiveFolder(const Index& index, uint32_t e) {
    return e < index.entries.size() && !IsDeleted(index.entries[e]) && IsDir(index.entries[e]);
}

// Where a name leads, looking up from its parent record.
struct Step {
    enum Kind : uint8_t {
        Reaches,  // a folder of the index that no batch folder lies above
        Orphan,   // NTFS metadata: a full read places it nowhere either
        Item,     // below the batch's present folder `item`
        Missing,  // the parent must be fetched
        Doomed,   // below a batch record that does not stay a folder
    } kind;
    uint32_t item = kNone;
};

}  // namespace

// The batch's records against the index: which item a record or an entry is,
// and where a name leads.
class JournalBatch::Links {
public:
    Links(const JournalBatch& batch, const Index& index, const VolumeMaps& volume)
        : batch(batch), index(index), volume(volume) {
        const auto n = static_cast<uint32_t>(batch.items.size());
        old.resize(n);
        byRecord.reserve(n);
        byEntry.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            byRecord.emplace(batch.items[i].record, i);
            old[i] = LiveEntry(index, volume, batch.items[i].record);
            if (old[i] != kNoEntry) byEntry.emplace(old[i], i);
        }
    }

    uint32_t Count() const { return static_cast<uint32_t>(old.size()); }
    uint32_t Old(uint32_t i) const { return old[i]; }
    uint32_t Parent(uint32_t e) const { return index.entries[e].parent; }
    uint32_t ItemOfRecord(uint32_t record) const { return Find(byRecord, record); }
    bool PresentFolder(uint32_t i) const {
        return i != kNone && batch.items[i].present && batch.items[i].info.directory;
    }
    bool WasFolder(uint32_t i) const { return old[i] != kNoEntry && IsDir(index.entries[old[i]]); }
    // The folder entry the index shows for the record stays the record's.
    bool KeepsFolder(uint32_t i) const { return PresentFolder(i) && WasFolder(i) && !batch.items[i].reused; }

    // Where a name of item self whose parent is record `parent` leads. For a
    // folder the index is walked up from the parent's entry to the first batch
    // folder (via gets the entries passed on the way); a file needs no walk,
    // as nothing can move below it.
    Step Up(uint32_t self, uint32_t parent, std::vector<uint32_t>* via) const {
        if (parent == kRootRecord) return {Step::Reaches};
        if (parent < kFirstUserRecord || parent == batch.items[self].record) return {Step::Orphan};
        if (const uint32_t k = ItemOfRecord(parent); k != kNone)
            return {PresentFolder(k) ? Step::Item : Step::Doomed, k};
        uint32_t e = LiveEntry(index, volume, parent);
        if (!LiveFolder(index, e)) return {Step::Missing};
        if (!batch.items[self].info.directory) return {Step::Reaches};
        for (int depth = 0; e != kNoEntry && e < index.entries.size() && depth < Index::kMaxDepth; ++depth) {
            if (const uint32_t k = Find(byEntry, e); k != kNone) return {KeepsFolder(k) ? Step::Item : Step::Doomed, k};
            if (via) via->push_back(e);
            e = index.entries[e].parent;
        }
        return {Step::Reaches};
    }

private:
    static uint32_t Find(const std::unordered_map<uint32_t, uint32_t>& map, uint32_t key) {
        const auto it = map.find(key);
        return it == map.end() ? kNone : it->second;
    }

    const JournalBatch& batch;
    const Index& index;
    const VolumeMaps& volume;
    std::vector<uint32_t> old;  // per item: its record's live first entry
    std::unordered_map<uint32_t, uint32_t> byRecord, byEntry;
};

std::vector<uint32_t> JournalBatch::Missing(const Index& index, const VolumeMaps& volume) {
    const Links links(*this, index, volume);
    const uint32_t n = links.Count();
    std::unordered_set<uint32_t> want;         // records
    std::unordered_set<uint32_t> wantEntries;  // entries whose records are wanted
    const auto& entries = index.entries;

    // Folders first: each walks its chain of batch folders up to the index,
    // remembering the verdict for every folder on the way.
    enum Verdict : uint8_t { kUnknown, kBusy, kPlaced, kNowhere, kBroken };
    std::vector<uint8_t> verdict(n, kUnknown);
    std::vector<uint32_t> chain, via, lastVia;
    auto folderVerdict = [&](uint32_t start) {
        chain.clear();
        uint8_t result = kBroken;
        for (uint32_t cur = start;;) {
            if (verdict[cur] == kBusy) {
                // A loop: the index shows a folder of the loop below another
                // one, which the folders passed between must correct.
                wantEntries.insert(lastVia.begin(), lastVia.end());
                break;
            }
            if (verdict[cur] != kUnknown) {
                result = verdict[cur];
                break;
            }
            verdict[cur] = kBusy;
            chain.push_back(cur);
            const JournalItem& item = items[cur];
            if (item.rowCount == 0 || item.record == kRootRecord) {
                result = item.record == kRootRecord ? kPlaced : kNowhere;
                break;
            }
            via.clear();
            const uint32_t parent = rows[item.firstRow].parent;
            const Step step = links.Up(cur, parent, &via);
            if (step.kind == Step::Item) {
                lastVia.swap(via);
                cur = step.item;
                continue;
            }
            if (step.kind == Step::Missing) want.insert(parent);
            result = step.kind == Step::Reaches ? kPlaced : step.kind == Step::Orphan ? kNowhere : kBroken;
            break;
        }
        for (uint32_t c : chain) verdict[c] = result;
        return result;
    };
    placed.assign(rows.size(), 0);
    bool broken = false;
    for (uint32_t i = 0; i < n; ++i) {
        const JournalItem& item = items[i];
        if (!item.present) continue;
        if (item.info.directory) {
            const uint8_t v = folderVerdict(i);
            broken |= v == kBroken;
            if (v == kPlaced && item.rowCount > 0) placed[item.firstRow] = 1;
            continue;
        }
        for (uint32_t r = item.firstRow; r < item.firstRow + item.rowCount; ++r) {
            const Step step = links.Up(i, rows[r].parent, nullptr);
            const uint8_t v = step.kind == Step::Item      ? folderVerdict(step.item)
                              : step.kind == Step::Reaches ? uint8_t{kPlaced}
                              : step.kind == Step::Orphan  ? uint8_t{kNowhere}
                                                           : uint8_t{kBroken};
            if (step.kind == Step::Missing) want.insert(rows[r].parent);
            broken |= v == kBroken;
            placed[r] = v == kPlaced;
        }
    }

    // What the index still shows in a folder that goes: the batch's own
    // entries there are accounted for, anything else is fetched.
    std::unordered_map<uint32_t, uint32_t> goingFolders;  // entry -> children not in the batch
    for (uint32_t i = 0; i < n; ++i)
        if (items[i].record != kRootRecord && links.WasFolder(i) &&
            !(links.KeepsFolder(i) && items[i].rowCount > 0 && placed[items[i].firstRow]) &&
            entries[links.Old(i)].childCount > 0)
            goingFolders.emplace(links.Old(i), entries[links.Old(i)].childCount);
    if (!goingFolders.empty()) {
        auto account = [&](uint32_t e) {
            if (e >= entries.size() || IsDeleted(entries[e])) return;
            if (const auto it = goingFolders.find(entries[e].parent); it != goingFolders.end() && it->second > 0)
                it->second -= 1;
        };
        for (uint32_t i = 0; i < n; ++i) {
            account(links.Old(i));
            for (auto [it, end] = volume.hardLinks.equal_range(items[i].record); it != end; ++it) account(it->second);
        }
        for (auto it = goingFolders.begin(); it != goingFolders.end();)
            it = it->second == 0 ? goingFolders.erase(it) : std::next(it);
    }

    if (!goingFolders.empty() || !wantEntries.empty()) {
        const auto& map = volume.recordMap;
        auto wanted = [&](uint32_t e) {
            return e < entries.size() && !IsDeleted(entries[e]) &&
                   (goingFolders.count(entries[e].parent) || wantEntries.count(e));
        };
        for (uint32_t r = kFirstUserRecord; r < map.size(); ++r)
            if (wanted(map[r]) && links.ItemOfRecord(r) == kNone) want.insert(r);
        for (const auto& [r, e] : volume.hardLinks)
            if (r >= kFirstUserRecord && wanted(e) && links.ItemOfRecord(r) == kNone) want.insert(r);
    }
    // A folder that goes still holding what no record names cannot go.
    unplaceable = broken || (!goingFolders.empty() && want.empty());
    std::vector<uint32_t> more(want.begin(), want.end());
    std::sort(more.begin(), more.end());
    return more;
}

std::vector<uint32_t> JournalBatch::ApplyOrder(const Links& links) const {
    const uint32_t n = links.Count();
    auto placedFolder = [&](uint32_t i) {
        return links.PresentFolder(i) && items[i].rowCount > 0 && placed[items[i].firstRow] &&
               items[i].record != kRootRecord;
    };
    // The batch folder each placed folder must follow.
    std::vector<uint32_t> after(n, kNone);
    for (uint32_t i = 0; i < n; ++i) {
        if (!placedFolder(i)) continue;
        const Step step = links.Up(i, rows[items[i].firstRow].parent, nullptr);
        if (step.kind == Step::Item) after[i] = step.item;
    }

    std::vector<uint32_t> order;
    order.reserve(n);
    std::vector<uint8_t> queued(n, 0);
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < n; ++i) {
        if (!placedFolder(i)) continue;
        chain.clear();
        for (uint32_t c = i; c != kNone && !queued[c]; c = after[c]) {
            queued[c] = 1;
            chain.push_back(c);
        }
        order.insert(order.end(), chain.rbegin(), chain.rend());
    }
    for (uint32_t i = 0; i < n; ++i)
        if (items[i].present && (!items[i].info.directory || items[i].record == kRootRecord)) order.push_back(i);
    return order;
}

JournalBatch::Applied JournalBatch::Apply(Index& index, VolumeMaps& volume) {
    // The plan: the look Fetch took last, taken again under the exclusive lock
    // should the index have changed since. Nothing changes before it has found
    // a place for every name.
    const bool planned = index.changes == plannedChanges && index.epoch == plannedEpoch;
    if (unplaceable || (!planned && (!Missing(index, volume).empty() || unplaceable))) return Applied::ReadAgain;
    const Links links(*this, index, volume);
    const uint32_t n = links.Count();
    std::vector<uint8_t> keeps(n, 0);  // the record's entries stay its own
    size_t names = 0, nameBytes = 0, foldedBytes = 0, longest = 0, going = 0;
    uint32_t top = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const JournalItem& item = items[i];
        if (item.record == kRootRecord) continue;
        const uint32_t e = links.Old(i);
        keeps[i] = item.present && !item.reused && e != kNoEntry &&
                   (item.info.directory ? links.KeepsFolder(i) && item.rowCount > 0 && placed[item.firstRow]
                                        : !IsDir(index.entries[e]));
        if (!keeps[i]) going += 1 + volume.hardLinks.count(item.record);
        if (!item.present || item.rowCount == 0) continue;
        if (!index.RecordFits(volume, item.record)) return Applied::ReadAgain;
        top = std::max(top, item.record);
        names += item.rowCount;
        longest = std::max<size_t>(longest, item.rowCount);
        for (uint32_t r = item.firstRow; r < item.firstRow + item.rowCount; ++r) {
            nameBytes += rows[r].nameLength + 1;
            foldedBytes += rows[r].foldedLength + 1;
        }
    }
    const std::vector<uint32_t> order = ApplyOrder(links);
    // Room for all the batch can add, so that memory running out stops it
    // here rather than halfway.
    index.ReserveGrowth(names, nameBytes, foldedBytes);
    if (std::vector<uint32_t>& map = volume.recordMap; top >= map.capacity())
        map.reserve(std::max<uint64_t>(uint64_t{top} + Index::kRecordMapGrowth, 2 * map.capacity()));
    if (auto& links = volume.hardLinks;
        static_cast<double>(links.size() + names) > links.max_load_factor() * static_cast<double>(links.bucket_count()))
        links.reserve(2 * (links.size() + names));
    std::vector<std::pair<int, uint32_t>> gone;  // (-depth, entry)
    gone.reserve(going);
    std::vector<NameRec> own;
    own.reserve(longest);

    // Entries that do not stay their record's leave the maps first, so that a
    // reused record gets new entries, and go last, once everything that
    // stays has moved out of them.
    // Deepest first, so that a folder is empty when it goes (no table walk).
    auto depth = [&](uint32_t e) {
        int d = 0;
        for (; e < index.entries.size() && d < Index::kMaxDepth; e = index.entries[e].parent) ++d;
        return d;
    };
    for (uint32_t i = 0; i < n; ++i) {
        if (keeps[i] || items[i].record == kRootRecord) continue;
        if (links.Old(i) != kNoEntry) gone.emplace_back(-depth(links.Old(i)), links.Old(i));
        for (auto [it, end] = volume.hardLinks.equal_range(items[i].record); it != end; ++it)
            gone.emplace_back(-depth(it->second), it->second);
    }
    std::sort(gone.begin(), gone.end());
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t record = items[i].record;
        if (keeps[i] || record == kRootRecord) continue;
        if (record < volume.recordMap.size()) volume.recordMap[record] = kNoEntry;
        volume.hardLinks.erase(record);
    }
    for (uint32_t i : order) {
        const JournalItem& item = items[i];
        own.assign(rows.begin() + item.firstRow, rows.begin() + item.firstRow + item.rowCount);
        index.ApplyFile(volume, item.record, true, item.info, own, namePool, foldedPool);
    }
    for (const auto& g : gone) index.RemoveCounted(volume, g.second);
    return Applied::Done;
}

}  // namespace ov
