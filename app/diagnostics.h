// The diagnostic report, the speed test and the end of a self-test run. UI thread only.
#pragma once

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
// text as UTF-8, with a byte-order mark when asked; false when the file could
// not be created or not all of it was written.
bool WriteTextFile(const std::wstring& path, const std::wstring& text, bool byteOrderMark);
