// The export files' bytes as portable rules: quoting, the three formats' lines,
// the buffered writer that checks every write, and the file name the chosen
// format gets. The Save dialog and the file itself are export.cpp's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ov {
class Index;
}

// Filter index of the Save dialog (1-based, as the dialog reports it).
enum class ExportFormat { Csv = 1, Text = 2, Efu = 3 };

// One exported row, UTF-8. The two date texts are used by CSV only.
struct ExportRow {
    std::string name;
    std::string folder;  // the parent folder's full path
    std::string fullPath;
    uint64_t size = 0;
    uint64_t modified = 0;
    uint64_t created = 0;
    uint32_t flags = 0;  // ov::EntryFlags
    std::string modifiedText;
    std::string createdText;
};

// Fills rows[0..n) with the rows of ids[0..count) that name live entries of
// index, UTF-8 as the index holds it, dates not formatted; n is returned. rows
// only grows, so its strings keep their memory from batch to batch. The caller
// holds the index lock (shared) and has checked the ids' epoch. May throw
// std::bad_alloc.
size_t FillExportRows(const ov::Index& index, const uint32_t* ids, size_t count, std::vector<ExportRow>& rows);

// A double quote, text with every double quote doubled, a double quote.
std::string CsvQuote(std::string_view utf8);
// The byte-order mark and, for CSV and EFU, the header line.
std::string ExportPreamble(ExportFormat format);
// Appends row's line, CR LF included.
void AppendExportLine(std::string& out, ExportFormat format, const ExportRow& row);

// Where the bytes go; false when a write failed (the sink keeps why).
class ExportSink {
public:
    virtual ~ExportSink() = default;
    virtual bool Write(const char* data, size_t size) = 0;
};

// Collects lines and hands them to the sink in pieces of a little over
// kFlushBytes. After a failed write nothing more is written and Ok() is false.
class ExportWriter {
public:
    static constexpr size_t kFlushBytes = 8388608;
    explicit ExportWriter(ExportSink& sink) : sink(sink) {}
    std::string& Buffer() { return buffer; }
    // Writes the buffer when it holds more than kFlushBytes.
    void LineDone();
    // Writes whatever is left; the overall result.
    bool Finish();
    bool Ok() const { return ok; }

private:
    void Flush();
    ExportSink& sink;
    std::string buffer;
    bool ok = true;
};

// The file name to write for the name the Save dialog returned: a name ending
// in another of the three formats' extensions (".csv", ".txt", ".efu", any
// case) takes the chosen format's; a name without an extension gets it; the
// chosen format's own extension in any case, and any other extension the user
// typed, are kept as typed.
std::wstring ExportFileName(const std::wstring& chosen, ExportFormat format);
