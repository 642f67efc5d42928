// ReadManifest and JsonGetString on arbitrary text from the release host.
// Checks what the callers rely on: every text of the record is terminated
// inside its array, and ok holds exactly
// when version and exe are present and sha256 has 64 characters.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/update_manifest.h"

namespace {

constexpr size_t kMaxText = 4096;

void Check(bool condition) {
    if (!condition) abort();
}

template <size_t N>
void CheckText(const ov::WChar (&text)[N]) {
    size_t n = 0;
    while (n < N && text[n]) ++n;
    Check(n < N);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxText) return 0;
    const std::string body(reinterpret_cast<const char*>(data), size);
    UpdateInfo info;
    ReadManifest(body.c_str(), info);
    CheckText(info.error);
    CheckText(info.version);
    CheckText(info.exe);
    CheckText(info.sha256);
    CheckText(info.notes);
    CheckText(info.published);
    CheckText(info.setup);
    CheckText(info.setup_sha256);
    Check((info.ok != 0) == (info.version[0] != 0 && info.exe[0] != 0 && TextLength(info.sha256) == 64));
    // Small buffers cut, never overrun; a found key always leaves a terminated text.
    ov::WChar small[3] = {0x1234, 0x1234, 0x1234};
    const int found = JsonGetString(body.c_str(), "notes", small, 3);
    CheckText(small);
    if (!found) Check(small[0] == 0);
    return 0;
}
