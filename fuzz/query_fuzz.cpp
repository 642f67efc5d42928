// ParseQuery on arbitrary text. The first byte picks the options (bits 0-3:
// match case, whole word, match path, regex; the rest, modulo 11, the filter
// row, so rows 9 and 10 test the out-of-range values); the rest is the text.
// Checks the invariants every caller relies on, under a fixed clock.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "index/platform.h"
#include "index/query.h"

namespace {

// Whole texts are capped at 4096 bytes. A text that can reach the regex
// compiler (regex option, or "regex:" anywhere) is capped far lower: the
// parser bounds every pattern by its estimated automaton size, but compiling
// one near that bound still takes milliseconds under ASan, and many of them
// per input would slow the fuzzer to a crawl without finding more.
constexpr size_t kMaxText = 4096;
constexpr size_t kMaxRegexText = 64;

bool MentionsRegex(const std::string& text) {
    std::string lowered(text);
    for (char& c : lowered) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return lowered.find("regex:") != std::string::npos;
}

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ov::platform::SetFixedNowForTesting(116444736000000000ull + 1710331200ull * 10000000ull);  // 2024-03-13 12:00 UTC
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    ov::SearchOptions options;
    options.matchCase = data[0] & 1;
    options.wholeWord = data[0] & 2;
    options.matchPath = data[0] & 4;
    options.regex = data[0] & 8;
    options.filter = (data[0] >> 4) % 11;
    std::string text(reinterpret_cast<const char*>(data + 1), std::min(size - 1, kMaxText));
    if ((options.regex || MentionsRegex(text)) && text.size() > kMaxRegexText) text.resize(kMaxRegexText);

    ov::Query q = ov::ParseQuery(text, options);

    bool anyError = false, anyPath = false;
    size_t plainWords = 0;
    for (const auto& group : q.groups) {
        Check(!group.empty());
        for (const ov::Term& t : group) {
            Check(t.kind >= ov::TermKind::Substring && t.kind <= ov::TermKind::Error);
            Check(t.selector >= 0 && t.selector <= 2);
            Check(t.parentEntry == ov::kNoEntry && !t.folderMatch);
            Check(std::is_sorted(t.exts.begin(), t.exts.end()));
            Check(t.kind == ov::TermKind::Extension || t.exts.empty());
            Check((t.kind == ov::TermKind::Regex) == static_cast<bool>(t.regex));
            Check(t.kind != ov::TermKind::Extension || t.selector != 0);  // extensions are files only
            if (t.kind == ov::TermKind::Parent) Check(t.parentPath.size() <= 3 || t.parentPath.back() != '\\');
            if (t.kind == ov::TermKind::Error) anyError = true;
            if (t.matchPath || t.kind == ov::TermKind::Parent) anyPath = true;
            if (t.kind == ov::TermKind::Substring && !t.negate) ++plainWords;
            if (t.kind != ov::TermKind::Size && t.kind != ov::TermKind::Modified && t.kind != ov::TermKind::Created &&
                t.kind != ov::TermKind::Error)
                Check(t.lo == 0 && t.hi == ov::kOpenEnd);
        }
    }
    Check(anyError == !q.error.empty());
    Check(anyPath == q.needsPaths);
    Check(q.dupe >= 0 && q.dupe <= 2);
    Check(q.highlightWords.size() <= plainWords);
    if (options.regex) Check(q.groups.size() <= 2 && q.highlightWords.empty());
    const bool filterGroup = options.filter >= 1 && options.filter <= 8;
    if (filterGroup) {
        Check(!q.groups.empty() && q.groups.back().size() == 1);
        Check(q.groups.back()[0].selector == ov::kFilters[options.filter].kind);
    }
    // Blanks only, or no text, give no groups but the filter's.
    if (!options.regex && text.find_first_not_of(' ') == std::string::npos)
        Check(q.groups.size() == (filterGroup ? 1u : 0u));
    // The parse is a pure function of its input under a fixed clock.
    ov::Query again = ov::ParseQuery(text, options);
    Check(again.groups.size() == q.groups.size() && again.error == q.error && again.highlightWords == q.highlightWords);
    return 0;
}
