// Substring search used by term matching, the needle scan of the folded-name pool
// and the folder-match bytes.
#pragma once

#include <cstddef>

namespace ov {

// Leftmost occurrence of needle in haystack, or null. An empty needle is found at
// the start of the haystack.
const char* MemMem(const char* haystack, size_t haystackLength, const char* needle, size_t needleLength);

}  // namespace ov
