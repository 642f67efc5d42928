// The diagnostic report, the speed test and the end of a self-test run. UI thread only.
#pragma once

// Command 131: asks for a file and writes the report.
void SaveDiagnosticReport();
// Command 117: times fixed searches with one thread and with all.
void RunSpeedTest();
// Timer 6 decided the self-test is over (ready: the index was ready in time):
// writes the report to the "/selftest" path and ends the program.
void FinishSelfTest(bool ready);
