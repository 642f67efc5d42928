// A drive's change journal for tests: FILE records served as the file-record
// control serves them, from an NTFS image read through the reader's own layout
// code or from hand-made records, and a scripted queue of journal reads with
// their error codes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/dev.h"
#include "engine/drive_handle.h"
#include "engine/mft_layout.h"
#include "engine/usn_journal.h"

namespace ov::testing {

class JournalDrive {
public:
    // Serves the FILE records of an image. False with the reason when its
    // layout cannot be read.
    bool Load(const std::string& image, std::string& error);
    // A finished record served in place of the image's.
    void Put(uint32_t record, std::vector<uint8_t> bytes);
    // Serves the record's header with another sequence number (its file was
    // deleted and the record taken by another one).
    void SetSequence(uint32_t record, uint16_t sequence);
    // The record's bytes as stored (no fixups undone); empty beyond the table.
    std::vector<uint8_t> Record(uint32_t record);
    uint32_t Records() const { return records; }

    DeviceControl Control();
    // Raw reads of the image.
    DevFactory Raw();

    JournalData journal{0x1D2E3F, 16, 4096};
    uint32_t queryError = 0;  // the query fails with it when not 0
    struct Read {
        std::vector<uint8_t> bytes;  // the answer as returned
        uint32_t error = 0;          // the read fails with it when not 0
    };
    // Once the scripted reads are used up, a read answers the next USN alone.
    std::deque<Read> reads;
    std::vector<uint64_t> readFrom;   // StartUsn of every read
    std::map<uint32_t, int> fetches;  // file-record requests per record asked for
    std::function<void(uint32_t record)> onFetch;
    bool fixedUp = false;                     // serve records with their update sequence already undone
    std::map<uint32_t, uint32_t> cutAnswer;   // record -> bytes its answer falls short of its length
    std::map<uint32_t, uint32_t> fetchError;  // record -> the error its file-record request fails with

private:
    bool Answer(uint32_t asked, uint8_t* out, uint32_t outSize, uint32_t& returned);

    std::string path;
    std::unique_ptr<Dev> dev;
    MftRuns layout;
    uint32_t records = 0;
    std::map<uint32_t, std::vector<uint8_t>> placed;
};

// A read's answer: the next USN, then the journal records appended to it.
std::vector<uint8_t> JournalAnswer(uint64_t next);
// Appends a journal record of the version (2, 3, or anything else) naming the
// file reference, with a name of nameUnits UTF-16 units, padded to 8 bytes.
void AppendUsnRecord(std::vector<uint8_t>& answer, uint16_t version, uint64_t reference, uint32_t nameUnits = 5);

}  // namespace ov::testing
