#include "tests/support/journal_drive.h"

#include <algorithm>
#include <cstring>

#include "engine/file_record_parser.h"
#include "engine/le_bytes.h"
#include "index/text.h"

namespace ov::testing {
namespace {

bool InUse(const std::vector<uint8_t>& record) {
    return record.size() >= 0x18 && std::memcmp(record.data(), "FILE", 4) == 0 && (LeU16(record.data() + 0x16) & 1);
}

template <class T>
void PutLe(std::vector<uint8_t>& out, size_t at, T value) {
    std::memcpy(out.data() + at, &value, sizeof value);
}

}  // namespace

bool JournalDrive::Load(const std::string& image, std::string& error) {
    path = image;
    dev = DriveDevFactory(ToWide(image))();
    if (!dev) {
        error = "cannot open " + image;
        return false;
    }
    if (!ReadMftLayout(*dev, layout, records)) {
        error = layout.message;
        return false;
    }
    return true;
}

void JournalDrive::Put(uint32_t record, std::vector<uint8_t> bytes) {
    placed[record] = std::move(bytes);
    records = std::max(records, record + 1);
}

void JournalDrive::SetSequence(uint32_t record, uint16_t sequence) {
    std::vector<uint8_t>& bytes = placed.at(record);
    PutLe<uint16_t>(bytes, 0x10, sequence);
}

std::vector<uint8_t> JournalDrive::Record(uint32_t record) {
    if (const auto it = placed.find(record); it != placed.end()) return it->second;
    std::vector<uint8_t> bytes(layout.recordSize);
    if (!dev || record >= records ||
        !ReadRuns(dev.get(), layout, layout.runs, uint64_t{record} * layout.recordSize, bytes.data(), bytes.size()))
        return {};
    return bytes;
}

// As the drive does: a record not in use is answered with the nearest lower
// one that is.
bool JournalDrive::Answer(uint32_t asked, uint8_t* out, uint32_t outSize, uint32_t& returned) {
    if (records == 0) return false;
    for (int64_t r = std::min<int64_t>(asked, int64_t{records} - 1); r >= 0; --r) {
        std::vector<uint8_t> record = Record(static_cast<uint32_t>(r));
        if (!InUse(record)) continue;
        if (fixedUp) ApplyUpdateSequence(record.data(), static_cast<uint32_t>(record.size()), true);
        const auto length = static_cast<uint32_t>(record.size());
        if (12 + length > outSize) return false;
        std::vector<uint8_t> header(12);
        PutLe<uint64_t>(header, 0, static_cast<uint64_t>(r) | uint64_t{LeU16(record.data() + 0x10)} << 48);
        PutLe<uint32_t>(header, 8, length);
        std::memcpy(out, header.data(), 12);
        std::memcpy(out + 12, record.data(), length);
        const auto cut = cutAnswer.find(asked);
        returned = 12 + length - (cut == cutAnswer.end() ? 0 : std::min(cut->second, length));
        return true;
    }
    return false;
}

DeviceControl JournalDrive::Control() {
    return [this](uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t& returned,
                  uint32_t& error) {
        returned = 0;
        error = 0;
        if (code == kQueryUsnJournal) {
            if (queryError) {
                error = queryError;
                return false;
            }
            const uint64_t fields[3] = {journal.journalId, journal.firstUsn, journal.nextUsn};
            std::memcpy(out, fields, std::min<size_t>(outSize, sizeof fields));
            returned = std::min<uint32_t>(outSize, 56);
            return true;
        }
        if (code == kReadUsnJournal && inSize == 40) {
            uint64_t start;
            std::memcpy(&start, in, 8);
            readFrom.push_back(start);
            if (reads.empty()) {
                std::memcpy(out, &start, 8);
                returned = 8;
                return true;
            }
            Read read = std::move(reads.front());
            reads.pop_front();
            if (read.error) {
                error = read.error;
                return false;
            }
            returned = static_cast<uint32_t>(std::min<size_t>(outSize, read.bytes.size()));
            std::memcpy(out, read.bytes.data(), returned);
            return true;
        }
        if (code == kGetNtfsFileRecord && inSize == 8) {
            uint64_t reference;
            std::memcpy(&reference, in, 8);
            const auto asked = static_cast<uint32_t>(reference);
            fetches[asked] += 1;
            if (onFetch) onFetch(asked);
            if (const auto it = fetchError.find(asked); it != fetchError.end()) {
                error = it->second;
                return false;
            }
            if (Answer(asked, static_cast<uint8_t*>(out), outSize, returned)) return true;
            error = kErrorInvalidParameter;
            return false;
        }
        error = kErrorNotSupported;
        return false;
    };
}

DevFactory JournalDrive::Raw() {
    return [this]() -> std::unique_ptr<Dev> { return path.empty() ? nullptr : DriveDevFactory(ToWide(path))(); };
}

std::vector<uint8_t> JournalAnswer(uint64_t next) {
    std::vector<uint8_t> answer(8);
    PutLe<uint64_t>(answer, 0, next);
    return answer;
}

void AppendUsnRecord(std::vector<uint8_t>& answer, uint16_t version, uint64_t reference, uint32_t nameUnits) {
    const uint32_t nameAt = version == 3 ? 76 : 60;
    const uint32_t length = (nameAt + 2 * nameUnits + 7) / 8 * 8;
    const size_t at = answer.size();
    answer.resize(at + length, 0);
    PutLe<uint32_t>(answer, at, length);
    PutLe<uint16_t>(answer, at + 4, version);
    PutLe<uint64_t>(answer, at + 8, reference);  // the low half of a version 3 id
    PutLe<uint16_t>(answer, at + nameAt - 2, static_cast<uint16_t>(nameAt));
    PutLe<uint16_t>(answer, at + nameAt - 4, static_cast<uint16_t>(2 * nameUnits));
    for (uint32_t u = 0; u < nameUnits; ++u)
        PutLe<uint16_t>(answer, at + nameAt + 2 * u, static_cast<uint16_t>('a' + u));
}

}  // namespace ov::testing
