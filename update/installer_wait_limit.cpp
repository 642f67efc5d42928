// The installer's wait limit, fixed when the program is built. Only the update
// test program, built with OV_TEST_SEAMS, lets a test shorten it.
#include <cstdlib>

#include "update/install_step.h"

DWORD InstallerWaitLimitMs() {
#ifdef OV_TEST_SEAMS
    if (const char* limit = std::getenv("OV_TEST_INSTALLER_WAIT_MS")) return static_cast<DWORD>(std::atol(limit));
#endif
    return 120000;
}
