// Runs the engine inside a Wine test prefix for wine_drives_test.py: reads one
// command per line from standard input, prints UTF-8 answers ending in "end".
//   elevated 0|1      the engine's elevated flag (0 is the application's /forcescan)
//   removable 0|1     index removable drives
//   walkers N         folder-scan walkers (0: twice the pool's threads)
//   folder PATH       add a folder; "folders" clears them
//   refresh | rebuild | stop   RefreshVolumes, Rebuild, Stop(false) (prints its milliseconds)
//   wait SECONDS      until no volume is in its first pass (prints idle or timeout)
//   dump              volumes (ending in the scan's milliseconds), then every live entry: slot,
//                     flags, size, path below the root
//   cap MS            cuts every wait of the folder route to MS (0: the real waits)
//   live SECONDS      until every folder volume is watched (prints live or timeout)
//   hold MS           a long search: holds the index lock shared for MS on a thread of its own
//                     (prints held once it has the lock)
//   settle ROOT SECONDS  until the volume of ROOT equals a fresh scan of it, file times included
//                     (prints equal, or the differences left)
//   log               the log lines since the last log command
//   cycles N          N times: refresh, until watched, stop; prints handles before and after and the
//                     slowest stop in milliseconds
//   lag N FOLDER      N files made one by one in FOLDER, each waited for in the index; prints the
//                     median and the largest delay in milliseconds
//   save | load       Stop(true), which saves the index; LoadDb (prints loaded or not loaded)
//   quit
// Posted messages go to a message-only window and are counted as the
// application would handle them (clearing the flag).
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "engine/folder_paths.h"
#include "engine/folder_scan.h"
#include "engine/wide_text.h"
#include "index/text.h"
#include "tests/engine/volume_view.h"

namespace {

int gIndexMessages = 0;
int gVolumeMessages = 0;

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Pump(ov::Engine& engine) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == ov::WM_APP_INDEX_CHANGED) {
            engine.indexChangedPosted.exchange(false);
            ++gIndexMessages;
        } else if (msg.message == ov::WM_APP_VOLUMES_CHANGED) {
            engine.volumesChangedPosted.exchange(false);
            ++gVolumeMessages;
        } else {
            DispatchMessageW(&msg);
        }
    }
}

void Dump(ov::Engine& engine) {
    std::shared_lock<ov::SharedMutex> guard(engine.lock);
    for (size_t s = 0; s < engine.volumes.size(); ++s) {
        ov::Volume* v = engine.VolumeAt(static_cast<int>(s));
        if (!v) continue;
        char head[160];
        std::snprintf(head, sizeof head, "V\t%zu\t%08x\t%d\t%d\t", s, static_cast<unsigned>(v->serial),
                      static_cast<int>(v->kind), v->addedFolder ? 1 : 0);
        Print(head + ov::ToUtf8(v->root) + "\t" + ov::ToUtf8(v->label) + "\t" + ov::ToUtf8(v->fileSystem) + "\t" +
              ov::ToUtf8(engine.StatusOf(v)) + "\t" + std::to_string(v->scanMs));
    }
    for (uint32_t i = 0; i < engine.entries.size(); ++i) {
        const ov::Entry& e = engine.entries[i];
        if (ov::IsDeleted(e)) continue;
        std::string path(engine.NameOf(i));
        int depth = 0;
        for (uint32_t p = e.parent; p != ov::kNoEntry && engine.entries[p].parent != ov::kNoEntry && depth < 300;
             p = engine.entries[p].parent, ++depth)
            path = std::string(engine.NameOf(p)) + "\\" + path;
        if (e.parent == ov::kNoEntry) path = "";
        char head[96];
        std::snprintf(head, sizeof head, "E\t%d\t%08x\t%llu\t", ov::SlotOf(e.flags), static_cast<unsigned>(e.flags),
                      static_cast<unsigned long long>(e.size));
        Print(head + path);
    }
    Print("M\t" + std::to_string(gIndexMessages) + "\t" + std::to_string(gVolumeMessages));
}

