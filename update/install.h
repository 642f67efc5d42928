// How this copy is installed, which decides how an update is put in place.
#pragma once

#include "index/platform.h"

enum InstallMode : int {
    kPortable = 0,
    kInstalledForUser = 1,
    kInstalledForEveryone = 2,
};

// Set once at start-up; read by the download thread and the install step.
extern InstallMode gInstallMode;

// Start-up, after the settings: sets gInstallMode; true when the
// installer switched automatic updates off.
bool DetectInstallMode();

// The mode for the executable's folder exeDir given the install folders of the
// everyone (HKLM) and the current-user (HKCU) uninstall entries, empty when
// missing. Trailing backslashes are ignored; case is not compared.
InstallMode DecideInstallMode(const ov::WString& exeDir, const ov::WString& everyoneFolder,
                              const ov::WString& userFolder);
