// Runs one test of this test program in a process of its own, to be killed.
#pragma once

#include <cstdint>
#include <string>

namespace ov::testing {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts this program running only `test` (disabled tests included), with
    // the environment variable name=value added. False with a reason.
    bool Start(const std::string& test, const std::string& name, const std::string& value, std::string& error);
    // Ends the child at once, as a crash or a power cut would, and waits for it.
    void Kill();

private:
    intptr_t handle = -1;
};

}  // namespace ov::testing
