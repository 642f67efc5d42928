// A batch names records, not changes: each record is read again as it is now
// and reconciled with ApplyFile, which reuses entries so that a renamed or
// moved record keeps its entry number. The order of reconciling matters,
// because ApplyFile can only place a name under a folder the index already
// holds where the record says:
// - A present folder goes after the batch's folder that is its nearest
//   ancestor once the batch is applied (its new parent, or the first folder of
//   the batch met walking up the index from there). So a folder created in the
//   batch exists before anything moves into it, and a folder never moves below
//   one that is still inside it.
// - Present files follow, as they are nobody's parent.
// - Records that went come last, so a folder removed with what it still holds
//   cannot take an entry that moved out of it; files before folders and deeper
//   folders first, so a removed folder is empty by then (no table walk).
// - Last, a record that was a folder and is now a file: removing its folder
//   entry must also wait until what it held has moved out or gone.
// A cycle among the batch's folders (a record read while another one changed)
// is broken anywhere; the check afterwards sends the volume to a full read.
#include "engine/journal_batch.h"

#include <algorithm>
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
// lower one that is, so the number answered must be the one asked for.
bool FetchRecord(const DeviceControl& control, uint32_t record, std::vector<uint8_t>& answer,
                 std::vector<uint8_t>& out) {
    answer.assign(kAnswerHeader + kMaxRecordBytes, 0);
    uint64_t reference = record;
    uint32_t returned = 0, error = 0;
    if (!control(kGetNtfsFileRecord, &reference, sizeof reference, answer.data(), static_cast<uint32_t>(answer.size()),
                 returned, error) ||
        returned < kAnswerHeader || returned > answer.size())
        return false;
    if ((LeU64(answer.data()) & kRecordNumberBits) != record) return false;
    const uint32_t length = LeU32(answer.data() + 8);
    if (length < kMinRecordBytes || length > kMaxRecordBytes || length > returned - kAnswerHeader) return false;
    out.assign(answer.begin() + kAnswerHeader, answer.begin() + kAnswerHeader + length);
    return true;
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

bool JournalBatch::Get(const DeviceControl& control, uint32_t record, bool asExtension, std::vector<uint8_t>& out) {
    if (const auto it = fetched.find(record); it != fetched.end()) {
        out = it->second;
        return !out.empty();
    }
    const bool found = FetchRecord(control, record, answer, out);
    // Only an extension record can join a base record fetched later, and only
    // a record fetched as an extension can be a batch record later.
    const bool keep = found && (asExtension || LeU32(out.data() + 0x20) != 0);
    fetched.emplace(record, keep ? out : std::vector<uint8_t>{});
    return found;
}

JournalBatch::Fetched JournalBatch::Fetch(const DeviceControl& control, RawVolume& raw,
                                          const std::vector<UsnChange>& changes, const std::atomic<bool>& stop) {
    items.clear();
    rows.clear();
    namePool.clear();
    foldedPool.clear();
    fetched.clear();
    std::unordered_set<uint32_t> seen;
    seen.reserve(changes.size());
    for (const UsnChange& change : changes) {
        const auto record = static_cast<uint32_t>(change.fileReference);
        if ((record < kFirstUserRecord && record != kRootRecord) || !seen.insert(record).second) continue;
        if (stop.load()) {
            items.clear();
            return Fetched::Stopped;
        }
        AddItem(control, raw, record);
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
    if (Get(control, record, false, baseBytes) &&
        ParseFileRecord(baseBytes.data(), Size(baseBytes), record, item.info, baseReference, rows, namePool, foldedPool,
                        true, &extensions) &&
        baseReference == 0) {
        item.present = true;
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
    if (!Get(control, extension, true, extensionBytes)) return;
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

}  // namespace

std::vector<uint32_t> JournalBatch::ApplyOrder(const Index& index, const VolumeMaps& volume) const {
    const auto& entries = index.entries;
    const auto n = static_cast<uint32_t>(items.size());
    auto presentFolder = [&](uint32_t i) { return i != kNone && items[i].present && items[i].info.directory; };
    std::vector<uint32_t> old(n);
    std::unordered_map<uint32_t, uint32_t> byRecord, byEntry;
    byRecord.reserve(n);
    byEntry.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        byRecord.emplace(items[i].record, i);
        old[i] = LiveEntry(index, volume, items[i].record);
        if (old[i] != kNoEntry) byEntry.emplace(old[i], i);
    }
    auto find = [](const std::unordered_map<uint32_t, uint32_t>& map, uint32_t key) {
        const auto it = map.find(key);
        return it == map.end() ? kNone : it->second;
    };

    // The batch folder each present folder must follow.
    std::vector<uint32_t> after(n, kNone);
    for (uint32_t i = 0; i < n; ++i) {
        if (!presentFolder(i) || items[i].rowCount == 0) continue;
        const uint32_t parent = rows[items[i].firstRow].parent;
        if (parent == kRootRecord || parent == items[i].record) continue;
        uint32_t ancestor = find(byRecord, parent);
        for (uint32_t e = LiveEntry(index, volume, parent), depth = 0;
             ancestor == kNone && e != kNoEntry && depth < Index::kMaxDepth; ++depth) {
            e = entries[e].parent;
            if (e != kNoEntry) ancestor = find(byEntry, e);
        }
        if (presentFolder(ancestor)) after[i] = ancestor;
    }

    std::vector<uint32_t> order;
    order.reserve(n);
    std::vector<uint8_t> placed(n, 0);
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < n; ++i) {
        if (!presentFolder(i)) continue;
        chain.clear();
        for (uint32_t c = i; c != kNone && !placed[c]; c = after[c]) {
            placed[c] = 1;
            chain.push_back(c);
        }
        order.insert(order.end(), chain.rbegin(), chain.rend());
    }
    auto wasFolder = [&](uint32_t i) { return old[i] != kNoEntry && IsDir(entries[old[i]]); };
    for (uint32_t i = 0; i < n; ++i)
        if (items[i].present && !items[i].info.directory && !wasFolder(i)) order.push_back(i);
    std::vector<std::pair<int, uint32_t>> gone;  // (-depth, item): deepest folders first, files before them
    for (uint32_t i = 0; i < n; ++i) {
        if (items[i].present) continue;
        int depth = 0;
        if (wasFolder(i))
            for (uint32_t e = old[i]; e != kNoEntry && depth < Index::kMaxDepth; e = entries[e].parent) ++depth;
        gone.emplace_back(wasFolder(i) ? -depth : -Index::kMaxDepth - 1, i);
    }
    std::stable_sort(gone.begin(), gone.end());
    for (const auto& g : gone) order.push_back(g.second);
    for (uint32_t i = 0; i < n; ++i)
        if (items[i].present && !items[i].info.directory && wasFolder(i)) order.push_back(i);
    return order;
}

bool JournalBatch::FoldersInPlace(const Index& index, const VolumeMaps& volume) const {
    for (const JournalItem& item : items) {
        if (!item.present || !item.info.directory || item.rowCount == 0 || item.record == kRootRecord) continue;
        const uint32_t parent = LiveEntry(index, volume, rows[item.firstRow].parent);
        if (parent == kNoEntry || !IsDir(index.entries[parent])) continue;  // not placed by a full read either
        const uint32_t e = LiveEntry(index, volume, item.record);
        if (e == kNoEntry || index.entries[e].parent != parent) return false;
    }
    return true;
}

JournalBatch::Applied JournalBatch::Apply(Index& index, VolumeMaps& volume) {
    std::vector<NameRec> own;
    for (uint32_t i : ApplyOrder(index, volume)) {
        const JournalItem& item = items[i];
        own.assign(rows.begin() + item.firstRow, rows.begin() + item.firstRow + item.rowCount);
        if (!index.ApplyFile(volume, item.record, item.present, item.info, own, namePool, foldedPool))
            return Applied::ReadAgain;
    }
    return FoldersInPlace(index, volume) ? Applied::Done : Applied::ReadAgain;
}

}  // namespace ov
