// Regular expressions: our automaton against the standard library on small
// inputs. Bit 0 of the first byte is icase; the rest up to the first newline is
// the pattern, after it the text. Where the library accepts the pattern, the
// automaton must either refuse it for a reason it documents or give the
// library's answer, by table and by state sets alike.
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

#include "index/regex_automaton.h"

namespace {

constexpr size_t kMaxPattern = 40;  // the library's compiler and matcher are slow under ASan
constexpr size_t kMaxText = 64;

bool MayRefuse(std::string_view pattern) {
    for (std::string_view why : {"(?=", "(?!", "[.", "[=", "{"})
        if (pattern.find(why) != std::string_view::npos) return true;
    for (size_t i = 0; i + 1 < pattern.size(); ++i)
        if (pattern[i] == '\\' && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool icase = data[0] & 1;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t cut = rest.find('\n');
    const std::string pattern(rest.substr(0, cut));
    const std::string text(cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1));
    if (pattern.size() > kMaxPattern || text.size() > kMaxText) return 0;

    ov::RegexAutomaton table;
    ov::RegexAutomaton states;
    const bool compiled = table.Compile(pattern, icase);
    if (states.Compile(pattern, icase, 0) != compiled) abort();
    std::regex library;
    try {
        auto flags = std::regex::ECMAScript | std::regex_constants::__polynomial;
        library = std::regex(pattern, icase ? flags | std::regex::icase : flags);
    } catch (const std::regex_error&) {
        return 0;
    }
    if (!compiled) {
        if (!MayRefuse(pattern)) abort();
        return 0;
    }
    ov::RegexScratch scratch;
    const bool want = std::regex_search(text, library);
    if (table.Search(text, scratch) != want || states.Search(text, scratch) != want) abort();
    return 0;
}
