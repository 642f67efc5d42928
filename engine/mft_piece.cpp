// From parsed records to the index's piece. Names are grouped by record with a
// counting sort that keeps each record's names in the order they were read
// (the readers merge in record order, so that order does not depend on how
// many readers ran). A name is kept only when its folder chain reaches the
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

std::string_view Cut(const std::string& pool, uint32_t offset, uint32_t length) {
    if (offset >= pool.size()) return {};
    return std::string_view(pool).substr(offset, length);
}

class PieceBuilder {
public:
    PieceBuilder(MftResult& result, Index::Piece& piece) : result(result), piece(piece), n(result.recordCount) {}

    bool Build(const WString& volumeName) {
        piece.recordMap.assign(n, kNoEntry);
        base.assign(n, kNone);
        const auto& files = result.files;
        for (size_t i = 0; i < files.size(); ++i)
            if (files[i].record < n) base[files[i].record] = static_cast<uint32_t>(i);
        for (const FileRec& ext : result.extensions) {
            if (ext.record >= n || base[ext.record] == kNone || !ext.sizeKnown) continue;
            FileRec& owner = result.files[base[ext.record]];
            if (!owner.sizeKnown) {
                owner.size = ext.size;
                owner.sizeKnown = true;
            }
        }
        SortRows();
        if (n <= kRootRecord || base[kRootRecord] == kNone) return false;

        verdict.assign(n, kUnknown);
        verdict[kRootRecord] = kReaches;
        piece.entries.reserve(rows.size() + 1);
        piece.names.reserve(result.namePool.size() + rows.size() + 16);
        piece.folded.reserve(result.foldedPool.size() + rows.size() + 16);

        const FileRec& root = files[base[kRootRecord]];
        const std::string name = ToUtf8(volumeName);
        const uint32_t rootEntry =
            piece.Add(kNoEntry, name, FoldCaseUtf8(name),
                      (root.attributes & EntryFlags::AttributeMask) | EntryFlags::Directory | EntryFlags::VolumeRoot, 0,
                      root.modified, root.created);
        if (rootEntry == kNoEntry) return false;
        piece.root = rootEntry;
        piece.recordMap[kRootRecord] = rootEntry;

        for (uint32_t i = 0; i < rows.size(); ++i) {
            const NameRec& row = rows[i];
            const uint32_t r = row.record;
            if (r == kRootRecord || row.parent >= n) continue;
            const FileRec& file = files[base[r]];
            if (file.directory) {
                // A folder has one place: the first of its names.
                if (i != first[r] || ReachesRoot(r) != kReaches) continue;
            } else if (r < kFirstUserRecord || (row.parent != kRootRecord && ReachesRoot(row.parent) != kReaches)) {
                continue;
            }
            uint32_t flags = file.attributes & EntryFlags::AttributeMask;
            if (file.directory) flags |= EntryFlags::Directory;
            const uint32_t entry = piece.Add(row.parent, Cut(result.namePool, row.nameOffset, row.nameLength),
                                             Cut(result.foldedPool, row.foldedOffset, row.foldedLength), flags,
                                             file.directory ? 0 : file.size, file.modified, file.created);
            if (entry == kNoEntry) return false;
            if (piece.recordMap[r] == kNoEntry) {
                piece.recordMap[r] = entry;
                ++(file.directory ? piece.folders : piece.files);
            } else {
                piece.hardLinks.emplace_back(r, entry);
                ++piece.files;
            }
        }
        for (uint32_t e = 0; e < piece.entries.size(); ++e)
            if (e != piece.root) piece.entries[e].parent = piece.recordMap[piece.entries[e].parent];
        return true;
    }

private:
    // Rows of records in the table, grouped by record in their read order; DOS
    // names dropped where the record has another name.
    void SortRows() {
        std::vector<uint32_t> start(uint64_t{n} + 1, 0);
        for (const NameRec& row : result.nameRows)
            if (row.record < n && base[row.record] != kNone) ++start[row.record + 1];
        for (uint32_t r = 0; r < n; ++r) start[r + 1] += start[r];
        rows.resize(start[n]);
        std::vector<uint32_t> next(start.begin(), start.end() - 1);
        for (const NameRec& row : result.nameRows)
            if (row.record < n && base[row.record] != kNone) rows[next[row.record]++] = row;
        result.nameRows = {};
        first.assign(n, kNone);
        size_t kept = 0;
        for (size_t i = 0; i < rows.size();) {
            const uint32_t r = rows[i].record;
            size_t end = i;
            bool longName = false;
            for (; end < rows.size() && rows[end].record == r; ++end) longName |= rows[end].nameSpace != kDosNames;
            for (; i < end; ++i) {
                if (longName && rows[i].nameSpace == kDosNames) continue;
                if (first[r] == kNone) first[r] = static_cast<uint32_t>(kept);
                rows[kept++] = rows[i];
            }
        }
        rows.resize(kept);
    }

    uint8_t ReachesRoot(uint32_t start) {
        path.clear();
        uint8_t found = kOrphan;
        bool gaveUp = false;
        for (uint32_t current = start;;) {
            if (current >= n || base[current] == kNone || verdict[current] == kOnPath) break;
            if (verdict[current] != kUnknown) {
                found = verdict[current];
                break;
            }
            if ((current < kFirstUserRecord && current != kRootRecord) || !result.files[base[current]].directory ||
                first[current] == kNone) {
                verdict[current] = kOrphan;
                break;
            }
            path.push_back(current);
            verdict[current] = kOnPath;
            const uint32_t parent = rows[first[current]].parent;
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
    std::vector<uint32_t> base;  // record -> index in result.files
    std::vector<NameRec> rows;
    std::vector<uint32_t> first;  // record -> its first row
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
    result.files = {};
    result.extensions = {};
    result.nameRows = {};
    result.namePool = {};
    result.foldedPool = {};
    return built;
}

}  // namespace ov
