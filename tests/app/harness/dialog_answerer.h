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

// Answers the Save dialog once with path (and the filter list's row filterRow,
// unless it is -1), and every other box with Yes (or OK); what the boxes showed.
class SaveAs {
public:
    explicit SaveAs(const std::wstring& path, int filterRow = -1)
        : answer([this, path, filterRow](HWND dialog) {
              if (!GetDlgItem(dialog, 0x470)) {
                  PostMessageW(dialog, WM_COMMAND, GetDlgItem(dialog, IDYES) ? IDYES : IDOK, 0);
                  return;
              }
              if (saved.exchange(true)) return;
              Sleep(1000);  // the dialog fills its controls after it shows
              if (filterRow >= 0) {
                  HWND filter = GetDlgItem(dialog, 0x470);
                  SendMessageW(filter, CB_SETCURSEL, filterRow, 0);
                  for (const WORD code : {CBN_SELCHANGE, CBN_SELENDOK}) {
                      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(0x470, code), reinterpret_cast<LPARAM>(filter));
                  }
              }
              SetDlgItemTextW(dialog, 0x47C, path.c_str());
              SetDlgItemTextW(dialog, 0x480, path.c_str());
              PostMessageW(dialog, WM_COMMAND, IDOK, 0);
          }) {}
    // The boxes after the Save dialog.
    std::vector<std::wstring> Boxes() {
        answer.Stop();
        std::vector<std::wstring> seen = answer.Seen();
        if (!seen.empty()) seen.erase(seen.begin());
        return seen;
    }

private:
    std::atomic<bool> saved{false};
    Answerer answer;
};

inline std::string Seen(const std::vector<std::wstring>& texts) {
    std::string out;
    for (const std::wstring& text : texts) out += ov::ToUtf8(text) + "\n";
    return out.empty() ? "(no dialog)" : out;
}

}  // namespace ov::gui
