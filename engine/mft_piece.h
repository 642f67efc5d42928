// A whole volume's parsed FILE records and the index piece made from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/file_record.h"
#include "index/index.h"
#include "index/platform.h"

namespace ov {

// One reader's parsed records; its rows' offsets point into its own pools.
struct MftPart {
    std::vector<FileRec> files;       // base records
    std::vector<FileRec> extensions;  // extension records with an unnamed $DATA size; record = base
    std::vector<NameRec> nameRows;
    std::string namePool;  // UTF-8 names back to back
    std::string foldedPool;
};

// One stretch of the table inside a part: [begin, end) of its files,
// extensions and rows.
struct MftSpan {
    uint32_t part = 0;
    size_t filesBegin = 0, filesEnd = 0;
    size_t extensionsBegin = 0, extensionsEnd = 0;
    size_t rowsBegin = 0, rowsEnd = 0;
};

// What the readers of one file table produce. The parts stay where the
// readers wrote them; order says how their stretches follow in record order.
struct MftResult {
    std::vector<MftPart> parts;
    std::vector<MftSpan> order;  // empty: each part whole, one after the other
    uint32_t recordCount = 0;    // FILE records in the table
    double readMs = 0;
    uint64_t bytesRead = 0;
    uint32_t failedChunks = 0;  // stretches of the table that could not be read
    std::string error;          // why the read failed
};

// Builds the volume's piece: one entry per reachable name, the root (record 5)
// named volumeName, the record map and the further hard links. NTFS metadata
// (records 0-23 and all under $Extend), orphans and parent loops are left out.
// Consumes result's parts. False when there is no usable root, or
// with result.error set when memory ran out.
bool FromMftResult(MftResult& result, const WString& volumeName, Index::Piece& piece);

}  // namespace ov
