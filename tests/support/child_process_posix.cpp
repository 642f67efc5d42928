#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "tests/support/child_process.h"

extern char** environ;

namespace ov::testing {

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Start(const std::string& test, const std::string& name, const std::string& value,
                         std::string& error) {
    Kill();
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        error = "cannot find this program";
        return false;
    }
    self[length] = '\0';
    // Everything exec needs is built before fork: the child of a threaded process
    // may only exec.
    std::vector<std::string> args = {self, "--gtest_filter=" + test, "--gtest_also_run_disabled_tests"};
    std::vector<std::string> env = {name + "=" + value};
    // The child runs its one test whatever share of the suite this process runs.
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "GTEST_TOTAL_SHARDS=", 19) != 0 && std::strncmp(*e, "GTEST_SHARD_INDEX=", 18) != 0)
            env.emplace_back(*e);
    }
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("fork failed: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        execve(self, argv.data(), envp.data());
        _exit(127);
    }
    handle = pid;
    return true;
}

void ChildProcess::Kill() {
    if (handle < 0) return;
    kill(static_cast<pid_t>(handle), SIGKILL);
    int status = 0;
    waitpid(static_cast<pid_t>(handle), &status, 0);
    handle = -1;
}

}  // namespace ov::testing
