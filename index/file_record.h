// Parsed NTFS FILE records as the index consumes them: one FileRec per record and
// one NameRec per kept name. Made by the file-table reader and the change journal,
// reconciled into the index by Index::ApplyFile.
#pragma once

#include <cstdint>

namespace ov {

struct FileRec {
    uint32_t record = 0;      // base record number
    uint32_t attributes = 0;  // FILE_ATTRIBUTE_* from $STANDARD_INFORMATION
    uint64_t size = 0;        // unnamed $DATA
    uint64_t modified = 0;
    uint64_t created = 0;
    bool directory = false;
    bool sizeKnown = false;
};

struct NameRec {
    uint32_t record = 0;        // base record number
    uint32_t parent = 0;        // parent folder's record number
    uint32_t nameOffset = 0;    // into the name pool
    uint32_t foldedOffset = 0;  // into the folded pool
    uint16_t nameLength = 0;
    uint16_t foldedLength = 0;
    uint8_t nameSpace = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
};

}  // namespace ov
