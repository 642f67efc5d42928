#include "engine/index_file_reader.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <stdexcept>

#include "engine/index_file_format.h"
#include "index/text.h"

namespace ov {
namespace {

// Reads fields from the bytes after the pools. The first failure sticks: later
// reads return zeros and an empty text, and the reason names the first problem.
class Cursor {
public:
    explicit Cursor(const std::string& bytes) : data(bytes.data()), size(bytes.size()) {}

    uint64_t Remaining() const { return size - at; }
    bool Failed() const { return !reason.empty(); }
    void Fail(std::string why) {
        if (reason.empty()) reason = std::move(why);
    }

    const char* Take(uint64_t bytes, const char* what) {
        if (Failed()) return nullptr;
        if (bytes > Remaining()) {
            Fail(std::string("the file ends inside ") + what);
            return nullptr;
        }
        const char* p = data + at;
        at += bytes;
        return p;
    }
    uint32_t ReadU32(const char* what) {
        const char* p = Take(4, what);
        return p ? GetU32(p) : 0;
    }
    uint64_t ReadU64(const char* what) {
        const char* p = Take(8, what);
        return p ? GetU64(p) : 0;
    }
    WString ReadString(const char* what) {
        const uint32_t units = ReadU32(what);
        if (units > kIndexFileMaxStringUnits) {
            Fail(std::string(what) + " is " + std::to_string(units) + " units long");
            return {};
        }
        const char* p = Take(2 * uint64_t{units}, what);
        if (!p) return {};
        WString text(units, WChar{0});
        for (uint32_t i = 0; i < units; ++i) {
            const auto b = reinterpret_cast<const unsigned char*>(p + 2 * i);
            text[i] = static_cast<WChar>(b[0] | b[1] << 8);
        }
        return text;
    }

