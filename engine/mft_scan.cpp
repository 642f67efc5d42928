// The engine's side of the file-table route: pin the journal, read the table
// with its readers while a progress thread reports, build the piece and merge
// it. Only the merge touches the index or the volume's journal position.
#include "engine/mft_scan.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "engine/dev.h"
#include "engine/drive_probe.h"
#include "engine/engine.h"
#include "engine/mft_piece.h"
#include "engine/mft_reader.h"
#include "engine/progress_reporter.h"
#include "engine/wide_text.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kProgressMs = 250;

}  // namespace

WString MftDriveName(const WString& root) {
    return root.substr(0, std::min<size_t>(2, root.size()));
}

int MftReaderCount(int setting, bool hardDisk, int poolThreads) {
    if (setting >= 1) return setting;
    if (hardDisk) return 1;
    return std::clamp(poolThreads, 4, 8);
}

WString MftProgressText(int permille) {
    return ToWide("Reading the file table\u2026 " + std::to_string(std::max(permille, 0) / 10) + "%");
}

WString MftDoneText(uint64_t files, uint64_t folders, double scanMs, int readers, uint32_t failedChunks) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Indexed %llu files and %llu folders in %.2f seconds (read the NTFS file table, %d thread%s)",
                  static_cast<unsigned long long>(files), static_cast<unsigned long long>(folders), scanMs / 1000.0,
                  readers, readers == 1 ? "" : "s");
    std::string done = text;
    if (failedChunks)
        done += " - " + std::to_string(failedChunks) + (failedChunks == 1 ? " part" : " parts") +
                " of the file table couldn't be read";
    return ToWide(done);
}

bool Engine::MftScan(Volume* volume) {
    SetStatus(volume, VolumePhase::ReadingTable, Text(L"Reading the file table\u2026"));
    const WString drive = MftDriveName(volume->root);
    const JournalPin pin = PinJournal(drive);
    if (!pin.opened) {
        SetStatus(volume, VolumePhase::Failed,
                  FormatText(200, L"Couldn't open the drive (%lu)", static_cast<unsigned long>(pin.openError)));
        return false;
    }
    const bool hardDisk = IncursSeekPenalty(drive);
    const int readers = MftReaderCount(readerThreads, hardDisk, pool.Threads());

    MftResult result;
    std::atomic<int> progress{0};
    ProgressReporter reporter(
        *this, volume, VolumePhase::ReadingTable, kProgressMs, [&progress] { return MftProgressText(progress.load()); },
        [volume] { return volume->stop.load(); });
    const bool read = MftReadAll(DriveDevFactory(drive), readers, result, &progress, &volume->stop);
    reporter.Finish();

    if (volume->stop.load()) return false;  // the last progress text stays
    if (!read) {
        SetStatus(volume, VolumePhase::Failed, Text(L"Couldn't read the file table: ") + ToWide(result.error));
        return false;
    }
    if (result.failedChunks > 0)
        Log(L"%ls: %u parts of the file table couldn't be read", Arg(volume->name).c_str(),
            static_cast<unsigned>(result.failedChunks));

    const double t1 = NowMs();
    const double readMs = result.readMs;
    const double megabytes = static_cast<double>(result.bytesRead) / (1024.0 * 1024.0);
    Index::Piece piece;
    if (!FromMftResult(result, volume->name, piece)) {
        SetStatus(volume, VolumePhase::Failed,
                  result.error.empty() ? Text(L"The file table didn't make sense")
                                       : Text(L"Couldn't read the file table: ") + ToWide(result.error));
        return false;
    }
    const double t2 = NowMs();
    Log(L"%ls: MFT read %.0f ms (%.0f MB, %d threads, %ls), built %zu entries in %.0f ms", Arg(volume->name).c_str(),
        readMs, megabytes, readers, hardDisk ? L"hard disk" : L"SSD", piece.entries.size(), t2 - t1);

    {
        std::unique_lock<SharedMutex> guard(lock);
        if (!MergePiece(volume, VolumeKind::FileTable, piece, guard)) return false;
        volume->journalId = pin.present ? pin.journalId : 0;
        volume->nextUsn = pin.nextUsn;
        volume->rescan = false;
        volume->scanMs = (NowMs() - t1) + readMs;
    }
    Log(L"%ls: merged into the index in %.0f ms", Arg(volume->name).c_str(), NowMs() - t2);
    SetStatus(volume, VolumePhase::Indexed,
              MftDoneText(volume->files, volume->folders, volume->scanMs, readers, result.failedChunks));
    PostIndexChanged();
    return true;
}

}  // namespace ov