// The volume whose root starts path, and path below it; null when none does.
ov::Volume* VolumeOf(ov::Engine& engine, const ov::WString& path, ov::WString& rest) {
    std::shared_lock<ov::SharedMutex> guard(engine.lock);
    for (size_t s = 0; s < engine.volumes.size(); ++s) {
        ov::Volume* v = engine.VolumeAt(static_cast<int>(s));
        const size_t n = v ? v->root.size() : 0;
        if (v && path.size() >= n && ov::SameTextIgnoringCase(path.substr(0, n), v->root)) {
            rest = path.substr(n);
            return v;
        }
    }
    return nullptr;
}

bool AllLive(ov::Engine& engine) {
    std::shared_lock<ov::SharedMutex> guard(engine.lock);
    for (size_t s = 0; s < engine.volumes.size(); ++s) {
        ov::Volume* v = engine.VolumeAt(static_cast<int>(s));
        if (v && v->kind == ov::VolumeKind::Folders && !v->live.load()) return false;
    }
    return true;
}

bool WaitLive(ov::Engine& engine, double seconds) {
    const double until = ov::NowMs() + 1000.0 * seconds;
    while (!AllLive(engine) && ov::NowMs() < until) {
        Pump(engine);
        Sleep(5);
    }
    return AllLive(engine);
}

// GetProcessHandleCount; Wine answers it with 0, so there the process's
// entries in the system's handle list are counted instead.
ULONG HandleCount() {
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0) return n;
    struct HandleEntry {
        ULONG process;
        UCHAR type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ULONG length = 0;
        const NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &length);
        if (status == static_cast<NTSTATUS>(0xC0000004L) && buffer.size() < (1u << 28)) {  // too small
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return 0;
        break;
    }
    ULONG count = 0, mine = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    const char* first = buffer.data() + sizeof(void*);  // the count is padded to the entries' alignment
    for (ULONG i = 0; i < count && (i + 1) * sizeof(HandleEntry) <= buffer.size() - sizeof(void*); ++i) {
        HandleEntry e;
        std::memcpy(&e, first + i * sizeof(HandleEntry), sizeof e);
        mine += e.process == GetCurrentProcessId();
    }
    return mine;
}

}  // namespace

