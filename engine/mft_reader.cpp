// The readers share one list of selected chunks and take the next one with an
// atomic counter, so a fast reader takes more. Each parses into a part of its
// own and marks where each chunk's records end in it. Nothing is copied
// afterwards: the result keeps the parts and lists the chunks' stretches in
// table order, which makes the piece the same whatever the number of readers
// (a record's names from its extension records then always follow the same
// way). Fresh memory is the main cost on a cold start, so each part is
// reserved once, from the in-use count and the first chunk's name bytes.
#include "engine/mft_reader.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/file_record_parser.h"
#include "engine/mft_layout.h"
#include "engine/virtual_buffer.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kChunkBytes = 0x100000;

// Where one chunk's output ends in its reader's part.
struct ChunkMark {
    uint32_t chunk;
    size_t files, extensions, rows;
};

struct ReaderBlock {
    MftPart part;
    uint64_t bytesRead = 0;
    std::vector<ChunkMark> marks;
    uint32_t failedChunks = 0;
    bool outOfMemory = false;
};

struct ReadJob {
    explicit ReadJob(const MftRuns& layout) : layout(layout) {}
    const MftRuns& layout;
    std::vector<uint32_t> chunks;  // selected chunk numbers, ascending
    uint32_t perChunk = 0;
    uint32_t records = 0;
    const std::atomic<bool>* cancel = nullptr;
    std::atomic<int>* progress = nullptr;
    std::atomic<uint32_t> next{0};
    std::atomic<uint32_t> done{0};
};

bool InUse(const std::vector<uint8_t>& bitmap, uint32_t record) {
    return bitmap.empty() || (bitmap[record / 8] >> (record % 8)) & 1;
}

bool AnyInUse(const std::vector<uint8_t>& bitmap, uint32_t first, uint32_t end) {
    if (bitmap.empty()) return true;
    for (uint32_t r = first; r < end;) {
        if (r % 8 == 0 && end - r >= 8) {
            if (bitmap[r / 8]) return true;
            r += 8;
        } else {
            if (InUse(bitmap, r)) return true;
            ++r;
        }
    }
    return false;
}

size_t InUseCount(const std::vector<uint8_t>& bitmap, uint32_t records) {
    if (bitmap.empty()) return records;
    size_t count = 0;
    uint32_t r = 0;
    for (; r + 8 <= records; r += 8) count += static_cast<size_t>(std::popcount(bitmap[r / 8]));
    for (; r < records; ++r) count += InUse(bitmap, r);
    return count;
}

// Reserves a part's pools for `records` records at the bytes per record seen so
// far, so that they grow at most rarely. Odd first records (many or long
// names) are not taken for typical: past kTypicalNameBytes the pools grow as
// they need; and a reservation that cannot be had is only a lost shortcut.
constexpr size_t kTypicalNameBytes = 64;

