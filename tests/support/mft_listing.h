// A volume's piece written as the NTFS image oracle lists it: one sorted line
// per file or folder, "path<TAB>D|F<TAB>size<TAB>modified<TAB>created<TAB>attributes".
#pragma once

#include <string>
#include <vector>

#include "index/index.h"

namespace ov::testing {

// Attributes as the read-only mount shows them: the folder bit follows the
// entry's kind and a file with none shows FILE_ATTRIBUTE_NORMAL.
std::vector<std::string> ListPiece(const Index::Piece& piece);

// The oracle's lines; empty when the file cannot be read.
std::vector<std::string> ReadLines(const std::string& path);

// The folder of the NTFS test images (OV_NTFS_IMAGES, set by CTest); empty
// with the reason in skipReason when there is none or they could not be made.
std::string NtfsImageFolder(std::string& skipReason);

// The first lines where two sorted listings differ, for a failure message.
std::string FirstDifferences(const std::vector<std::string>& expected, const std::vector<std::string>& actual);

}  // namespace ov::testing
