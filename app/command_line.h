// The program's command line: the switches it understands and the command lines
// it builds for a running copy or a relaunch. Portable, so the quoting can be
// checked natively and against CommandLineToArgvW under Wine.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    std::wstring search;        // "/search": searched once the window exists
    std::wstring updatedFrom;   // "/updated": the version this start was updated from
    std::wstring selfTestPath;  // "/selftest": output file of a self-test run
    bool tray = false;          // "/tray": start hidden in the tray
    bool noAdmin = false;       // "/noadmin" (also implied by "/selftest")
    bool takeover = false;      // "/takeover": wait for a running copy to close
    bool forceScan = false;     // "/forcescan": the engine acts as not elevated
};

// args: the arguments after the program's name, as CommandLineToArgvW splits
// them. Switches match case-sensitively and whole; anything else is ignored. A
// switch with a value takes the next argument when there is one.
CommandLine ParseCommandLine(const std::vector<std::wstring>& args);

// text as one argument that CommandLineToArgvW gives back exactly: always in
// double quotes, a quote inside escaped, backslashes doubled only where they
// come before a quote (the closing one included).
std::wstring QuoteArgument(const std::wstring& text);

// What a second start hands the running copy: "/search " and the text for a
// non-empty search, else "/tray" or "/show".
std::wstring HandOffText(const CommandLine& line);

// Parameters of the elevated relaunch at start-up. They carry every switch of
// this start and add "/noadmin", so a relaunch that comes back unelevated (UAC
// off, a standard user) does not relaunch again.
std::wstring ElevatedRelaunchParameters(const CommandLine& line);

// Parameters of "Restart as administrator": take over from this copy and search
// for searchText; "/noadmin" for the same reason as above.
std::wstring RestartAsAdminParameters(const std::wstring& searchText, bool forceScan);

// Parameters of the start after an update: take over from this copy, name the
// version that ran the update (a version text: no blanks or quotes), and search
// for searchText again.
std::wstring UpdatedRelaunchParameters(const std::wstring& version, const std::wstring& searchText);
