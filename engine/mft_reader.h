// Reads a volume's whole master file table: the layout from the boot sector and
// record 0, then every 1 MiB stretch of the table that holds an in-use record,
// parsed by several readers with devices of their own.
#pragma once

#include <atomic>

#include "engine/dev.h"
#include "engine/mft_piece.h"

namespace ov {

// Everything from opening the device to the readers' parts, on the calling
// thread plus threads - 1 reader threads. progress (may be null) rises to 1000
// per mille; cancel (may be null) ends the readers at their next chunk. False
// with result.error holding the reason. A stretch that cannot be read is
// skipped and counted in result.failedChunks.
bool MftReadAll(const DevFactory& factory, int threads, MftResult& result, std::atomic<int>* progress,
                const std::atomic<bool>* cancel);

}  // namespace ov
