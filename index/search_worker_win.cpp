#include <windows.h>

#include "index/search_worker.h"

namespace ov {

ResultSink PostResultsTo(HWND window) {
    return [window](std::unique_ptr<SearchResult> result) {
        // From a successful post on, the record belongs to the window.
        SearchResult* record = result.release();
        if (!PostMessageW(window, WM_APP_RESULTS, 0, reinterpret_cast<LPARAM>(record))) delete record;
    };
}

}  // namespace ov
