// Answers the dialogs of this process from a second thread, as a user would,
// and keeps what each showed. For tests that run the application in their own
// process.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "index/text.h"
#include "tests/app/harness/gui_harness.h"

namespace ov::gui {

// Visible windows of class className that belong to this process.
inline std::vector<HWND> OwnWindows(const wchar_t* className) {
    struct Search {
        const wchar_t* className;
        std::vector<HWND> found;
    } search{className, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (process == GetCurrentProcessId() && IsWindowVisible(window) && wcscmp(name, s->className) == 0)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Every text of a window and its children, " | " between them.
inline std::wstring TextsOf(HWND dialog) {
    std::wstring texts = WindowText(dialog);
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM data) -> BOOL {
            const std::wstring text = WindowText(child);
            if (!text.empty()) *reinterpret_cast<std::wstring*>(data) += L" | " + text;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// Answers every dialog of this process with act until stopped; keeps what each showed.
class Answerer {
public:
    explicit Answerer(std::function<void(HWND)> act) : act(std::move(act)) {
        thread = std::thread([this] {
            while (!stop) {
                for (HWND dialog : OwnWindows(L"#32770")) {
                    // A box is found while it is made; its texts are there once it shows.
                    if (dialog == lastAnswered || !IsWindowVisible(dialog)) continue;
                    const std::wstring texts = TextsOf(dialog);
                    if (texts.empty()) continue;  // not answering yet (a loaded machine)
                    {
                        std::lock_guard<std::mutex> hold(mutex);
                        seen.push_back(texts);
                    }
                    lastAnswered = dialog;
                    this->act(dialog);
                }
                Sleep(50);
            }
        });
    }
    static Answerer Pressing(int button) {
        return Answerer([button](HWND dialog) { PostMessageW(dialog, WM_COMMAND, button, 0); });
    }
    ~Answerer() { Stop(); }
    Answerer(Answerer&& other) = delete;
    void Stop() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
    std::vector<std::wstring> Seen() {
        std::lock_guard<std::mutex> hold(mutex);
        return seen;
    }

private:
    std::function<void(HWND)> act;
    std::atomic<bool> stop{false};
    HWND lastAnswered = nullptr;
    std::mutex mutex;
    std::vector<std::wstring> seen;
    std::thread thread;
};

inline std::string Seen(const std::vector<std::wstring>& texts) {
    std::string out;
    for (const std::wstring& text : texts) out += ov::ToUtf8(text) + "\n";
    return out.empty() ? "(no dialog)" : out;
}

}  // namespace ov::gui