    std::string reason;

private:
    const char* data;
    uint64_t size;
    uint64_t at = 0;
};

inline bool InSlot(const std::vector<Entry>& entries, uint32_t entry, int slot) {
    return entry < entries.size() && SlotOf(entries[entry].flags) == slot;
}

std::unique_ptr<Volume> ReadVolume(Cursor& in, int slot, const std::vector<Entry>& entries) {
    auto v = std::make_unique<Volume>();
    v->slot = slot;
    v->root = in.ReadString("a volume's root");
    v->name = in.ReadString("a volume's name");
    v->fileSystem = in.ReadString("a volume's file system");
    v->label = in.ReadString("a volume's label");
    v->serial = in.ReadU32("a volume");
    v->addedFolder = in.ReadU32("a volume") != 0;
    const uint32_t kind = in.ReadU32("a volume");
    // A kind this program does not know is read as not yet indexed: scanned afresh.
    v->kind = kind <= static_cast<uint32_t>(VolumeKind::Folders) ? static_cast<VolumeKind>(kind) : VolumeKind::None;
    v->journalId = in.ReadU64("a volume");
    v->nextUsn = in.ReadU64("a volume");
    v->rootEntry = in.ReadU32("a volume");
    v->files = in.ReadU64("a volume");
    v->folders = in.ReadU64("a volume");
    const std::string where = "volume " + std::to_string(slot);

    const uint32_t records = in.ReadU32("a record map");
    const char* map = in.Take(4 * uint64_t{records}, "a record map");
    if (map && records > 0) {
        v->recordMap.resize(records);
        std::memcpy(v->recordMap.data(), map, 4 * size_t{records});
        for (uint32_t r = 0; r < records; ++r) {
            const uint32_t e = v->recordMap[r];
            if (e != kNoEntry && !InSlot(entries, e, slot)) {
                in.Fail(where + ": record " + std::to_string(r) + " maps to entry " + std::to_string(e) +
                        ", not one of its own");
                break;
            }
        }
    }
    const uint32_t links = in.ReadU32("the hard links");
    if (!in.Failed() && (links > entries.size() || 8 * uint64_t{links} > in.Remaining())) {
        in.Fail(where + " claims " + std::to_string(links) + " hard links");
    }
    if (!in.Failed()) v->hardLinks.reserve(links);
    for (uint32_t k = 0; k < links && !in.Failed(); ++k) {
        const uint32_t record = in.ReadU32("the hard links");
        const uint32_t e = in.ReadU32("the hard links");
        if (!InSlot(entries, e, slot)) {
            in.Fail(where + ": a hard link names entry " + std::to_string(e) + ", not one of its own");
            break;
        }
        v->hardLinks.emplace(record, e);
    }
    if (!in.Failed() && v->rootEntry != kNoEntry && !InSlot(entries, v->rootEntry, slot))
        in.Fail(where + ": root entry " + std::to_string(v->rootEntry) + " is not one of its own");
    v->status = LoadedVolumeStatus();
    v->phase = VolumePhase::Loaded;
    return v;
}

// Ranges, parents and slots of every entry, once the volumes are known.
bool CheckEntries(const LoadedIndex& image, std::string& reason) {
    const auto& entries = image.entries;
    const uint64_t n = entries.size();
    for (uint64_t i = 0; i < n; ++i) {
        const Entry& e = entries[i];
        if (uint64_t{e.nameOffset} + e.nameLength > image.names.size()) {
            reason = "entry " + std::to_string(i) + ": its name lies outside the name pool";
            return false;
        }
        if (uint64_t{e.foldedOffset} + e.foldedLength > image.folded.size()) {
            reason = "entry " + std::to_string(i) + ": its folded name lies outside the folded pool";
            return false;
        }
        const int slot = SlotOf(e.flags);
        if (static_cast<size_t>(slot) >= image.volumes.size() || !image.volumes[slot]) {
            reason =
                "entry " + std::to_string(i) + " belongs to slot " + std::to_string(slot) + ", which has no volume";
            return false;
        }
        if (e.parent != kNoEntry && (e.parent >= n || !IsDir(entries[e.parent]))) {
            reason = "entry " + std::to_string(i) + ": parent " + std::to_string(e.parent) + " is not a folder";
            return false;
        }
    }
    return true;
}

bool Read(ByteSource& source, LoadedIndex& image, std::string& reason) {
    const uint64_t size = source.Size();
    if (size < kIndexFileMinBytes || size > kIndexFileMaxBytes) {
        reason = "the file is " + std::to_string(size) + " bytes long";
        return false;
    }
    char header[kIndexFileHeaderBytes];
    if (!source.Read(header, sizeof header)) {
        reason = "the header could not be read";
        return false;
    }
    if (std::memcmp(header, kIndexFileMagic, 4) != 0) {
        reason = "not a saved index (wrong signature)";
        return false;
    }
    if (GetU32(header + 4) != kIndexFileVersion) {
        reason = "a saved index of version " + std::to_string(GetU32(header + 4));
        return false;
    }
    const uint64_t n = GetU32(header + 8);
    const uint64_t nameBytes = GetU64(header + 12);
    const uint64_t foldedBytes = GetU64(header + 20);
    if (n >= kNoEntry || nameBytes > Index::kMaxPoolBytes || foldedBytes > Index::kMaxPoolBytes) {
        reason = "the header claims " + std::to_string(n) + " entries and pools of " + std::to_string(nameBytes) +
                 " and " + std::to_string(foldedBytes) + " bytes";
        return false;
    }
    const uint64_t tables = kIndexFileHeaderBytes + n * sizeof(Entry) + nameBytes + foldedBytes;
    if (tables > size) {
        reason =
            "the header claims " + std::to_string(tables) + " bytes of tables in a file of " + std::to_string(size);
        return false;
    }
    // Every size is now bounded by the file's own. The room above it is only
    // address space until used, and spares the first changes after the load a
    // copy of the whole table or pool under the exclusive lock.
    image.entries.reserve(n + n / 8);
    image.names.reserve(nameBytes + nameBytes / 8);
    image.folded.reserve(foldedBytes + foldedBytes / 8);
    image.entries.resize(n);
    image.names.resize(nameBytes);
    image.folded.resize(foldedBytes);
    std::string tail(size - tables, '\0');
    if (!source.Read(image.entries.data(), n * sizeof(Entry)) || !source.Read(image.names.data(), nameBytes) ||
        !source.Read(image.folded.data(), foldedBytes) || !source.Read(tail.data(), tail.size())) {
        reason = "the file could not be read to its end";
        return false;
    }

    Cursor in(tail);
    const uint32_t slots = in.ReadU32("the volume count");
    if (slots > kIndexFileMaxSlots) in.Fail(std::to_string(slots) + " volume slots");
    if (!in.Failed()) image.volumes.reserve(slots);
    for (uint32_t s = 0; s < slots && !in.Failed(); ++s) {
        const uint32_t present = in.ReadU32("a volume slot");
        if (in.Failed()) break;
        image.volumes.push_back(present ? ReadVolume(in, static_cast<int>(s), image.entries) : nullptr);
    }
    const uint32_t pairs = in.ReadU32("the open counts");
    if (!in.Failed()) image.openCounts.reserve(std::min<uint64_t>(pairs, in.Remaining() / 8));
    for (uint32_t k = 0; k < pairs && !in.Failed(); ++k) {
        const uint32_t entry = in.ReadU32("the open counts");
        const uint32_t count = in.ReadU32("the open counts");
        if (!in.Failed() && entry < n) image.openCounts[entry] = count;  // pairs for no entry are skipped
    }
    const char* end = in.Take(4, "the end marker");
    if (end && std::memcmp(end, kIndexFileEnd, 4) != 0) in.Fail("the end marker is missing");
    if (in.Failed()) {
        reason = in.reason;
        return false;
    }
    return CheckEntries(image, reason);
}

void Swap(Index& a, Index& b) {
    a.entries.swap(b.entries);
    a.names.swap(b.names);
    a.folded.swap(b.folded);
    a.volumes.swap(b.volumes);
    a.openCounts.swap(b.openCounts);
    a.foldedOffsets.swap(b.foldedOffsets);
    a.extHashes.swap(b.extHashes);
    a.changedNames.swap(b.changedNames);
    a.pathOffset.swap(b.pathOffset);
    a.pathLength.swap(b.pathLength);
    a.pathBuffer.swap(b.pathBuffer);
    a.orders.swap(b.orders);
    a.ranks.swap(b.ranks);
    a.pending.swap(b.pending);
}

// Fills the side tables the searcher uses in blocks on the index's pool, and
// says whether the table must be compacted first: when it holds deleted or
// renamed entries, or when the folded names do not follow each other in entry
// order. The searcher maps a hit in the folded pool back to its entry by the
// entries' offsets, which must therefore ascend without names overlapping, as
// compaction leaves them.
bool FillSideTables(Index& index, uint64_t& deleted) {
    const auto& entries = index.entries;
    const size_t n = entries.size();
    constexpr size_t kBlock = size_t{1} << 16;
    index.foldedOffsets.resize(n);
    index.extHashes.resize(n);
    std::atomic<uint64_t> dropped{0};
    std::atomic<bool> needed{false};
    index.pool.Run(static_cast<int>((n + kBlock - 1) / kBlock), [&](int b) {
        const size_t lo = static_cast<size_t>(b) * kBlock;
        const size_t hi = std::min(n, lo + kBlock);
        uint64_t end = lo == 0 ? 0 : uint64_t{entries[lo - 1].foldedOffset} + entries[lo - 1].foldedLength;
        uint64_t count = 0;
        bool out = false;
        for (size_t i = lo; i < hi; ++i) {
            const Entry& e = entries[i];
            count += (e.flags & EntryFlags::Deleted) != 0;
            out |= (e.flags & (EntryFlags::Deleted | EntryFlags::NameChanged)) || e.foldedOffset < end;
            end = uint64_t{e.foldedOffset} + e.foldedLength;
            index.foldedOffsets[i] = e.foldedOffset;
            index.extHashes[i] = Index::ExtHashOfFolded(index.folded.data() + e.foldedOffset, e.foldedLength, IsDir(e));
        }
        dropped += count;
        if (out) needed = true;
    });
    deleted = dropped;
    return needed;
}

}  // namespace

WString LoadedVolumeStatus() {
    return ToWide("Loaded from the saved index \xE2\x80\x94 checking for changes\xE2\x80\xA6");
}

bool ReadIndexFile(ByteSource& source, LoadedIndex& image, std::string& reason) {
    try {
        return Read(source, image, reason);
    } catch (const std::bad_alloc&) {
        reason = "not enough memory to load the index";
    } catch (const std::length_error&) {
        reason = "not enough memory to load the index";
    }
    return false;
}

bool InstallIndex(Index& index, LoadedIndex& image, std::vector<std::unique_ptr<Volume>>& owner, std::string& reason,
                  LoadTimes* times, std::mutex* gate, const std::function<bool(std::string& reason)>& mayInstall) {
    LoadTimes local;
    LoadTimes& t = times ? *times : local;
    const double start = NowMs();
    try {
        Index ready;
        ready.entries.swap(image.entries);
        ready.names.swap(image.names);
        ready.folded.swap(image.folded);
        ready.openCounts.swap(image.openCounts);
        for (const auto& v : image.volumes) ready.volumes.push_back(v.get());

        uint64_t deleted = 0;
        t.compacted = FillSideTables(ready, deleted);
        if (t.compacted) {
            ready.deletedCount = deleted;
            ready.Compact();  // which fills the side tables anew
        }
        ready.RecomputeFolderTotals();
        std::bitset<Index::kMaxVolumes> folders;
        for (size_t s = 0; s < image.volumes.size(); ++s) {
            if (image.volumes[s] && image.volumes[s]->kind == VolumeKind::Folders) folders.set(s);
        }
        ready.FillNameMaps(folders, 0);
        const double sorting = NowMs();
        // The first search lists by name: its order is made here, before the
        // lock is taken, rather than under it when the first keystroke asks.
        ready.EnsureSortedBy(SortKey::Name);
        t.sortMs = NowMs() - sorting;
        t.prepareMs = NowMs() - start;

        {
            std::unique_lock<std::mutex> gated;
            if (gate) gated = std::unique_lock<std::mutex>(*gate);
            if (mayInstall && !mayInstall(reason)) return false;
            std::unique_lock<SharedMutex> hold(index.lock);
            const double locked = NowMs();
            Swap(index, ready);
            index.deletedCount = 0;
            index.garbageBytes = 0;
            index.overflow.fill(true);
            const auto name = static_cast<size_t>(SortKey::Name);
            index.orderValid[name] = true;
            index.overflow[name] = false;
            index.pathsValid = false;
            index.excludesDirty = true;
            index.epoch += 1;
            index.changes += 1;
            // Slots and their owner change together, as the engine reads both under the lock.
            owner.swap(image.volumes);
            t.exclusiveMs = NowMs() - locked;
        }
    } catch (const std::bad_alloc&) {
        reason = "not enough memory to load the index";
        return false;
    } catch (const std::length_error&) {
        reason = "not enough memory to load the index";
        return false;
    }
    t.totalMs = NowMs() - start;
    return true;
}

}  // namespace ov
