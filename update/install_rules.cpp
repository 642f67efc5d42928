#include "update/install.h"

#include "index/text.h"

namespace {

ov::WString FolderKey(ov::WString folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    ov::FoldUnits(folder.data(), folder.size());
    return folder;
}

}  // namespace

InstallMode DecideInstallMode(const ov::WString& exeDir, const ov::WString& everyoneFolder,
                              const ov::WString& userFolder) {
    const ov::WString dir = FolderKey(exeDir);
    const ov::WString everyone = FolderKey(everyoneFolder);
    if (!everyone.empty() && everyone == dir) return kInstalledForEveryone;
    const ov::WString user = FolderKey(userFolder);
    if (!user.empty() && user == dir) return kInstalledForUser;
    return kPortable;
}
