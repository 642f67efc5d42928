// Drives for engine tests: letters shown over real folders of the platform's
// file system, or over a synthetic tree, with type, label, serial and presence
// set by the test, and a folder whose listing hangs like a dead share until
// the test lets it go.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "engine/folder_scan.h"
#include "engine/wide_text.h"

namespace ov::testing {

inline WString W(const std::filesystem::path& p) {
    const std::u16string s = p.u16string();
    return WString(s.begin(), s.end());
}

struct FakeDrive {
    WString target;  // folder the letter shows; empty for the synthetic tree
    DriveType type = DriveType::Fixed;
    WString fileSystem = Text(L"NTFS");
    WString label;
    uint32_t serial = 1;
    bool present = true;
};

// A watch that counts itself in `open` while it exists.
class CountedWatch final : public ChangeWatch {
public:
    CountedWatch(std::unique_ptr<ChangeWatch> inner, std::atomic<int>& open) : inner(std::move(inner)), open(open) {
        open.fetch_add(1);
    }
    ~CountedWatch() override {
        inner.reset();
        open.fetch_sub(1);
    }
    bool Read(uint32_t length) override { return inner->Read(length); }
    Wait WaitFor(StopEvent& stop, uint32_t ms) override { return inner->WaitFor(stop, ms); }
    bool Finish(uint32_t& bytes, uint32_t& error) override { return inner->Finish(bytes, error); }
    const uint8_t* Data() const override { return inner->Data(); }
    void Cancel() override { inner->Cancel(); }

private:
    std::unique_ptr<ChangeWatch> inner;
    std::atomic<int>& open;
};

class FakeDrives final : public FileSystem {
public:
    // Watches of the drives' folders that exist now.
    std::atomic<int> openWatches{0};

    // The synthetic tree: folders d0..d{folders-1} with files f0..f{files-1}
    // each, and a folder "hang" whose listing blocks until Release.
    int syntheticFolders = 0;
    int syntheticFiles = 0;
    bool syntheticHang = false;
    // Natively each watch takes one of the user's 128 inotify instances; a
    // test with hundreds of volumes leaves them to the tests running beside it.
    bool watchFolders = true;

    void Set(char letter, const FakeDrive& drive) {
        std::lock_guard<std::mutex> guard(mutex);
        drives[letter] = drive;
    }
    template <class Fn>
    void Change(char letter, Fn fn) {
        std::lock_guard<std::mutex> guard(mutex);
        fn(drives[letter]);
    }
    void Release() {
        std::lock_guard<std::mutex> guard(mutex);
        released = true;
        wake.notify_all();
    }
    bool Hanging() {
        std::lock_guard<std::mutex> guard(mutex);
        return hanging;
    }

    bool ListFolder(const WString& folder, FolderVisitor& visitor) override {
        WString real, rest;
        switch (Resolve(folder, real, rest)) {
            case Where::Platform:
                return SystemFileSystem().ListFolder(folder, visitor);
            case Where::Target:
                return SystemFileSystem().ListFolder(real, visitor);
            case Where::Missing:
                return false;
            case Where::Synthetic:
                break;
        }
        if (rest == Text(L"hang\\")) {
            std::unique_lock<std::mutex> guard(mutex);
            hanging = true;
            wake.wait(guard, [this] { return released; });
            return true;
        }
        WString name;
        auto visit = [&](const WString& n, uint32_t attributes, uint64_t size) {
            name = n;
            return visitor.Item(FindData{name.data(), name.size(), attributes, size, 1, 1});
        };
        if (rest.empty()) {
            if (syntheticHang && !visit(Text(L"hang"), FileAttr::Directory, 0)) return true;
            for (int i = 0; i < syntheticFolders; ++i)
                if (!visit(Text(L"d") + Number(i), FileAttr::Directory, 0)) return true;
            return true;
        }
        for (int i = 0; i < syntheticFiles; ++i)
            if (!visit(Text(L"f") + Number(i), FileAttr::Archive, static_cast<uint64_t>(i))) return true;
        return true;
    }

    bool Attributes(const WString& path, uint32_t& attributes, uint32_t& error) override {
        WString real, rest;
        switch (Resolve(path, real, rest)) {
            case Where::Platform:
                return SystemFileSystem().Attributes(path, attributes, error);
            case Where::Target:
                return SystemFileSystem().Attributes(real, attributes, error);
            case Where::Missing:
                error = WinError::PathNotFound;
                return false;
            case Where::Synthetic:
                break;
        }
        attributes = FileAttr::Directory;
        return true;
    }

