#include "app/command_line.h"

#include <gtest/gtest.h>

#include <random>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#endif

namespace {

// Splits a command line's arguments after the program name by the rules
// CommandLineToArgvW documents; natively the reference, on Windows the real one.
std::vector<std::wstring> SplitArguments(const std::wstring& arguments) {
#ifdef _WIN32
    int count = 0;
    const std::wstring line = L"prog.exe " + arguments;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> out(argv + 1, argv + count);
    LocalFree(argv);
    return out;
#else
    std::vector<std::wstring> out;
    size_t i = 0;
    while (i < arguments.size()) {
        while (i < arguments.size() && (arguments[i] == L' ' || arguments[i] == L'\t')) ++i;
        if (i == arguments.size()) break;
        std::wstring arg;
        bool quoted = false;
        for (; i < arguments.size() && (quoted || (arguments[i] != L' ' && arguments[i] != L'\t')); ++i) {
            size_t slashes = 0;
            while (i < arguments.size() && arguments[i] == L'\\') ++slashes, ++i;
            if (i < arguments.size() && arguments[i] == L'"') {
                arg.append(slashes / 2, L'\\');
                if (slashes % 2 == 1) {
                    arg += L'"';
                } else {
                    quoted = !quoted;
                }
            } else {
                arg.append(slashes, L'\\');
                if (i < arguments.size())
                    arg += arguments[i];
                else
                    break;
            }
        }
        out.push_back(arg);
    }
    return out;
#endif
}

TEST(CommandLine, QuotedTextsComeBackExactly) {
    const std::wstring fixed[] = {L"",   L"plain",  L"two words",    L"ends\\",    L"ends\\\\",
                                  L"\"", L"a\\\"b", L"\\\\server\\", L"tab\there", L"C:\\Program Files\\"};
    std::mt19937 random(7);
    const wchar_t alphabet[] = {L'a', L' ', L'\\', L'"', L'\t', L'x'};
    std::vector<std::wstring> texts(std::begin(fixed), std::end(fixed));
    for (int n = 0; n < 2000; ++n) {
        std::wstring text(random() % 12, L'a');
        for (wchar_t& c : text) c = alphabet[random() % 6];
        texts.push_back(text);
    }
    for (const std::wstring& text : texts) {
        const auto args = SplitArguments(L"/search " + QuoteArgument(text) + L" /takeover");
        ASSERT_EQ(args.size(), 3u) << std::string(text.begin(), text.end());
        EXPECT_EQ(args[1], text);
        EXPECT_EQ(args[2], L"/takeover");
    }
}

TEST(CommandLine, SwitchesMatchWholeAndCaseSensitively) {
    struct Case {
        std::vector<std::wstring> args;
        const wchar_t* handOff;
        bool tray, noAdmin, takeover, forceScan;
    } cases[] = {
        {{}, L"/show", false, false, false, false},
        {{L"/tray"}, L"/tray", true, false, false, false},
        {{L"/Tray", L"/TAKEOVER", L"/traynow"}, L"/show", false, false, false, false},
        {{L"/search"}, L"/show", false, false, false, false},
        {{L"/search", L""}, L"/show", false, false, false, false},
        {{L"/search", L"/tray"}, L"/search /tray", false, false, false, false},
        {{L"/tray", L"/search", L"x y"}, L"/search x y", true, false, false, false},
        {{L"/selftest", L"out.txt", L"/forcescan", L"/takeover"}, L"/show", false, true, true, true},
        {{L"/noadmin", L"/updated"}, L"/show", false, true, false, false},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ(HandOffText(line), c.handOff);
        EXPECT_EQ(line.tray, c.tray);
        EXPECT_EQ(line.noAdmin, c.noAdmin);
        EXPECT_EQ(line.takeover, c.takeover);
        EXPECT_EQ(line.forceScan, c.forceScan);
    }
}

// The relaunch must parse back to the same request, and must not relaunch again.
TEST(CommandLine, RelaunchesCarryEverySwitchAndNoAdmin) {
    CommandLine line;
    line.tray = true;
    line.takeover = true;
    line.forceScan = true;
    line.search = L"x \"y\" C:\\dir\\";
    line.updatedFrom = L"1.0.0";
    const CommandLine again = ParseCommandLine(SplitArguments(ElevatedRelaunchParameters(line)));
    EXPECT_EQ(again.search, line.search);
    EXPECT_EQ(again.updatedFrom, line.updatedFrom);
    EXPECT_TRUE(again.tray && again.takeover && again.forceScan && again.noAdmin);
    EXPECT_EQ(ElevatedRelaunchParameters(CommandLine{}), L"/noadmin");

    const CommandLine restart = ParseCommandLine(SplitArguments(RestartAsAdminParameters(L"a\\", false)));
    EXPECT_EQ(restart.search, L"a\\");
    EXPECT_TRUE(restart.takeover && restart.noAdmin && !restart.forceScan && !restart.tray);
}

// The start after an update gets the search back exactly, whatever it holds.
TEST(CommandLine, UpdatedRelaunchKeepsTheSearch) {
    for (const std::wstring text : {L"a \"b c\"", L"C:\\Tools\\", L"", L"\\\"x"}) {
        const CommandLine again = ParseCommandLine(SplitArguments(UpdatedRelaunchParameters(L"1.0.1", text)));
        EXPECT_EQ(again.search, text);
        EXPECT_EQ(again.updatedFrom, L"1.0.1");
        EXPECT_TRUE(again.takeover && !again.noAdmin && !again.tray);
    }
}

}  // namespace
