// The export reads the shown rows in small batches, each under its own short
// hold of the index lock, and formats and writes them with the lock let go: a
// large export on a slow disk must not stall searches and index updates. The
// index renumbers the export's copy of the entry numbers whenever a compaction
// or a merge moves them meanwhile, so every shown row is still written; only a
// load, which replaces every entry, leaves them behind. Every write is checked;
// a file that could not be written whole is deleted and the user is told why.
#include "app/export.h"

#include <windows.h>

#include <commdlg.h>

#include <functional>
#include <vector>

#include "app/activity_log.h"
#include "app/engine_host.h"
#include "app/export_format.h"
#include "app/result_text.h"
#include "app/results_list.h"
#include "app/window_kit.h"
#include "index/text.h"

namespace {

// Rows read under one hold of the index lock.
constexpr size_t kBatchRows = 2048;

class FileSink final : public ExportSink {
public:
    explicit FileSink(HANDLE file) : file(file) {}
    bool Write(const char* data, size_t size) override {
        while (size > 0) {
            const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(file, data, piece, &written, nullptr)) {
                error = GetLastError();
                return false;
            }
            if (written == 0) {
                error = ERROR_WRITE_FAULT;
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }
    DWORD error = 0;

private:
    HANDLE file;
};

// The system's sentence for an error code, without its line break.
std::wstring SystemText(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = text ? text : L"";
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    if (out.empty()) out = FormatString(L"Error %lu.", error);
    return out;
}

std::function<void()> gBatchHook;

// As the file system compares names: the dialog already asked about the same file.
bool SameFileName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// The name the chosen filter's format gets; false when the user would not
// replace a file the dialog did not ask about.
bool FinalExportName(const wchar_t* chosen, ExportFormat format, std::wstring& path) {
    path = ExportFileName(chosen, format);
    if (SameFileName(path, chosen) || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    const std::wstring question = FormatString(L"%ls already exists.\nDo you want to replace it?", path.c_str());
    return MessageBoxW(gMain, question.c_str(), L"Orvane", MB_ICONWARNING | MB_YESNO) == IDYES;
}

enum class RowsRead { All, LeftBehind, NoMemory };

// Writes the row of every id that still names a live entry; count is the
// number written. ids are followed by the index while this runs.
RowsRead WriteRows(const std::vector<uint32_t>& ids, ExportWriter& writer, ExportFormat format, uint64_t& count) {
    std::vector<ExportRow> rows;
    for (size_t first = 0; first < ids.size() && writer.Ok(); first += kBatchRows) {
        if (first > 0 && gBatchHook) gBatchHook();
        const size_t batch = std::min(kBatchRows, ids.size() - first);
        const ptrdiff_t filled = ReadExportRows(ids.data() + first, batch, rows);
        if (filled == kRowsLeftBehind) return RowsRead::LeftBehind;
        if (filled < 0) return RowsRead::NoMemory;
        for (ptrdiff_t i = 0; i < filled; ++i) {
            ExportRow& row = rows[static_cast<size_t>(i)];
            if (format == ExportFormat::Csv) {
                row.modifiedText = ov::ToUtf8(FormatFileTime(row.modified));
                row.createdText = ov::ToUtf8(FormatFileTime(row.created));
            }
            AppendExportLine(writer.Buffer(), format, row);
            ++count;
            writer.LineDone();
        }
    }
    return RowsRead::All;
}

// Every shown row, with the shown entry numbers followed for the export's length.
RowsRead WriteShownRows(ExportWriter& writer, ExportFormat format, uint64_t& count) {
    std::vector<uint32_t> ids = gShown.ids;
    if (!FollowEntries(ids, gShown.epoch)) return RowsRead::LeftBehind;
    RowsRead read = RowsRead::NoMemory;
    try {
        read = WriteRows(ids, writer, format, count);
    } catch (const std::exception&) {
        read = RowsRead::NoMemory;
    }
    StopFollowingEntries();
    return read;
}

}  // namespace

void ExportResults() {
    if (gShown.ids.empty()) {
        MessageBoxW(gMain, L"There are no results to export.", L"Orvane", MB_ICONINFORMATION);
        return;
    }
    wchar_t chosen[520] = L"Orvane results.csv";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = gMain;
    dialog.lpstrFilter =
        L"CSV - opens in Excel (*.csv)\0*.csv\0Text - one path per line (*.txt)\0*.txt\0"
        L"EFU file list (*.efu)\0*.efu\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = chosen;
    dialog.nMaxFile = 520;
    dialog.lpstrDefExt = L"csv";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&dialog)) return;
    const ExportFormat format = dialog.nFilterIndex >= 1 && dialog.nFilterIndex <= 3
                                    ? static_cast<ExportFormat>(dialog.nFilterIndex)
                                    : ExportFormat::Csv;
    std::wstring path;
    if (!FinalExportName(chosen, format, path)) return;

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        MessageBoxW(gMain, L"Couldn't create that file.", L"Orvane", MB_ICONWARNING);
        return;
    }
    FileSink sink(file);
    ExportWriter writer(sink);
    uint64_t count = 0;
    RowsRead read = RowsRead::NoMemory;
    try {
        writer.Buffer() = ExportPreamble(format);
        read = WriteShownRows(writer, format, count);
    } catch (const std::exception&) {
        read = RowsRead::NoMemory;
    }
    const bool written = read == RowsRead::All && writer.Finish();
    const bool closed = CloseHandle(file) != 0;
    if (!written || !closed) {
        // Half a list looks like a whole one: nothing stays behind.
        DeleteFileW(path.c_str());
        std::wstring message;
        if (read == RowsRead::LeftBehind) {
            message =
                L"The results changed while they were being exported, so nothing was exported. "
                L"Please export again.";
        } else {
            const DWORD error = read == RowsRead::NoMemory ? ERROR_NOT_ENOUGH_MEMORY
                                : sink.error               ? sink.error
                                                           : GetLastError();
            message =
                FormatString(L"Couldn't write that file, so nothing was exported. %ls", SystemText(error).c_str());
        }
        MessageBoxW(gMain, message.c_str(), L"Orvane", MB_ICONWARNING);
        return;
    }
    SetStatusText(FormatString(L"Exported %ls results to %ls", FormatThousands(count).c_str(), path.c_str()));
}

void SetExportBatchHookForTesting(std::function<void()> hook) {
    gBatchHook = std::move(hook);
}