int main() {
    ov::Engine engine;
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    engine.notifyWindow = window;
    std::mutex logMutex;
    std::vector<std::string> logLines;
    engine.logSink = [&](const ov::WChar* text) {
        std::lock_guard<std::mutex> guard(logMutex);
        logLines.push_back(ov::ToUtf8(ov::WString(text)));
    };
    std::thread holder;  // a long search, while "hold" lasts
    std::mutex heldMutex;
    std::condition_variable heldSignal;
    bool held = false;
    std::vector<ov::WString> folders;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t space = line.find(' ');
        const std::string command = line.substr(0, space);
        const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);
        if (command == "elevated") {
            engine.elevated = argument == "1";
        } else if (command == "walkers") {
            engine.scanWalkersForTesting = std::stoi(argument);
        } else if (command == "removable") {
            engine.SetIncludeRemovable(argument == "1");
        } else if (command == "folder") {
            folders.push_back(ov::ToWide(argument));
            engine.SetAddedFolders(folders);
        } else if (command == "folders") {
            folders.clear();
            engine.SetAddedFolders(folders);
        } else if (command == "refresh") {
            engine.RefreshVolumes();
        } else if (command == "rebuild") {
            engine.Rebuild();
        } else if (command == "stop") {
            const double t0 = ov::NowMs();
            engine.Stop(false);
            Print("stopped\t" + std::to_string(static_cast<long long>(ov::NowMs() - t0)));
        } else if (command == "wait") {
            const double until = ov::NowMs() + 1000.0 * std::stod(argument.empty() ? "60" : argument);
            while (engine.busyVolumes.load() != 0 && ov::NowMs() < until) {
                Pump(engine);
                Sleep(5);
            }
            Sleep(50);  // lets the done texts' messages arrive
            Pump(engine);
            Print(engine.busyVolumes.load() == 0 ? "idle" : "timeout");
        } else if (command == "dump") {
            Pump(engine);
            Dump(engine);
        } else if (command == "cap") {
            engine.folderWaitCapMsForTesting = static_cast<uint32_t>(std::stoul(argument));
        } else if (command == "live") {
            Print(WaitLive(engine, std::stod(argument.empty() ? "60" : argument)) ? "live" : "timeout");
        } else if (command == "hold") {
            if (holder.joinable()) holder.join();
            held = false;
            holder = std::thread([&engine, &heldMutex, &heldSignal, &held, ms = std::stoul(argument)] {
                std::shared_lock<ov::SharedMutex> search(engine.lock);
                {
                    std::lock_guard<std::mutex> guard(heldMutex);
                    held = true;
                }
                heldSignal.notify_all();
                Sleep(ms);
            });
            std::unique_lock<std::mutex> guard(heldMutex);
            heldSignal.wait(guard, [&held] { return held; });
            Print("held");
        } else if (command == "settle") {
            const size_t space2 = argument.rfind(' ');
            const ov::WString root = ov::ToWide(argument.substr(0, space2));
            int slot = -1;
            {
                std::shared_lock<ov::SharedMutex> guard(engine.lock);
                for (size_t s = 0; s < engine.volumes.size(); ++s) {
                    ov::Volume* v = engine.VolumeAt(static_cast<int>(s));
                    if (v && ov::SameTextIgnoringCase(v->root, root)) slot = static_cast<int>(s);
                }
            }
            const std::string diff = slot < 0 ? "no volume " + argument
                                              : ov::testing::SettlesToFreshScan(engine, slot, ov::SystemFileSystem(),
                                                                                root, ov::testing::Times::Files,
                                                                                std::stoi(argument.substr(space2 + 1)));
            Pump(engine);
            if (diff.empty()) Print("equal");
            size_t at = 0;
            for (size_t nl = diff.find('\n'); nl != std::string::npos; at = nl + 1, nl = diff.find('\n', at))
                Print("diff\t" + diff.substr(at, nl - at));
        } else if (command == "log") {
            std::lock_guard<std::mutex> guard(logMutex);
            for (const std::string& l : logLines) Print("log\t" + l);
            logLines.clear();
        } else if (command == "cycles") {
            const DWORD before = HandleCount();
            double slowest = 0;
            bool allLive = true;
            for (int i = 0; i < std::stoi(argument); ++i) {
                engine.RefreshVolumes();
                allLive = WaitLive(engine, 30) && allLive;
                const double t0 = ov::NowMs();
                engine.Stop(false);
                slowest = std::max(slowest, ov::NowMs() - t0);
                Pump(engine);
            }
            Print("handles\t" + std::to_string(before) + "\t" + std::to_string(HandleCount()) + "\t" +
                  std::to_string(slowest) + "\t" + (allLive ? "live" : "not live"));
        } else if (command == "lag") {
            const size_t space2 = argument.find(' ');
            const int n = std::stoi(argument.substr(0, space2));
            const ov::WString folder = ov::ToWide(argument.substr(space2 + 1));
            ov::WString below;
            ov::Volume* v = VolumeOf(engine, folder + ov::WChar(L'\\'), below);
            std::vector<double> lags;
            for (int i = 0; v && i < n; ++i) {
                const std::wstring name = L"lag-" + std::to_wstring(i) + L".txt";
                const ov::WString file = folder + L"\\" + name;
                const double t0 = ov::NowMs();
                HANDLE h = CreateFileW(ov::LongPath(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
                if (h == INVALID_HANDLE_VALUE) break;
                CloseHandle(h);
                const ov::WString rel = below + name;
                for (;;) {
                    {
                        std::shared_lock<ov::SharedMutex> guard(engine.lock);
                        if (ov::FindRel(engine, *v, rel) != ov::kNoEntry) break;
                    }
                    if (ov::NowMs() - t0 > 10000) break;
                    Sleep(1);
                }
                lags.push_back(ov::NowMs() - t0);
                Sleep(20);
            }
            std::sort(lags.begin(), lags.end());
            Print(lags.empty() ? "lag\tnone"
                               : "lag\t" + std::to_string(lags[lags.size() / 2]) + "\t" + std::to_string(lags.back()));
        } else if (command == "save") {
            engine.Stop(true);
        } else if (command == "load") {
            Print(engine.LoadDb() ? "loaded" : "not loaded");
        } else if (command == "quit") {
            break;
        } else {
            Print("unknown command: " + command);
        }
        Print("end");
    }
    if (holder.joinable()) holder.join();
    engine.notifyWindow = nullptr;
    DestroyWindow(window);
    return 0;
}