void ReservePools(MftPart& part, size_t parsed, size_t records) {
    if (parsed == 0) return;
    const auto room = [&](size_t bytes) { return std::min(bytes / parsed + 1, kTypicalNameBytes) * records + 4096; };
    try {
        part.namePool.reserve(room(part.namePool.size()));
        part.foldedPool.reserve(room(part.foldedPool.size()));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

void ReadChunks(ReadJob& job, Dev& dev, ReaderBlock& block, size_t reserve) {
    const MftRuns& layout = job.layout;
    VirtualBuffer buffer(kChunkBytes);
    if (!buffer.data()) {
        block.outOfMemory = true;
        return;
    }
    MftPart& part = block.part;
    part.files.reserve(reserve);
    part.nameRows.reserve(reserve);
    size_t parsed = 0;
    const uint32_t recordSize = layout.recordSize;
    for (;;) {
        if (job.cancel && job.cancel->load()) return;
        const uint32_t k = job.next.fetch_add(1);
        if (k >= job.chunks.size()) return;
        const uint32_t first = job.chunks[k] * job.perChunk;
        const uint32_t count = std::min(job.perChunk, job.records - first);
        if (!ReadRuns(&dev, layout, layout.runs, uint64_t{first} * recordSize, buffer.data(),
                      uint64_t{count} * recordSize)) {
            ++block.failedChunks;
            continue;
        }
        block.bytesRead += uint64_t{count} * recordSize;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t r = first + i;
            if (!InUse(layout.bitmap, r)) continue;
            FileRec rec;
            uint32_t baseReference = 0;
            if (!ParseFileRecord(buffer.data() + uint64_t{i} * recordSize, recordSize, r, rec, baseReference,
                                 part.nameRows, part.namePool, part.foldedPool, false, nullptr))
                continue;
            if (baseReference == 0) {
                part.files.push_back(rec);
            } else if (rec.sizeKnown) {
                rec.record = baseReference;
                part.extensions.push_back(rec);
            }
        }
        if (parsed == 0) {
            parsed = part.files.size() + part.extensions.size();
            ReservePools(part, parsed, reserve);
        }
        block.marks.push_back(ChunkMark{k, part.files.size(), part.extensions.size(), part.nameRows.size()});
        const uint32_t finished = job.done.fetch_add(1) + 1;
        if (job.progress) job.progress->store(static_cast<int>(uint64_t{finished} * 1000 / job.chunks.size()));
    }
}

// Runs one reader; no exception leaves it.
void RunReader(ReadJob& job, Dev* own, const DevFactory* factory, ReaderBlock& block, size_t reserve) {
    try {
        std::unique_ptr<Dev> opened;
        if (!own) {
            opened = (*factory)();
            own = opened.get();
        }
        if (own) ReadChunks(job, *own, block, reserve);
    } catch (const std::bad_alloc&) {
        block.outOfMemory = true;
    } catch (const std::length_error&) {
        block.outOfMemory = true;
    }
}

// Hands the parts to result with their chunks' stretches in table order.
bool Assemble(std::vector<ReaderBlock>& blocks, MftResult& result) {
    size_t files = 0, rows = 0, names = 0, folded = 0;
    std::vector<std::pair<uint32_t, std::pair<uint32_t, size_t>>> order;  // chunk -> (block, mark)
    for (size_t b = 0; b < blocks.size(); ++b) {
        const ReaderBlock& block = blocks[b];
        files += block.part.files.size();
        rows += block.part.nameRows.size();
        names += block.part.namePool.size();
        folded += block.part.foldedPool.size();
        result.bytesRead += block.bytesRead;
        result.failedChunks += block.failedChunks;
        for (size_t m = 0; m < block.marks.size(); ++m)
            order.push_back({block.marks[m].chunk, {static_cast<uint32_t>(b), m}});
    }
    if (files == 0) {
        result.error = "the drive couldn't be read";
        return false;
    }
    // The piece adds one NUL per name and the drive's own name; its pools
    // hold 32-bit offsets.
    if (names + rows + 4096 > Index::kMaxPoolBytes || folded + rows + 4096 > Index::kMaxPoolBytes) {
        result.error = "too many names for the index";
        return false;
    }
    std::sort(order.begin(), order.end());
    result.order.reserve(order.size());
    for (const auto& [chunk, at] : order) {
        const ReaderBlock& block = blocks[at.first];
        const ChunkMark& end = block.marks[at.second];
        const ChunkMark begin = at.second ? block.marks[at.second - 1] : ChunkMark{};
        result.order.push_back(
            MftSpan{at.first, begin.files, end.files, begin.extensions, end.extensions, begin.rows, end.rows});
    }
    result.parts.reserve(blocks.size());
    for (ReaderBlock& block : blocks) result.parts.push_back(std::move(block.part));
    return true;
}

bool ReadAll(const DevFactory& factory, int threads, MftResult& result, std::atomic<int>* progress,
             const std::atomic<bool>* cancel) {
    const double t0 = NowMs();
    std::unique_ptr<Dev> dev = factory();
    if (!dev) {
        result.error = "couldn't open the drive";
        return false;
    }
    MftRuns layout;
    uint32_t records = 0;
    if (!ReadMftLayout(*dev, layout, records)) {
        result.error = layout.message;
        return false;
    }
    result.recordCount = records;

    ReadJob job(layout);
    job.perChunk = kChunkBytes / layout.recordSize;
    job.records = records;
    job.cancel = cancel;
    job.progress = progress;
    const uint32_t chunkCount = static_cast<uint32_t>((uint64_t{records} + job.perChunk - 1) / job.perChunk);
    for (uint32_t c = 0; c < chunkCount; ++c) {
        const uint32_t first = c * job.perChunk;
        if (AnyInUse(layout.bitmap, first, first + std::min(job.perChunk, records - first))) job.chunks.push_back(c);
    }
    const int readers =
        static_cast<int>(std::max<size_t>(1, std::min<size_t>(std::max(threads, 1), job.chunks.size())));
    // A reader's share of the in-use records, with room for taking more chunks
    // than its share; what stays untouched costs no memory.
    const size_t reserve = InUseCount(layout.bitmap, records) / readers / 2 * 3 + 1024;

    std::vector<ReaderBlock> blocks(readers);
    std::vector<std::thread> started;
    started.reserve(readers);
    for (int n = 1; n < readers; ++n) {
        try {
            started.emplace_back(RunReader, std::ref(job), nullptr, &factory, std::ref(blocks[n]), reserve);
        } catch (const std::system_error&) {
            break;  // the readers that run take the remaining chunks
        }
    }
    RunReader(job, dev.get(), nullptr, blocks[0], reserve);
    for (std::thread& t : started) t.join();

    if (cancel && cancel->load()) {
        result.error = "cancelled";
        return false;
    }
    for (const ReaderBlock& block : blocks) {
        if (block.outOfMemory) {
            result.error = "not enough memory";
            return false;
        }
    }
    if (!Assemble(blocks, result)) return false;
    result.readMs = NowMs() - t0;
    return true;
}

}  // namespace

bool MftReadAll(const DevFactory& factory, int threads, MftResult& result, std::atomic<int>* progress,
                const std::atomic<bool>* cancel) {
    try {
        return ReadAll(factory, threads, result, progress, cancel);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    result.parts = {};
    result.order = {};
    result.error = "not enough memory";
    return false;
}

}  // namespace ov
