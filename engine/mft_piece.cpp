// From parsed records to the index's piece. Names are grouped by record with a
// counting sort that keeps each record's names in table order (the parts'
// stretches are walked in that order, so it does not depend on how many
// readers ran); the names stay in the readers' pools until the piece copies
// them. A name is kept only when its folder chain reaches the
// root: ReachesRoot walks first names upward and remembers a verdict for every
// folder it passes, so the whole test is linear. A walk that meets its own
// path is a loop; one that gives up after kMaxChain folders marks only where
// it started, since an ancestor nearer the root may still reach it.
#include "engine/mft_piece.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "index/text.h"

namespace ov {
namespace {

constexpr uint32_t kRootRecord = 5;
constexpr uint32_t kFirstUserRecord = 24;
constexpr uint8_t kDosNames = 2;
constexpr size_t kMaxChain = 300;
constexpr uint32_t kNone = 0xFFFFFFFFu;

enum Verdict : uint8_t { kUnknown = 0, kReaches = 1, kOrphan = 2, kOnPath = 3 };

std::string_view Cut(const std::string& pool, uint64_t offset, uint32_t length) {
    if (offset >= pool.size()) return {};
    return std::string_view(pool).substr(offset, length);
}

class PieceBuilder {
public:
    PieceBuilder(MftResult& result, Index::Piece& piece) : result(result), piece(piece), n(result.recordCount) {}

    bool Build(const WString& volumeName) {
        MftResult& r = result;
        if (r.order.empty()) {
            for (uint32_t p = 0; p < r.parts.size(); ++p) {
                const MftPart& part = r.parts[p];
                r.order.push_back(MftSpan{p, 0, part.files.size(), 0, part.extensions.size(), 0, part.nameRows.size()});
            }
        }
        // Rows keep their names where the readers wrote them: an offset in
        // the sorted rows counts through the parts' pools one after another.
        nameBase.assign(1, 0);
        foldedBase.assign(1, 0);
        for (const MftPart& part : r.parts) {
            nameBase.push_back(nameBase.back() + part.namePool.size());
            foldedBase.push_back(foldedBase.back() + part.foldedPool.size());
        }
        if (nameBase.back() > 0xFFFFFFFFu || foldedBase.back() > 0xFFFFFFFFu) {
            r.error = "too many names for the index";
            return false;
        }

        piece.recordMap.assign(n, kNoEntry);
        base.assign(n, nullptr);
        for (const MftSpan& span : r.order) {
            std::vector<FileRec>& files = r.parts[span.part].files;
            for (size_t i = span.filesBegin; i < span.filesEnd; ++i)
                if (files[i].record < n) base[files[i].record] = &files[i];
        }
        for (const MftSpan& span : r.order) {
            const std::vector<FileRec>& extensions = r.parts[span.part].extensions;
            for (size_t i = span.extensionsBegin; i < span.extensionsEnd; ++i) {
                const FileRec& ext = extensions[i];
                if (ext.record >= n || !base[ext.record] || !ext.sizeKnown) continue;
                FileRec& owner = *base[ext.record];
                if (!owner.sizeKnown) {
                    owner.size = ext.size;
                    owner.sizeKnown = true;
                }
            }
        }
        SortRows();
        if (n <= kRootRecord || !base[kRootRecord]) return false;

        verdict.assign(n, kUnknown);
        verdict[kRootRecord] = kReaches;
        piece.entries.reserve(placedRows + 1);
        piece.names.reserve(nameBase.back() + placedRows + 16);
        piece.folded.reserve(foldedBase.back() + placedRows + 16);

        const FileRec& root = *base[kRootRecord];
        const std::string name = ToUtf8(volumeName);
        const uint32_t rootEntry =
            piece.Add(kNoEntry, name, FoldCaseUtf8(name),
                      (root.attributes & EntryFlags::AttributeMask) | EntryFlags::Directory | EntryFlags::VolumeRoot, 0,
                      root.modified, root.created);
        if (rootEntry == kNoEntry) return false;
        piece.root = rootEntry;
        piece.recordMap[kRootRecord] = rootEntry;

        uint32_t previous = kNone;  // the record of the previous kept row
        const bool added = ForEachRow([&](const NameRec& row) {
            const uint32_t rec = row.record;
            if (!Kept(row)) return true;
            // A record's rows are next to each other, so its first one is where the record changes.
            const bool firstOfRecord = rec != previous;
            previous = rec;
            if (rec == kRootRecord || row.parent >= n) return true;
            const FileRec& file = *base[rec];
            if (file.directory) {
                // A folder has one place: the first of its names.
                if (!firstOfRecord || ReachesRoot(rec) != kReaches) return true;
            } else if (rec < kFirstUserRecord || (row.parent != kRootRecord && ReachesRoot(row.parent) != kReaches)) {
                return true;
            }
            uint32_t flags = file.attributes & EntryFlags::AttributeMask;
            if (file.directory) flags |= EntryFlags::Directory;
            const uint32_t entry = piece.Add(row.parent, Name(row.nameOffset, row.nameLength, false),
                                             Name(row.foldedOffset, row.foldedLength, true), flags,
                                             file.directory ? 0 : file.size, file.modified, file.created);
            if (entry == kNoEntry) return false;
            if (piece.recordMap[rec] == kNoEntry) {
                piece.recordMap[rec] = entry;
                ++(file.directory ? piece.folders : piece.files);
            } else {
                piece.hardLinks.emplace_back(rec, entry);
                ++piece.files;
            }
            return true;
        });
        if (!added) return false;
        for (uint32_t e = 0; e < piece.entries.size(); ++e)
            if (e != piece.root) piece.entries[e].parent = piece.recordMap[piece.entries[e].parent];
        return true;
    }

private:
    // A name of the sorted rows, found in the part whose pool holds it.
    std::string_view Name(uint32_t offset, uint16_t length, bool folded) const {
        const std::vector<uint64_t>& bases = folded ? foldedBase : nameBase;
        const size_t p = static_cast<size_t>(std::upper_bound(bases.begin(), bases.end(), offset) - bases.begin());
        if (p == 0 || p >= bases.size()) return {};
        const MftPart& part = result.parts[p - 1];
        return Cut(folded ? part.foldedPool : part.namePool, offset - bases[p - 1], length);
    }

