// Still to come: reading the installer's uninstall entry and policy value. Until
// then every copy counts as portable with updates allowed.
#include "update/install.h"

InstallMode gInstallMode = kPortable;

bool DetectInstallMode() {
    gInstallMode = kPortable;
    return false;
}
