#include "app/export_format.h"

#include <charconv>
#include <cwctype>

#include "index/entry.h"
#include "index/index.h"

namespace {

const char kBom[] = "\xEF\xBB\xBF";

void AppendNumber(std::string& out, uint64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

// Appends whole stretches between quotes: most fields hold none.
void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (size_t quote; (quote = text.find('"')) != std::string_view::npos; text.remove_prefix(quote + 1)) {
        out.append(text.data(), quote + 1);
        out += '"';
    }
    out.append(text.data(), text.size());
    out += '"';
}

constexpr uint32_t kDirectoryFlag = 0x80000000u;
constexpr uint32_t kAttributeMask = 0x0000FFFFu;

const wchar_t* ExtensionOf(ExportFormat format) {
    switch (format) {
        case ExportFormat::Text:
            return L".txt";
        case ExportFormat::Efu:
            return L".efu";
        default:
            return L".csv";
    }
}

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

}  // namespace

size_t FillExportRows(const ov::Index& index, const uint32_t* ids, size_t count, std::vector<ExportRow>& rows) {
    if (rows.size() < count) rows.resize(count);
    size_t n = 0;
    uint32_t lastParent = ov::kNoEntry;  // rows[n - 1]'s, whose folder text is reused
    for (size_t i = 0; i < count; ++i) {
        const uint32_t id = ids[i];
        if (id >= index.entries.size() || ov::IsDeleted(index.entries[id])) continue;
        const ov::Entry& entry = index.entries[id];
        ExportRow& row = rows[n++];
        const std::string_view name = index.NameOf(id);
        row.name.assign(name);
        row.folder.clear();
        row.fullPath.clear();
        if (entry.parent == ov::kNoEntry) {
            index.AppendPath(id, false, row.fullPath);
        } else {
            // One walk up the parents, none when the row before had the same
            // folder: the full path is the folder's joined with the name, as the
            // index joins them.
            if (n >= 2 && entry.parent == lastParent) {
                row.folder = rows[n - 2].folder;
            } else {
                index.AppendPath(id, true, row.folder);
            }
            row.fullPath = row.folder;
            if (row.fullPath.empty() || row.fullPath.back() != '\\') row.fullPath += '\\';
            row.fullPath += name;
        }
        lastParent = entry.parent;
        row.size = entry.size;
        row.modified = entry.modified;
        row.created = entry.created;
        row.flags = entry.flags;
    }
    return n;
}

std::string CsvQuote(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + 2);
    AppendQuoted(out, utf8);
    return out;
}

std::string ExportPreamble(ExportFormat format) {
    std::string out = kBom;
    if (format == ExportFormat::Csv) out += "Name,Folder,Size,Date Modified,Date Created,Type\r\n";
    if (format == ExportFormat::Efu) out += "Filename,Size,Date Modified,Date Created,Attributes\r\n";
    return out;
}

void AppendExportLine(std::string& out, ExportFormat format, const ExportRow& row) {
    switch (format) {
        case ExportFormat::Csv:
            AppendQuoted(out, row.name);
            out += ',';
            AppendQuoted(out, row.folder);
            out += ',';
            AppendNumber(out, row.size);
            out += ',';
            AppendQuoted(out, row.modifiedText);
            out += ',';
            AppendQuoted(out, row.createdText);
            out += (row.flags & kDirectoryFlag) ? ",Folder" : ",File";
            break;
        case ExportFormat::Text:
            out += row.fullPath;
            break;
        case ExportFormat::Efu:
            AppendQuoted(out, row.fullPath);
            out += ',';
            AppendNumber(out, row.size);
            out += ',';
            AppendNumber(out, row.modified);
            out += ',';
            AppendNumber(out, row.created);
            out += ',';
            AppendNumber(out, row.flags & kAttributeMask);
            break;
    }
    out += "\r\n";
}

void ExportWriter::Flush() {
    if (ok && !buffer.empty()) ok = sink.Write(buffer.data(), buffer.size());
    buffer.clear();
}

void ExportWriter::LineDone() {
    if (buffer.size() > kFlushBytes) Flush();
}

bool ExportWriter::Finish() {
    Flush();
    return ok;
}

std::wstring ExportFileName(const std::wstring& chosen, ExportFormat format) {
    const size_t slash = chosen.find_last_of(L"\\/");
    const size_t dot = chosen.rfind(L'.');
    const bool hasExtension =
        dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash) && dot + 1 < chosen.size();
    if (!hasExtension) {
        std::wstring name = chosen;
        if (!name.empty() && name.back() == L'.') name.pop_back();
        return name + ExtensionOf(format);
    }
    const std::wstring_view extension = std::wstring_view(chosen).substr(dot);
    // Already the format's own, in whatever case: the name the dialog asked about.
    if (SameIgnoringCase(extension, ExtensionOf(format))) return chosen;
    for (const ExportFormat other : {ExportFormat::Csv, ExportFormat::Text, ExportFormat::Efu}) {
        if (SameIgnoringCase(extension, ExtensionOf(other))) return chosen.substr(0, dot) + ExtensionOf(format);
    }
    return chosen;
}
