// Export of all results to CSV, plain text or an EFU file list.
#pragma once

// Command 109; reports through message boxes and the status bar.
void ExportResults();
