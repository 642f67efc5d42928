#include "engine/index_file_writer.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <stdexcept>
#include <vector>

#include "engine/index_file_format.h"
#include "engine/volume.h"
#include "index/text.h"

namespace ov {
namespace {

// Pool bytes copied per shared hold: a few milliseconds of memcpy, and above the
// writer's straight-write threshold so the copy goes to the sink without a detour.
constexpr size_t kPoolChunkBytes = size_t{16} << 20;
constexpr int kAttempts = 3;
// Entries copied per shared hold: about a millisecond of memcpy.
constexpr size_t kTableChunkEntries = size_t{1} << 18;
constexpr int kChunkedTries = 4;
// Below this a single hold copies the table on the calling thread alone.
constexpr size_t kParallelCopyEntries = size_t{1} << 20;

struct Snapshot {
    uint64_t epoch = 0;
    std::vector<Entry> entries;
    uint64_t nameBytes = 0;
    uint64_t foldedBytes = 0;
    std::string tail;  // V and the slot blocks, P and the pairs, "END!"
};

bool PutString(std::string& out, const WString& text) {
    if (text.size() > kIndexFileMaxStringUnits) return false;
    PutU32(out, static_cast<uint32_t>(text.size()));
    for (WChar unit : text) {
        const auto u = static_cast<uint16_t>(unit);
        out.push_back(static_cast<char>(u));
        out.push_back(static_cast<char>(u >> 8));
    }
    return true;
}

uint64_t TailBytes(const Index& index) {
    uint64_t bytes = 16 + 8 * uint64_t{index.openCounts.size()};
    for (const VolumeMaps* v : index.volumes) {
        if (v) bytes += 256 + 4 * uint64_t{v->recordMap.size()} + 8 * uint64_t{v->hardLinks.size()};
    }
    return bytes;
}

// Everything after the pools, field by field. False when a text is too long
// for the file (the reader would refuse the file).
bool EncodeTail(const Index& index, std::string& out, std::string& reason) {
    out.clear();
    PutU32(out, static_cast<uint32_t>(index.volumes.size()));
    for (const VolumeMaps* maps : index.volumes) {
        if (maps == nullptr) {
            PutU32(out, 0);
            continue;
        }
        const auto& v = static_cast<const Volume&>(*maps);
        PutU32(out, 1);
        for (const WString* text : {&v.root, &v.name, &v.fileSystem, &v.label}) {
            if (!PutString(out, *text)) {
                reason = "a text of volume " + std::to_string(v.slot) + " is longer than the file allows";
                return false;
            }
        }
        PutU32(out, v.serial);
        PutU32(out, v.addedFolder ? 1 : 0);
        PutU32(out, static_cast<uint32_t>(v.kind));
        PutU64(out, v.journalId);
        PutU64(out, v.nextUsn);
        PutU32(out, v.rootEntry);
        PutU64(out, v.files);
        PutU64(out, v.folders);
        PutU32(out, static_cast<uint32_t>(v.recordMap.size()));
        out.append(reinterpret_cast<const char*>(v.recordMap.data()), v.recordMap.size() * sizeof(uint32_t));
        PutU32(out, static_cast<uint32_t>(v.hardLinks.size()));
        for (const auto& [record, entry] : v.hardLinks) {
            PutU32(out, record);
            PutU32(out, entry);
        }
    }
    PutU32(out, static_cast<uint32_t>(index.openCounts.size()));
    for (const auto& [entry, count] : index.openCounts) {
        PutU32(out, entry);
        PutU32(out, count);
    }
    out.append(kIndexFileEnd, 4);
    return true;
}

// Copies the table and encodes the tail. The buffers are sized and touched
// before the lock is taken, so the holds are memory copies. The table is copied
// a chunk per shared hold, and the copy counts only when neither the change
// counter nor the epoch moved meanwhile: every change to an entry's content
// raises one of them (the Excluded bits change without, but a load recomputes
// them anyway). The tail is encoded under the last hold, after that check.
// Should writers keep changing the index, the last try copies everything under
// a single hold, on the pool's threads.
bool TakeSnapshot(Index& index, Snapshot& snap, std::string& reason, SaveTimes& times) {
    size_t room = 0;
    uint64_t tailBytes = 0;
    {
        std::shared_lock<SharedMutex> hold(index.lock);
        room = index.entries.size();
        tailBytes = TailBytes(index);
    }
    room += room / 64 + 1024;
    snap.entries.assign(room, Entry{});
    snap.tail.assign(tailBytes + tailBytes / 64 + 4096, '\0');

    for (int attempt = 1;; ++attempt) {
        const bool single = attempt > kChunkedTries;
        std::shared_lock<SharedMutex> hold(index.lock);
        double start = NowMs();
        auto account = [&] {
            const double held = NowMs() - start;
            times.snapshotMs = std::max(times.snapshotMs, held);
            times.sharedMs += held;
        };
        const size_t n = index.entries.size();
        if (n > snap.entries.size() && !single) {
            account();
            hold.unlock();
            snap.entries.resize(n + n / 64 + 1024);
            continue;
        }
        if (n > snap.entries.size()) snap.entries.resize(n);
        const uint64_t epoch = index.epoch;
        const uint64_t changes = index.changes;
        bool moved = false;
        if (single && n >= kParallelCopyEntries) {
            const int tasks = std::max(1, index.pool.Threads());
            index.pool.Run(tasks, [&](int t) {
                const size_t lo = n * static_cast<size_t>(t) / static_cast<size_t>(tasks);
                const size_t hi = n * static_cast<size_t>(t + 1) / static_cast<size_t>(tasks);
                std::memcpy(snap.entries.data() + lo, index.entries.data() + lo, (hi - lo) * sizeof(Entry));
            });
        } else {
            for (size_t lo = 0; lo < n; lo += kTableChunkEntries) {
                if (lo > 0 && !single) {
                    account();
                    hold.unlock();
                    hold.lock();
                    start = NowMs();
                    if (index.epoch != epoch || index.changes != changes) {
                        moved = true;
                        break;
                    }
                }
                const size_t count = std::min(kTableChunkEntries, n - lo);
                std::memcpy(snap.entries.data() + lo, index.entries.data() + lo, count * sizeof(Entry));
            }
        }
        if (moved) {
            account();
            continue;
        }
        snap.entries.resize(n);
        snap.epoch = epoch;
        snap.nameBytes = index.names.size();
        snap.foldedBytes = index.folded.size();
        const bool encoded = EncodeTail(index, snap.tail, reason);
        account();
        times.snapshotTries = attempt;
        return encoded;
    }
}

enum class PoolResult { Written, Renumbered, Failed };

// Writes bytes [0, length) of one pool, copying a chunk per shared hold.
PoolResult WritePool(Index& index, std::string Index::*pool, uint64_t length, uint64_t epoch, IndexFileWriter& out,
                     std::string& chunk, SaveTimes& times) {
    for (uint64_t at = 0; at < length; at += kPoolChunkBytes) {
        const auto bytes = static_cast<size_t>(std::min<uint64_t>(kPoolChunkBytes, length - at));
        if (chunk.size() < bytes) chunk.resize(bytes);
        double held = 0;
        {
            std::shared_lock<SharedMutex> hold(index.lock);
            const double start = NowMs();
            const std::string& bytesOf = index.*pool;
            if (index.epoch != epoch || bytesOf.size() < at + bytes) return PoolResult::Renumbered;
            std::memcpy(chunk.data(), bytesOf.data() + at, bytes);
            held = NowMs() - start;
        }
        times.longestPoolHoldMs = std::max(times.longestPoolHoldMs, held);
        times.sharedMs += held;
        out.WriteBytes(chunk.data(), bytes);
        if (!out.Ok()) return PoolResult::Failed;
    }
    return PoolResult::Written;
}

bool WriteAttempt(Index& index, IndexFileWriter& out, std::string& chunk, bool& renumbered, std::string& reason,
                  SaveTimes& times) {
    renumbered = false;
    Snapshot snap;
    if (!TakeSnapshot(index, snap, reason, times)) return false;
    const uint64_t n = snap.entries.size();
    const uint64_t total =
        kIndexFileHeaderBytes + n * sizeof(Entry) + snap.nameBytes + snap.foldedBytes + snap.tail.size();
    if (total > kIndexFileMaxBytes) {
        reason = "the index needs " + std::to_string(total) + " bytes, more than the saved file may hold";
        return false;
    }
    std::string header(kIndexFileMagic, 4);
    PutU32(header, kIndexFileVersion);
    PutU32(header, static_cast<uint32_t>(n));
    PutU64(header, snap.nameBytes);
    PutU64(header, snap.foldedBytes);
    out.WriteBytes(header.data(), header.size());
    out.WriteBytes(snap.entries.data(), n * sizeof(Entry));
    snap.entries = {};
    for (auto [pool, length] :
         {std::pair{&Index::names, snap.nameBytes}, std::pair{&Index::folded, snap.foldedBytes}}) {
        if (!out.Ok()) break;
        const PoolResult result = WritePool(index, pool, length, snap.epoch, out, chunk, times);
        if (result == PoolResult::Renumbered) {
            renumbered = true;
            return false;
        }
    }
    out.WriteBytes(snap.tail.data(), snap.tail.size());
    if (!out.Finish()) {
        reason = "writing the file failed";
        return false;
    }
    times.bytes = total;
    return true;
}

}  // namespace

IndexFileWriter::IndexFileWriter(ByteSink& sink) : sink(sink) {
    buffer.reserve(kReserveBytes);
}

void IndexFileWriter::Put(const char* data, size_t length) {
    while (ok && length > 0) {
        const size_t piece = std::min(length, kMaxIoBytes);
        ok = sink.Write(data, piece);
        data += piece;
        length -= piece;
    }
}

void IndexFileWriter::Flush() {
    if (!buffer.empty()) Put(buffer.data(), buffer.size());
    buffer.clear();
}

void IndexFileWriter::WriteBytes(const void* data, size_t length) {
    const char* bytes = static_cast<const char*>(data);
    if (length > kStraightAboveBytes) {
        Flush();
        Put(bytes, length);
        return;
    }
    buffer.append(bytes, length);
    if (buffer.size() > kFlushAboveBytes) Flush();
}

bool IndexFileWriter::Finish() {
    Flush();
    return ok;
}

void IndexFileWriter::Reset() {
    buffer.clear();
    ok = true;
}

bool WriteIndexFile(Index& index, ByteSink& sink, std::string& reason, SaveTimes* times) {
    SaveTimes local;
    SaveTimes& t = times ? *times : local;
    const double start = NowMs();
    try {
        IndexFileWriter out(sink);
        std::string chunk;
        for (int attempt = 1; attempt <= kAttempts; ++attempt) {
            t.attempts = attempt;
            bool renumbered = false;
            if (WriteAttempt(index, out, chunk, renumbered, reason, t)) {
                t.writeMs = t.totalMs = NowMs() - start;
                return true;
            }
            if (!renumbered) return false;
            if (!sink.Rewind()) {
                reason = "starting the file again failed";
                return false;
            }
            out.Reset();
        }
        reason = "the index was renumbered while it was being saved, " + std::to_string(kAttempts) + " times";
    } catch (const std::bad_alloc&) {
        reason = "not enough memory to save the index";
    } catch (const std::length_error&) {
        reason = "not enough memory to save the index";
    }
    return false;
}

}  // namespace ov
