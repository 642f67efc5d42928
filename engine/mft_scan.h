// The parts of a volume's file-table scan that need no engine: the drive name
// of a root, the number of readers and the status texts.
#pragma once

#include <cstdint>

#include "index/platform.h"

namespace ov {

// "C:" of "C:\" (at most the first two characters).
WString MftDriveName(const WString& root);

// The reader-thread setting when it is 1 or more; else one reader on a disk
// that seeks, or the pool's threads clamped to 4..8.
int MftReaderCount(int setting, bool hardDisk, int poolThreads);

// "Reading the file table… 42%" for 420 per mille.
WString MftProgressText(int permille);

// The done text. failedChunks > 0 says that parts of the table are missing.
WString MftDoneText(uint64_t files, uint64_t folders, double scanMs, int readers, uint32_t failedChunks);
// Added to the done text of a drive read without a change journal (error: why).
WString MftNoJournalText(uint32_t error);

}  // namespace ov
