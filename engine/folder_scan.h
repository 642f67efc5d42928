// The folder scanner's pieces: the long-path form of the paths it hands the
// file system, what its walkers collect, and the piece built from that.
// Engine::FolderScan (folder_scan.cpp) walks a volume with 2 to 16 walkers and
// merges the piece with Ingest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/index.h"
#include "index/platform.h"

namespace ov {

// "\\?\" + path, "\\?\UNC\server\share..." for a network path; a path already in
// that form is returned unchanged.
WString LongPath(const WString& path);

// The UTF-8 name and folded name of a name as the file system reports it, as
// the index stores them; scratch is reused between calls.
void NameAndFolded(const WChar* units, size_t count, std::string& name, std::string& folded, WString& scratch);

// Walkers for a pool of poolThreads threads: twice as many, 2 to 16.
int ScanWalkers(int poolThreads);

// One folder waiting to be listed.
struct DirItem {
    uint32_t id = 0;  // scan id = entry number in the piece; the root is 0
    WString path;     // ends in '\'
};

// One file or folder found. Packed to the 48 bytes of an entry: a walk of
// millions of items holds one of these per item until the piece is built.
#pragma pack(push, 4)
struct ScanRec {
    uint32_t id;
    uint32_t parentId;
    uint32_t flags;  // low word of the attributes, plus Directory for a folder
    uint64_t size;   // 0 for a folder
    uint64_t modified;
    uint64_t created;
    uint32_t nameOffset;  // in the bucket's names
    uint32_t foldedOffset;
    uint16_t nameLength;
    uint16_t foldedLength;
};
#pragma pack(pop)
static_assert(sizeof(ScanRec) == 48, "a scan record is as small as an entry");

// Bytes appended in fixed chunks, so growing never copies what is there and the
// piece can take them chunk by chunk, freeing each.
class ByteChunks {
public:
    static constexpr size_t kChunkBytes = size_t{1} << 20;
    // Appends bytes and one NUL; returns the bytes' offset.
    uint64_t Append(std::string_view bytes);
    uint64_t Size() const { return size; }
    // Appends everything to out and frees the chunks.
    void MoveTo(std::string& out);

private:
    std::vector<std::string> chunks;
    uint64_t size = 0;
};

// What one walker produces; only that walker writes it.
struct ScanBucket {
    static constexpr size_t kRecordsPerChunk = size_t{1} << 16;
    std::vector<std::vector<ScanRec>> records;  // in chunks, for the same reason as the names
    ByteChunks names;                           // each name followed by one NUL
    ByteChunks folded;

    // False, adding nothing, when the bucket's names would pass 4 GiB.
    bool Add(const ScanRec& rec, std::string_view name, std::string_view foldedName);
    size_t Count() const;
};

// Builds the piece of a completed walk: entry 0 is the root named rootName
// (UTF-8), entry i the record with scan id i. The pools are the buckets' bytes
// one after another (names need not lie in entry order: Ingest copies each by
// its offset). Empties the buckets. False when the ids 1..count-1 are not each
// found exactly once or the pools would pass 4 GiB. May throw std::bad_alloc.
bool BuildScanPiece(std::vector<ScanBucket>& buckets, uint32_t count, std::string_view rootName, Index::Piece& piece);

}  // namespace ov
