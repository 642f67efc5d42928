// UTF-8 decoding, folding and re-encoding of arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "index/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    ov::WString wide = ov::ToWide(text, size);
    if (wide.size() > size) abort();  // never more units than bytes
    std::string back = ov::ToUtf8(wide);
    // Whatever the input, a second trip is lossless.
    if (ov::ToWide(back) != wide) abort();
    std::string folded = ov::FoldCaseUtf8(text, size);
    if (ov::ToWide(folded).size() != wide.size()) abort();
    if (ov::FoldCaseUtf8(folded) != folded) abort();
    return 0;
}
