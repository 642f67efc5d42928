// The engine's side of the file-table route: pin the journal, read the table
// with its readers while a progress thread reports, build the piece and merge
// it. Only the merge touches the index or the volume's journal position. A
// drive without a journal is read all the same and asked for one again later.
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

WString MftNoJournalText(uint32_t error) {
    return FormatText(200, L" - changes aren't followed while the drive's change journal is unavailable (%lu)",
                      static_cast<unsigned long>(error));
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

JournalPin Engine::PinDriveJournal(const WString& drive, const JournalSource& source) {
    JournalPin pin;
    PinJournalWith(
        source.Control(), [&](uint32_t& error) { return createJournal && createJournal(drive, error); }, pin);
    return pin;
}

bool Engine::AwaitJournal(Volume* volume) {
    const WString drive = MftDriveName(volume->root);
    for (;;) {
        if (!WaitBeforeRetry(volume, kJournalErrorWaitMs)) return false;
        uint32_t error = 0;
        const std::unique_ptr<JournalSource> source = openJournalDrive ? openJournalDrive(drive, error) : nullptr;
        if (source && PinDriveJournal(drive, *source).present) return true;
    }
}

bool Engine::MftScan(Volume* volume) {
    SetStatus(volume, VolumePhase::ReadingTable, Text(L"Reading the file table\u2026"));
    const WString drive = MftDriveName(volume->root);
    uint32_t openError = 0;
    const std::unique_ptr<JournalSource> source = openJournalDrive ? openJournalDrive(drive, openError) : nullptr;
    if (!source) {
        SetStatus(volume, VolumePhase::Failed,
                  FormatText(200, L"Couldn't open the drive (%lu)", static_cast<unsigned long>(openError)));
        return false;
    }
    const JournalPin pin = PinDriveJournal(drive, *source);
    if (!pin.present)
        Log(L"%ls: no change journal (%lu); read without one, asking again every %u s", Arg(volume->name).c_str(),
            static_cast<unsigned long>(pin.error), kJournalErrorWaitMs / 1000);
    const bool hardDisk = SeekPenaltyWith(source->Control());
    const int readers = MftReaderCount(readerThreads, hardDisk, pool.Threads());

    MftResult result;
    std::atomic<int> progress{0};
    ProgressReporter reporter(
        *this, volume, VolumePhase::ReadingTable, kProgressMs, [&progress] { return MftProgressText(progress.load()); },
        [volume] { return volume->stop.load(); });
    const bool read = MftReadAll(source->Raw(), readers, result, &progress, &volume->stop);
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
              MftDoneText(volume->files, volume->folders, volume->scanMs, readers, result.failedChunks) +
                  (pin.present ? WString() : MftNoJournalText(pin.error)));
    PostIndexChanged();
    return true;
}

}  // namespace ov
