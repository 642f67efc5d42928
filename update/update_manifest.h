// The release manifest and the result of one update check: a small field
// reader for the manifest's JSON, the version comparison and the record the
// check thread hands to the main window. Portable; no Windows calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "index/platform.h"

// One check's result. Texts are NUL-terminated and cut to their arrays, never
// inside a surrogate pair. Starts zeroed.
struct UpdateInfo {
    int32_t ok = 0;  // the manifest was fetched and complete
    int32_t manual = 0;
    ov::WChar error[400] = {};
    ov::WChar version[32] = {};
    ov::WChar exe[600] = {};
    ov::WChar sha256[80] = {};
    ov::WChar notes[3000] = {};
    ov::WChar published[40] = {};
    uint32_t size = 0;  // 0: not checked
    ov::WChar setup[600] = {};
    ov::WChar setup_sha256[80] = {};
    uint32_t setup_size = 0;
};

// The value of the first occurrence of "key" anywhere in json (a nested object
// or a string value counts too), escapes resolved, converted into out. 1 when
// the key was found (out may be empty), 0 otherwise (out is empty).
int JsonGetString(const char* json, const char* key, ov::WChar* out, int outChars);

// Dotted versions of up to four numbers: -1, 0 or 1. Missing parts are 0;
// numbers too large for an int count as the largest int.
int CompareVersions(const ov::WChar* a, const ov::WChar* b);

// Fills every field of info from a manifest body (NUL-terminated UTF-8); ok is
// set when version and exe are present and sha256 is 64 characters, else the
// error says the information is incomplete.
void ReadManifest(const char* body, UpdateInfo& info);

// Copies at most outChars - 1 units of text and a NUL; a surrogate pair that
// would be cut in half is left out whole.
void CopyCut(const ov::WChar* text, size_t length, ov::WChar* out, size_t outChars);
template <size_t N>
void CopyCut(const ov::WChar* text, size_t length, ov::WChar (&out)[N]) {
    CopyCut(text, length, out, N);
}
template <size_t N>
void CopyCut(const ov::WString& text, ov::WChar (&out)[N]) {
    CopyCut(text.data(), text.size(), out, N);
}

// Length of a NUL-terminated text of the record.
size_t TextLength(const ov::WChar* text);