    bool Stat(const WString& path, FileStat& stat, uint32_t& error) override {
        WString real, rest;
        const Where where = Resolve(path, real, rest);
        if (where == Where::Synthetic) {
            stat = FileStat{FileAttr::Directory, 0, 1, 1};
            return true;
        }
        if (where == Where::Missing) {
            error = WinError::PathNotFound;
            return false;
        }
        return SystemFileSystem().Stat(where == Where::Target ? real : path, stat, error);
    }

    bool LongName(const WString& path, WString& longPath) override {
        WString real, rest;
        const Where where = Resolve(path, real, rest);
        if (where == Where::Platform) return SystemFileSystem().LongName(path, longPath);
        longPath = path;
        return where != Where::Missing;
    }

    // Synthetic drives cannot be watched.
    std::unique_ptr<ChangeWatch> WatchFolder(const WString& folder, uint32_t& error) override {
        WString real, rest;
        if (!watchFolders) {
            error = WinError::InvalidFunction;
            return nullptr;
        }
        switch (Resolve(folder, real, rest)) {
            case Where::Platform:
                return SystemFileSystem().WatchFolder(folder, error);
            case Where::Target: {
                std::unique_ptr<ChangeWatch> watch = SystemFileSystem().WatchFolder(real, error);
                if (watch) watch = std::make_unique<CountedWatch>(std::move(watch), openWatches);
                return watch;
            }
            case Where::Missing:
                error = WinError::PathNotFound;
                return nullptr;
            case Where::Synthetic:
                break;
        }
        error = WinError::InvalidFunction;
        return nullptr;
    }

    std::vector<WString> DriveRoots() override {
        std::lock_guard<std::mutex> guard(mutex);
        std::vector<WString> roots;
        for (const auto& [letter, d] : drives)
            if (d.present) roots.push_back(WString{WChar(letter), WChar(u':'), WChar(u'\\')});
        return roots;
    }
    DriveType TypeOf(const WString& root) override {
        std::lock_guard<std::mutex> guard(mutex);
        auto it = drives.find(static_cast<char>(root[0]));
        return it == drives.end() || !it->second.present ? DriveType::NoRootDir : it->second.type;
    }
    bool VolumeInfo(const WString& root, DriveInfo& info) override {
        std::lock_guard<std::mutex> guard(mutex);
        auto it = drives.find(static_cast<char>(root[0]));
        if (it == drives.end() || !it->second.present) return false;
        info.label = it->second.label;
        info.fileSystem = it->second.fileSystem;
        info.serial = it->second.serial;
        return true;
    }

private:
    static WString Number(int i) { return Text(std::to_wstring(i).c_str()); }

    enum class Where { Platform, Target, Synthetic, Missing };
    // "\\?\X:\rest" with X one of the test's letters: the real path of a drive
    // over a folder, or rest on the synthetic tree; other paths are the platform's.
    Where Resolve(const WString& path, WString& real, WString& rest) {
        const WString p = path.substr(std::min(path.size(), LongPath(WString()).size()));
        std::lock_guard<std::mutex> guard(mutex);
        if (p.size() < 3 || p[1] != u':' || p[2] != u'\\') return Where::Platform;
        auto it = drives.find(static_cast<char>(p[0]));
        if (it == drives.end()) return Where::Platform;
        if (!it->second.present) return Where::Missing;
        rest = p.substr(3);
        if (it->second.target.empty()) return Where::Synthetic;
        real = LongPath(it->second.target + WChar(u'\\') + rest);
        return Where::Target;
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::map<char, FakeDrive> drives;
    bool released = false;
    bool hanging = false;
};

// Waits until every volume's first pass ended; false after the time-out.
inline bool WaitIdle(Engine& engine, int seconds = 60) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (engine.busyVolumes.load() != 0) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
public:
    // The folder is made, never reused: test processes running side by side
    // (parallel suites, two build lanes) may come up with the same name, and
    // the one that finds it taken moves on to the next.
    explicit TempDir(const std::string& tag) {
        static std::atomic<unsigned> counter{0};
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        const std::string stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        do {
            path = base / ("ov-" + tag + "-" + stamp + "-" + std::to_string(counter++));
        } while (!std::filesystem::create_directory(path));
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

}  // namespace ov::testing
