// Reads a volume's file table and prints its piece as the image oracle lists
// it. The Wine harness runs it on a raw drive: mft_list DEVICE VOLUME READERS.
// On Windows DEVICE is a drive name ("X:") opened as "\\.\X:"; natively a path.
// With a fifth argument "--count" only the counts are printed (for timing and
// peak memory).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/dev.h"
#include "engine/mft_reader.h"
#include "index/text.h"
#include "tests/support/mft_listing.h"

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "--count")) {
        std::fprintf(stderr, "usage: mft_list DEVICE VOLUME READERS [--count]\n");
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // the oracle's line ends
#endif
    ov::MftResult result;
    if (!ov::MftReadAll(ov::DriveDevFactory(ov::ToWide(argv[1], std::char_traits<char>::length(argv[1]))),
                        std::atoi(argv[3]), result, nullptr, nullptr)) {
        std::fprintf(stderr, "Couldn't read the file table: %s\n", result.error.c_str());
        return 1;
    }
    std::fprintf(stderr, "%u records, %u chunks unread, %.0f ms\n", result.recordCount, result.failedChunks,
                 result.readMs);
    ov::Index::Piece piece;
    const double t1 = ov::NowMs();
    if (!ov::FromMftResult(result, ov::ToWide(argv[2], std::char_traits<char>::length(argv[2])), piece)) {
        std::fprintf(stderr, "The file table didn't make sense\n");
        return 1;
    }
    if (argc == 5) {
        std::printf("built in %.0f ms: %zu entries, %llu files, %llu folders\n", ov::NowMs() - t1, piece.entries.size(),
                    static_cast<unsigned long long>(piece.files), static_cast<unsigned long long>(piece.folders));
        return 0;
    }
    for (const std::string& line : ov::testing::ListPiece(piece)) std::printf("%s\n", line.c_str());
    return 0;
}
