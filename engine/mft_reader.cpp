// The readers share one list of selected chunks and take the next one with an
// atomic counter, so a fast reader takes more. Each parses into a block of its
// own and marks where each chunk's records end in it; the merge copies the
// chunks back in table order, which makes the result the same whatever the
// number of readers (a record's names from its extension records then always
// follow the same way).
#include "engine/mft_reader.h"

#include <algorithm>
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

// Where one chunk's output ends in its reader's block.
struct ChunkMark {
    uint32_t chunk;
    size_t files, extensions, rows, names, folded;
};

struct ReaderBlock {
    std::vector<FileRec> files;
    std::vector<FileRec> extensions;
    std::vector<NameRec> nameRows;
    std::string namePool;
    std::string foldedPool;
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

void ReadChunks(ReadJob& job, Dev& dev, ReaderBlock& block, size_t reserve) {
    const MftRuns& layout = job.layout;
    VirtualBuffer buffer(kChunkBytes);
    if (!buffer.data()) {
        block.outOfMemory = true;
        return;
    }
    block.files.reserve(reserve);
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
                                 block.nameRows, block.namePool, block.foldedPool, false, nullptr))
                continue;
            if (baseReference == 0) {
                block.files.push_back(rec);
            } else if (rec.sizeKnown) {
                rec.record = baseReference;
                block.extensions.push_back(rec);
            }
        }
        block.marks.push_back(ChunkMark{k, block.files.size(), block.extensions.size(), block.nameRows.size(),
                                        block.namePool.size(), block.foldedPool.size()});
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

template <class T>
void AppendSpan(std::vector<T>& to, const std::vector<T>& from, size_t begin, size_t end) {
    to.insert(to.end(), from.begin() + static_cast<ptrdiff_t>(begin), from.begin() + static_cast<ptrdiff_t>(end));
}

// Copies every chunk's output into result in table order.
bool Merge(std::vector<ReaderBlock>& blocks, MftResult& result) {
    size_t files = 0, extensions = 0, rows = 0, names = 0, folded = 0;
    std::vector<std::pair<uint32_t, std::pair<size_t, size_t>>> order;  // chunk -> (block, mark)
    for (size_t b = 0; b < blocks.size(); ++b) {
        const ReaderBlock& block = blocks[b];
        files += block.files.size();
        extensions += block.extensions.size();
        rows += block.nameRows.size();
        names += block.namePool.size();
        folded += block.foldedPool.size();
        result.bytesRead += block.bytesRead;
        result.failedChunks += block.failedChunks;
        for (size_t m = 0; m < block.marks.size(); ++m) order.push_back({block.marks[m].chunk, {b, m}});
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
    if (blocks.size() == 1) {  // one reader read its chunks in order: nothing to copy
        ReaderBlock& only = blocks[0];
        result.files = std::move(only.files);
        result.extensions = std::move(only.extensions);
        result.nameRows = std::move(only.nameRows);
        result.namePool = std::move(only.namePool);
        result.foldedPool = std::move(only.foldedPool);
        return true;
    }
    std::sort(order.begin(), order.end());
    result.files.reserve(files);
    result.extensions.reserve(extensions);
    result.nameRows.reserve(rows);
    result.namePool.reserve(names);
    result.foldedPool.reserve(folded);
    for (const auto& [chunk, at] : order) {
        const ReaderBlock& block = blocks[at.first];
        const ChunkMark& end = block.marks[at.second];
        const ChunkMark begin = at.second ? block.marks[at.second - 1] : ChunkMark{};
        AppendSpan(result.files, block.files, begin.files, end.files);
        AppendSpan(result.extensions, block.extensions, begin.extensions, end.extensions);
        const auto nameShift = static_cast<uint32_t>(result.namePool.size() - begin.names);
        const auto foldedShift = static_cast<uint32_t>(result.foldedPool.size() - begin.folded);
        for (size_t i = begin.rows; i < end.rows; ++i) {
            NameRec row = block.nameRows[i];
            row.nameOffset += nameShift;
            row.foldedOffset += foldedShift;
            result.nameRows.push_back(row);
        }
        result.namePool.append(block.namePool, begin.names, end.names - begin.names);
        result.foldedPool.append(block.foldedPool, begin.folded, end.folded - begin.folded);
    }
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
    const size_t reserve = job.chunks.size() * job.perChunk / readers + 16;

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
    if (!Merge(blocks, result)) return false;
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
    result.files = {};
    result.extensions = {};
    result.nameRows = {};
    result.namePool = {};
    result.foldedPool = {};
    result.error = "not enough memory";
    return false;
}

}  // namespace ov
