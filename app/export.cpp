// The export reads the shown rows in small batches, each under its own short
// hold of the index lock with the epoch checked, and formats and writes them
// with the lock let go: a large export on a slow disk must not stall searches
// and index updates. Every write is checked; a file that could not be written
// whole is deleted and the user is told why.
#include "app/export.h"

#include <windows.h>

#include <commdlg.h>

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

// The name the chosen filter's format gets; false when the user would not
// replace a file the dialog did not ask about.
bool FinalExportName(const wchar_t* chosen, ExportFormat format, std::wstring& path) {
    path = ExportFileName(chosen, format);
    if (path == chosen || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    const std::wstring question = FormatString(L"%ls already exists.\nDo you want to replace it?", path.c_str());
    return MessageBoxW(gMain, question.c_str(), L"Orvane", MB_ICONWARNING | MB_YESNO) == IDYES;
}

// Writes every shown row that is still there; the count of rows written.
uint64_t WriteShownRows(ExportWriter& writer, ExportFormat format) {
    uint64_t count = 0;
    std::vector<ExportRow> rows;
    const std::vector<uint32_t>& ids = gShown.ids;
    for (size_t first = 0; first < ids.size() && writer.Ok(); first += kBatchRows) {
        const size_t batch = std::min(kBatchRows, ids.size() - first);
        // A compaction moved every entry number: the rest names other entries.
        const ptrdiff_t filled = ReadExportRows(ids.data() + first, batch, gShown.epoch, rows);
        if (filled < 0) break;
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
    return count;
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
    bool memory = true;
    try {
        writer.Buffer() = ExportPreamble(format);
        count = WriteShownRows(writer, format);
    } catch (const std::exception&) {
        memory = false;
    }
    const bool written = memory && writer.Finish();
    const bool closed = CloseHandle(file) != 0;
    if (!written || !closed) {
        const DWORD error = !memory ? ERROR_NOT_ENOUGH_MEMORY : sink.error ? sink.error : GetLastError();
        // Half a list looks like a whole one: nothing stays behind.
        DeleteFileW(path.c_str());
        const std::wstring message =
            FormatString(L"Couldn't write that file, so nothing was exported. %ls", SystemText(error).c_str());
        MessageBoxW(gMain, message.c_str(), L"Orvane", MB_ICONWARNING);
        return;
    }
    SetStatusText(FormatString(L"Exported %ls results to %ls", FormatThousands(count).c_str(), path.c_str()));
}
