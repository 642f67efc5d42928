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
//   quit
// Posted messages go to a message-only window and are counted as the
// application would handle them (clearing the flag).
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <shared_mutex>
#include <string>

#include "engine/engine.h"
#include "engine/wide_text.h"
#include "index/text.h"

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
    std::shared_lock<std::shared_mutex> guard(engine.lock);
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

}  // namespace

int main() {
    ov::Engine engine;
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    engine.notifyWindow = window;
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
        } else if (command == "quit") {
            break;
        } else {
            Print("unknown command: " + command);
        }
        Print("end");
    }
    engine.notifyWindow = nullptr;
    DestroyWindow(window);
    return 0;
}
