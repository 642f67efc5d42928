#include "engine/drive_probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace ov {
namespace {

// A device that answers the journal controls as told and records the calls.
struct FakeDrive {
    bool active = false;
    bool creatable = true;
    bool seeks = false;
    bool answersSeek = true;
    uint32_t queryError = 0;  // answered to every query when not 0
    std::vector<uint32_t> calls;

    DeviceControl Control() {
        return [this](uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t& returned,
                      uint32_t& error) {
            calls.push_back(code);
            if (code == kCreateUsnJournal) {
                EXPECT_EQ(inSize, 16u);
                uint64_t maximum;
                std::memcpy(&maximum, in, 8);
                EXPECT_EQ(maximum, 0x2000000u);
                active = creatable;
                error = creatable ? 0 : 5;
                return creatable;
            }
            if (code == kQueryUsnJournal) {
                if (queryError || !active) {
                    error = queryError ? queryError : kErrorJournalNotActive;
                    return false;
                }
                const uint64_t fields[3] = {0xABCD, 0, 4242};  // id, first USN, next USN
                std::memcpy(out, fields, sizeof fields);
                returned = outSize;
                return true;
            }
            if (code == kQueryStorageProperty && answersSeek) {
                static_cast<uint8_t*>(out)[8] = seeks;
                returned = 12;
                return true;
            }
            error = 50;  // what Wine answers
            return false;
        };
    }
};

// A journal not active is created and queried again; one being deleted is
// neither used nor replaced; a refused creation says why.
TEST(DriveProbe, JournalIsCreatedWhenNotActive) {
    struct Case {
        bool active, creatable;
        uint32_t queryError;
        bool present;
        uint32_t error;
        size_t calls;
    } cases[] = {{true, true, 0, true, 0, 1},
                 {false, true, 0, true, 0, 3},
                 {false, false, 0, false, 5, 2},
                 {false, true, kErrorJournalDeleteInProgress, false, kErrorJournalDeleteInProgress, 1}};
    for (const Case& c : cases) {
        FakeDrive drive;
        drive.active = c.active;
        drive.creatable = c.creatable;
        drive.queryError = c.queryError;
        JournalPin pin;
        PinJournalWith(
            drive.Control(), [&](uint32_t& error) { return CreateJournalWith(drive.Control(), error); }, pin);
        EXPECT_EQ(pin.present, c.present);
        EXPECT_EQ(pin.error, c.error);
        EXPECT_EQ(pin.journalId, c.present ? 0xABCDu : 0u);
        EXPECT_EQ(pin.nextUsn, c.present ? 4242u : 0u);
        EXPECT_EQ(drive.calls.size(), c.calls);
    }
}

TEST(DriveProbe, SeekPenalty) {
    FakeDrive drive;
    EXPECT_FALSE(SeekPenaltyWith(drive.Control()));
    drive.seeks = true;
    EXPECT_TRUE(SeekPenaltyWith(drive.Control()));
    drive.answersSeek = false;
    EXPECT_FALSE(SeekPenaltyWith(drive.Control()));  // unanswered: solid-state
}

}  // namespace
}  // namespace ov
