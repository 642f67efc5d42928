// The decisions of the update download that need no Windows call: which
// addresses are accepted, where the download may stop, what the checks of
// size, hash and version resource conclude, and the bar's text pieces.
#pragma once

#include <cstdint>

#include "index/platform.h"
#include "update/update_manifest.h"

// The largest download taken when the manifest gives no size.
constexpr uint64_t kDownloadHardCap = 256ull << 20;
// A smaller file is never a real program or installer.
constexpr uint64_t kSmallestDownload = 20000;

// Only https:// addresses are fetched: the update path ends by running code.
bool IsHttpsUrl(const ov::WChar* url);

// Bytes after which a download is stopped: the expected size, or the hard cap.
uint64_t DownloadLimit(uint32_t expectedBytes);
// Progress in percent, 0-100; 0 when nothing is expected.
int DownloadPercent(uint64_t total, uint32_t expectedBytes);

// What the downloaded file's size says: null when it passes, else the reason.
const char16_t* CheckDownloadSize(uint64_t fileBytes, uint32_t expectedBytes);
// The file's SHA-256 (hex) against the manifest's, case-insensitive; a digest
// that is not 64 characters never matches.
bool DigestMatches(const ov::WChar* digest, const ov::WChar* expected);
// The version resource of the download: the product this copy expects
// ("Orvane Setup" for an installed copy) and the known version.
bool VersionResourceMatches(const ov::WChar* productName, const ov::WChar* productVersion, bool installer,
                            const ov::WChar* knownVersion);

// The download's file name in tempDir: the version from the manifest with
// everything but letters, digits, '.' and '-' replaced, so it stays one name.
ov::WString DownloadFileName(const ov::WString& tempDir, const ov::WChar* version, bool installer);

// The bar's line: the first line of the notes without leading blanks and
// bullets, at most 150 characters, never cutting a surrogate pair.
ov::WString FirstNotesLine(const ov::WChar* notes);

// The texts of the download's refusals.
extern const char16_t kTextIncomplete[];
extern const char16_t kTextWrongSize[];
extern const char16_t kTextChecksum[];
extern const char16_t kTextWrongVersion[];
