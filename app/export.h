// Export of all results to CSV, plain text or an EFU file list.
#pragma once

#include <functional>

// Command 109; reports through message boxes and the status bar.
void ExportResults();

// Tests: called between two batches of rows, with the index lock let go.
void SetExportBatchHookForTesting(std::function<void()> hook);