    bool Placed(const NameRec& row) const { return row.record < n && base[row.record]; }
    // DOS names go where the record has another name.
    bool Kept(const NameRec& row) const { return row.nameSpace != kDosNames || !longName[row.record]; }

    // Calls fn(row) for each row of a record in the table, grouped by record in
    // table order, with pool offsets counted through the parts; stops when fn
    // returns false.
    template <class Fn>
    bool ForEachRow(Fn&& fn) {
        if (!inOrder) {
            for (const NameRec& row : rows)
                if (!fn(row)) return false;
            return true;
        }
        return ForEachPlacedRow([&](const MftSpan& span, const NameRec& row) { return fn(Shifted(span, row)); });
    }

    // Calls fn(span, row) for each row of a placed record as the parts hold
    // them, in table order; stops when fn returns false.
    template <class Fn>
    bool ForEachPlacedRow(Fn&& fn) const {
        for (const MftSpan& span : result.order) {
            const std::vector<NameRec>& from = result.parts[span.part].nameRows;
            for (size_t i = span.rowsBegin; i < span.rowsEnd; ++i)
                if (Placed(from[i]) && !fn(span, from[i])) return false;
        }
        return true;
    }

    // The row with its pool offsets counted through the parts.
    NameRec Shifted(const MftSpan& span, NameRec row) const {
        row.nameOffset += static_cast<uint32_t>(nameBase[span.part]);
        row.foldedOffset += static_cast<uint32_t>(foldedBase[span.part]);
        return row;
    }

    // Groups the rows by record, keeping each record's rows in table order.
    // The readers' rows usually are in record order already (only names in
    // extension records fall behind) and are then walked where they lie.
    void SortRows() {
        inOrder = true;
        uint32_t last = 0;
        ForEachPlacedRow([&](const MftSpan&, const NameRec& row) {
            ++placedRows;
            inOrder = inOrder && row.record >= last;
            last = row.record;
            return true;
        });
        if (!inOrder) {
            // Counting sort: start[r + 1] counts record r's rows, then start[r]
            // serves as record r's cursor while the rows are placed.
            std::vector<uint32_t> start(uint64_t{n} + 1, 0);
            ForEachPlacedRow([&](const MftSpan&, const NameRec& row) {
                ++start[row.record + 1];
                return true;
            });
            for (uint32_t r = 0; r < n; ++r) start[r + 1] += start[r];
            rows.resize(start[n]);
            ForEachPlacedRow([&](const MftSpan& span, const NameRec& row) {
                rows[start[row.record]++] = Shifted(span, row);
                return true;
            });
            start = {};
            for (MftPart& part : result.parts) part.nameRows = {};
        }
        longName.assign(n, false);
        ForEachRow([&](const NameRec& row) {
            if (row.nameSpace != kDosNames) longName[row.record] = true;
            return true;
        });
        // Any parent past the table leads nowhere; n stands for all of them.
        firstParent.assign(n, kNone);
        ForEachRow([&](const NameRec& row) {
            if (Kept(row) && firstParent[row.record] == kNone) firstParent[row.record] = std::min(row.parent, n);
            return true;
        });
    }

    uint8_t ReachesRoot(uint32_t start) {
        path.clear();
        uint8_t found = kOrphan;
        bool gaveUp = false;
        for (uint32_t current = start;;) {
            if (current >= n || !base[current] || verdict[current] == kOnPath) break;
            if (verdict[current] != kUnknown) {
                found = verdict[current];
                break;
            }
            if ((current < kFirstUserRecord && current != kRootRecord) || !base[current]->directory ||
                firstParent[current] == kNone) {
                verdict[current] = kOrphan;
                break;
            }
            path.push_back(current);
            verdict[current] = kOnPath;
            const uint32_t parent = firstParent[current];
            if (parent == current) break;
            if (path.size() == kMaxChain) {
                gaveUp = true;
                break;
            }
            current = parent;
        }
        for (uint32_t r : path) verdict[r] = gaveUp ? uint8_t{kUnknown} : found;
        if (gaveUp) verdict[start] = kOrphan;
        return found;
    }

    MftResult& result;
    Index::Piece& piece;
    const uint32_t n;
    std::vector<FileRec*> base;                  // record -> its base record in a part
    std::vector<uint64_t> nameBase, foldedBase;  // part -> where its pools start in the row offsets
    size_t placedRows = 0;
    bool inOrder = true;                // the parts' rows are walked in place
    std::vector<NameRec> rows;          // the rows sorted by record, unless inOrder
    std::vector<bool> longName;         // record -> has a name other than a DOS name
    std::vector<uint32_t> firstParent;  // record -> parent of its first kept name
    std::vector<uint8_t> verdict;
    std::vector<uint32_t> path;
};

}  // namespace

bool FromMftResult(MftResult& result, const WString& volumeName, Index::Piece& piece) {
    bool built = false;
    try {
        built = PieceBuilder(result, piece).Build(volumeName);
    } catch (const std::bad_alloc&) {
        result.error = "not enough memory";
    } catch (const std::length_error&) {
        result.error = "not enough memory";
    }
    result.parts = {};
    result.order = {};
    return built;
}

}  // namespace ov
