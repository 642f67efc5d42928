// The diagnostic report, the speed test and the end of a self-test run. UI thread only.
#pragma once

#include <windows.h>

#include <string>

// Command 131: asks for a file and writes the report.
void SaveDiagnosticReport();
// Command 117: times fixed searches with one thread and with all.
void RunSpeedTest();
// Timer 6 decided the self-test is over (ready: the index was ready in time):
// writes the report to the "/selftest" path and ends the program.
void FinishSelfTest(bool ready);

// The report's text (CR LF line ends).
std::wstring DiagnosticReportText();
// The self-test's file: the speed test's text with CR LF line ends, then the
// engine's state.
std::wstring SelfTestText(const std::wstring& speedTest, bool ready);
enum class TextFileWrite { Written, NotCreated, NotWritten };
// text as UTF-8, with a byte-order mark when asked. A file that could not be
// written whole is deleted (NotWritten); *error, when given, tells why it
// was not created or not written.
TextFileWrite WriteTextFile(const std::wstring& path, const std::wstring& text, bool byteOrderMark,
                            DWORD* error = nullptr);
// Tests: the WriteFile call of WriteTextFile; null puts the real one back.
using FileWriteCall = BOOL(WINAPI*)(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
void SetTextFileWriteForTesting(FileWriteCall call);
