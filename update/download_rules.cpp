#include "update/download_rules.h"

const char16_t kTextIncomplete[] = u"The downloaded file is incomplete. Please try again.";
const char16_t kTextWrongSize[] =
    u"The downloaded file is the wrong size \u2014 it may be damaged. Nothing was changed; please try again.";
const char16_t kTextChecksum[] =
    u"The downloaded file failed its security check (checksum mismatch) and was deleted. Nothing was changed.";
const char16_t kTextWrongVersion[] = u"The downloaded file isn't the expected Orvane version, so it was not installed.";

namespace {

ov::WChar AsciiLower(ov::WChar c) {
    return c >= 'A' && c <= 'Z' ? static_cast<ov::WChar>(c + 0x20) : c;
}

bool EqualsIgnoringAsciiCase(const ov::WChar* a, const char16_t* b) {
    for (; *a && *b; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(static_cast<ov::WChar>(*b))) return false;
    }
    return *a == 0 && *b == 0;
}

}  // namespace

bool IsHttpsUrl(const ov::WChar* url) {
    const char16_t prefix[] = u"https://";
    for (int i = 0; prefix[i]; ++i) {
        if (AsciiLower(url[i]) != static_cast<ov::WChar>(prefix[i])) return false;
    }
    return true;
}

uint64_t DownloadLimit(uint32_t expectedBytes) {
    return expectedBytes ? expectedBytes : kDownloadHardCap;
}

int DownloadPercent(uint64_t total, uint32_t expectedBytes) {
    if (expectedBytes == 0) return 0;
    const uint64_t percent = total * 100 / expectedBytes;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

const char16_t* CheckDownloadSize(uint64_t fileBytes, uint32_t expectedBytes) {
    if (fileBytes < kSmallestDownload) return kTextIncomplete;
    if (expectedBytes != 0 && fileBytes != expectedBytes) return kTextWrongSize;
    return nullptr;
}

bool DigestMatches(const ov::WChar* digest, const ov::WChar* expected) {
    if (TextLength(digest) != 64 || TextLength(expected) != 64) return false;
    for (int i = 0; i < 64; ++i) {
        if (AsciiLower(digest[i]) != AsciiLower(expected[i])) return false;
    }
    return true;
}

bool VersionResourceMatches(const ov::WChar* productName, const ov::WChar* productVersion, bool installer,
                            const ov::WChar* knownVersion) {
    if (!EqualsIgnoringAsciiCase(productName, installer ? u"Orvane Setup" : u"Orvane")) return false;
    return productVersion[0] != 0 && CompareVersions(productVersion, knownVersion) == 0;
}

ov::WString DownloadFileName(const ov::WString& tempDir, const ov::WChar* version, bool installer) {
    ov::WString name = tempDir;
    const char16_t* stem = installer ? u"Orvane-Setup-" : u"Orvane-update-";
    for (; *stem; ++stem) name += static_cast<ov::WChar>(*stem);
    for (; *version; ++version) {
        const ov::WChar c = *version;
        const bool plain =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-';
        name += plain ? c : static_cast<ov::WChar>('_');
    }
    for (const char16_t* ext = u".exe"; *ext; ++ext) name += static_cast<ov::WChar>(*ext);
    return name;
}

ov::WString FirstNotesLine(const ov::WChar* notes) {
    while (*notes == ' ' || *notes == '*' || *notes == '-' || *notes == 0x2022) ++notes;
    size_t n = 0;
    while (notes[n] && notes[n] != '\n' && n < 150) ++n;
    if (n == 150 && notes[n] && notes[n] != '\n' && notes[n - 1] >= 0xD800 && notes[n - 1] <= 0xDBFF) --n;
    return ov::WString(notes, n);
}
