// Under Wine a test's output goes to a file, which the C runtime buffers whole:
// a program that dies would leave nothing of what it printed. Unbuffered, it
// leaves every line up to where it stopped.
#include <cstdio>

namespace {

[[maybe_unused]] const int kUnbuffered = std::setvbuf(stdout, nullptr, _IONBF, 0);

}  // namespace
