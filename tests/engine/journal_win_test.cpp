// The real journal and file-record controls on drive C:. Wine implements none
// of them and answers each with error 50, which the journal must take as a
// failure (a batch that cannot be fetched is left for later); real Windows
// (elevated) answers them.
#include <windows.h>

#include <gtest/gtest.h>

#include "engine/journal_follow.h"

namespace ov {
namespace {

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(JournalWin, RealControlsOnTheSystemDrive) {
    uint32_t error = 0;
    const auto drive = OpenJournalDrive(L"C:", error);
    if (!drive) GTEST_SKIP() << "C: cannot be opened for reading (error " << error << "): run elevated";
    const DeviceControl control = drive->Control();
    JournalData data;
    const bool queried = QueryJournal(control, data, error);
    std::vector<uint8_t> answer(kJournalReadBytes);
    uint32_t returned = 0, readError = 0;
    const bool read =
        ReadJournal(control, data.nextUsn, data.journalId, answer.data(), kJournalReadBytes, returned, readError);
    RawVolume raw(drive->Raw());
    JournalBatch batch;
    const std::atomic<bool> stop{false};
    const Index index;
    const VolumeMaps volume;
    const JournalBatch::Fetched fetched = batch.Fetch(control, raw, {UsnChange{5}}, index, volume, stop);
    if (UnderWine()) {
        EXPECT_FALSE(queried);
        EXPECT_EQ(error, kErrorNotSupported);
        EXPECT_FALSE(read);
        EXPECT_EQ(readError, kErrorNotSupported);
        // A record that cannot be fetched says nothing about the file: the batch waits.
        EXPECT_EQ(fetched, JournalBatch::Fetched::Failed);
        EXPECT_TRUE(batch.Items().empty());
        return;
    }
    ASSERT_EQ(fetched, JournalBatch::Fetched::Done);
    ASSERT_EQ(batch.Items().size(), 1u);
    ASSERT_TRUE(queried) << error;
    EXPECT_NE(data.journalId, 0u);
    EXPECT_TRUE(read) << readError;
    EXPECT_GE(returned, 8u);
    EXPECT_TRUE(batch.Items()[0].present);
    EXPECT_TRUE(batch.Items()[0].info.directory);
}

}  // namespace
}  // namespace ov
