// Writes the whole index in the saved file's layout (index_file_format.h).
//
// Design: the save must not stall searches. The index lock is a reader/writer
// lock that, on Windows, queues new readers behind a waiting writer, so a save
// holding it shared for the seconds a large file takes to write would stop
// every search as soon as a volume thread asked for it exclusively. Instead the
// writer copies the entry table, a chunk per short shared hold, into memory
// touched beforehand, and keeps the copy only when the index did not change
// meanwhile; it encodes everything after the pools (volumes, open counts) under
// the last of those holds. It then reads the pools a chunk at a time, again
// under short holds: within one epoch the pools only grow, so the bytes below
// the lengths it noted cannot change. Should the index be renumbered meanwhile,
// the writer starts again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/byte_stream.h"
#include "index/index.h"

namespace ov {

// The buffered output step: small pieces are gathered in a buffer reserved at
// 1 MiB and written out once it holds more than 4 MiB; pieces above 8 MiB are
// written straight from their memory in writes of at most 64 MiB. After a
// failed write nothing more is written.
class IndexFileWriter {
public:
    static constexpr size_t kReserveBytes = size_t{1} << 20;
    static constexpr size_t kFlushAboveBytes = size_t{4} << 20;
    static constexpr size_t kStraightAboveBytes = size_t{8} << 20;

    explicit IndexFileWriter(ByteSink& sink);
    void WriteBytes(const void* data, size_t length);
    // Writes out what is buffered; true when every write succeeded.
    bool Finish();
    bool Ok() const { return ok; }
    // Forgets everything (buffer and failure) after the sink was rewound.
    void Reset();

private:
    void Put(const char* data, size_t length);
    void Flush();

    ByteSink& sink;
    std::string buffer;
    bool ok = true;
};

// How long a save held the index lock, in milliseconds.
struct SaveTimes {
    double exclusiveMs = 0;  // compaction (SaveDb only)
    double snapshotMs = 0;   // the longest shared hold while copying the table and the volumes
    double longestPoolHoldMs = 0;
    double sharedMs = 0;  // all shared holds together
    double writeMs = 0;   // WriteIndexFile, lock holds included
    double flushMs = 0;   // the flush to the disk (SaveDb only)
    double moveMs = 0;    // putting the file in place (SaveDb only)
    double totalMs = 0;
    uint64_t bytes = 0;
    int attempts = 0;       // writes started (a renumbering starts the write again)
    int snapshotTries = 0;  // copies of the table in the last write (changes meanwhile start it again)
};

// Writes the index to sink, with "END!" last. The caller must not hold
// index.lock; every non-null slot of index.volumes must be an ov::Volume. False
// with a reason when the sink fails, when a volume's text does not fit the file,
// when the file would pass its size limit, or when the index was renumbered
// during three attempts in a row. Never throws.
bool WriteIndexFile(Index& index, ByteSink& sink, std::string& reason, SaveTimes* times = nullptr);

}  // namespace ov
