// A whole volume's parsed FILE records and the index piece made from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/file_record.h"
#include "index/index.h"
#include "index/platform.h"

namespace ov {

// What the readers of one file table produce, merged in record order.
struct MftResult {
    std::vector<FileRec> files;       // base records
    std::vector<FileRec> extensions;  // extension records with an unnamed $DATA size; record = base
    std::vector<NameRec> nameRows;
    std::string namePool;  // UTF-8 names back to back
    std::string foldedPool;
    uint32_t recordCount = 0;  // FILE records in the table
    double readMs = 0;
    uint64_t bytesRead = 0;
    uint32_t failedChunks = 0;  // stretches of the table that could not be read
    std::string error;          // why the read failed
};

// Builds the volume's piece: one entry per reachable name, the root (record 5)
// named volumeName, the record map and the further hard links. NTFS metadata
// (records 0-23 and all under $Extend), orphans and parent loops are left out.
// Consumes result's vectors and pools. False when there is no usable root, or
// with result.error set when memory ran out.
bool FromMftResult(MftResult& result, const WString& volumeName, Index::Piece& piece);

}  // namespace ov
