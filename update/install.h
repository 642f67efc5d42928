// How this copy is installed, which decides how an update is put in place.
#pragma once

enum InstallMode : int {
    kPortable = 0,
    kInstalledForUser = 1,
    kInstalledForEveryone = 2,
};

extern InstallMode gInstallMode;

// Start-up, after the settings: sets gInstallMode; true when the installer
// switched automatic updates off.
bool DetectInstallMode();
