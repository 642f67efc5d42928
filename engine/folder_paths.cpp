// Path updates of a folder volume through its name map: finding, adding,
// refreshing and removing entries by their path below the volume's root, and
// reading a folder tree from disk. The folder watcher applies each batch of
// changes with these (folder_watch.cpp), as the journal route applies its
// records with journal_batch.h.
#include "engine/folder_paths.h"

#include <algorithm>

#include "engine/folder_scan.h"
#include "index/text.h"

namespace ov {
namespace {

constexpr int kMaxTreeDepth = 200;

// The live entry named folded in folder parent, or kNoEntry. Pairs of removed
// entries and hash collisions share keys, so every candidate is checked.
uint32_t Lookup(const Index& index, const VolumeMaps& volume, uint32_t parent, std::string_view folded) {
    return volume.nameMap.Find(NameMapKey(parent, folded), [&](uint32_t e) {
        return e < index.entries.size() && !IsDeleted(index.entries[e]) && index.entries[e].parent == parent &&
               index.FoldedOf(e) == folded;
    });
}

void Forget(const Index& index, VolumeMaps& volume, uint32_t e) {
    volume.nameMap.Erase(NameMapKey(index.entries[e].parent, index.FoldedOf(e)), e);
}

void Remember(const Index& index, VolumeMaps& volume, uint32_t e) {
    volume.nameMap.Insert(NameMapKey(index.entries[e].parent, index.FoldedOf(e)), e);
}

std::string_view TreeFolded(const Index::Piece& tree, const Entry& t) {
    return std::string_view(tree.folded).substr(t.foldedOffset, t.foldedLength);
}

// Collects one folder's listing into a piece, queueing its subfolders.
class TreeReader final : public FolderVisitor {
public:
    TreeReader(Index::Piece& tree, const std::atomic<bool>& stop) : tree(tree), stop(stop) {}

    struct Folder {
        uint32_t item;
        WString path;  // ends in '\'
        int depth;
    };

    void List(FileSystem& fs, const Folder& f, std::vector<Folder>& queue) {
        folder = &f;
        found = &queue;
        fs.ListFolder(LongPath(f.path), *this);  // an unlistable folder adds nothing
    }

    bool Item(const FindData& fd) override {
        if (stop.load(std::memory_order_relaxed)) return false;
        NameAndFolded(fd.name, fd.nameLength, name, folded, scratch);
        const bool dir = (fd.attributes & FileAttr::Directory) != 0;
        const uint32_t flags = (fd.attributes & EntryFlags::AttributeMask) | (dir ? EntryFlags::Directory : 0);
        const uint32_t item = tree.Add(folder->item, name, folded, flags, dir ? 0 : fd.size, fd.modified, fd.created);
        // Junctions and links to folders are listed, never entered.
        if (item != kNoEntry && dir && !(fd.attributes & FileAttr::ReparsePoint) && folder->depth < kMaxTreeDepth) {
            WString path = folder->path;
            path.append(fd.name, fd.nameLength).push_back(u'\\');
            found->push_back(Folder{item, std::move(path), folder->depth + 1});
        }
        return true;
    }

private:
    Index::Piece& tree;
    const std::atomic<bool>& stop;
    const Folder* folder = nullptr;
    std::vector<Folder>* found = nullptr;
    std::string name;
    std::string folded;
    WString scratch;
};

uint32_t Settle(Index& index, Volume& volume, uint32_t parent, const std::string& name, const std::string& folded,
                const FileStat& stat, bool& added) {
    added = false;
    const bool dir = (stat.attributes & FileAttr::Directory) != 0;
    uint32_t e = Lookup(index, volume, parent, folded);
    if (e != kNoEntry && IsDir(index.entries[e]) != dir) {  // a file became a folder or the other way round
        Forget(index, volume, e);
        index.RemoveCounted(volume, e);
        e = kNoEntry;
    }
    if (e != kNoEntry) {
        if (index.NameOf(e) != name) {  // the case changed
            Forget(index, volume, e);
            index.Rename(e, parent, name, folded);  // when refused, the entry keeps its name and so its key
            Remember(index, volume, e);
        }
        index.SetMeta(e, stat.size, stat.modified, stat.created, static_cast<uint16_t>(stat.attributes));
        return e;
    }
    const uint32_t flags =
        (stat.attributes & EntryFlags::AttributeMask) | (dir ? EntryFlags::Directory : 0) | SlotBits(volume.slot);
    e = index.Add(parent, name.data(), name.size(), folded, flags, dir ? 0 : stat.size, stat.modified, stat.created);
    if (e == kNoEntry) return kNoEntry;
    Remember(index, volume, e);
    (dir ? volume.folders : volume.files) += 1;
    added = true;
    return e;
}

}  // namespace

bool HasTilde(const WChar* begin, const WChar* end) {
    return std::find(begin, end, u'~') != end;
}

size_t LeafStart(const WString& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == WString::npos ? 0 : slash + 1;
}

WString OnDisk(const Volume& volume, const WString& path, bool folder) {
    WString full = volume.root + path;
    if (folder && !path.empty()) full.push_back(u'\\');
    return LongPath(full);
}

void ExpandShortNames(FileSystem& fs, const Volume& volume, bool removal, WString& path) {
    const size_t leaf = LeafStart(path);
    size_t end = removal ? (leaf == 0 ? 0 : leaf - 1) : path.size();
    while (end > 0 && HasTilde(path.data(), path.data() + end)) {
        WString full;
        if (fs.LongName(OnDisk(volume, path.substr(0, end)), full)) {
            // The long path has as many components as the short one.
            const size_t parts = std::count(path.begin(), path.begin() + end, u'\\') + 1;
            size_t from = full.size();
            for (size_t k = 0; k < parts && from != WString::npos && from > 0; ++k) from = full.rfind(u'\\', from - 1);
            if (from != WString::npos) path = full.substr(from + 1) + path.substr(end);
            return;
        }
        const size_t slash = path.rfind(u'\\', end - 1);
        end = slash == WString::npos ? 0 : slash;
    }
}

void Outermost(std::vector<WString>& folders) {
    std::sort(folders.begin(), folders.end());
    std::vector<WString> kept;
    for (WString& f : folders) {
        const bool below = std::any_of(kept.begin(), kept.end(), [&f](const WString& k) {
            return f == k || (f.size() > k.size() && f.compare(0, k.size(), k) == 0 && f[k.size()] == u'\\');
        });
        if (!below) kept.push_back(std::move(f));
    }
    folders.swap(kept);
}

void RemoveNamed(Index& index, VolumeMaps& volume, uint32_t e) {
    Forget(index, volume, e);
    index.RemoveCounted(volume, e);
}

uint32_t FindRel(const Index& index, const Volume& volume, const WString& path) {
    uint32_t current = volume.rootEntry;
    std::string name, folded;
    WString scratch;
    size_t position = 0;
    while (current != kNoEntry) {
        if (position >= path.size()) return current;
        size_t end = path.find(u'\\', position);
        if (end == WString::npos) end = path.size();
        if (end == position) return kNoEntry;  // two '\' in a row
        NameAndFolded(path.data() + position, end - position, name, folded, scratch);
        current = Lookup(index, volume, current, folded);
        position = end + 1;
    }
    return kNoEntry;
}

uint32_t TouchPath(Index& index, Volume& volume, const WString& path, const FileStat& stat, bool& newFolder,
                   std::vector<WString>& reads) {
    newFolder = false;
    uint32_t parent = volume.rootEntry;
    std::string name, folded;
    WString scratch;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        const bool leaf = end == WString::npos;
        if (leaf) end = path.size();
        if (end == start || parent == kNoEntry) return kNoEntry;
        NameAndFolded(path.data() + start, end - start, name, folded, scratch);
        if (leaf) break;
        const uint32_t next = Lookup(index, volume, parent, folded);
        if (next == kNoEntry || !IsDir(index.entries[next])) {
            // Its own change was lost or comes later: read it whole, with the item below it.
            reads.push_back(path.substr(0, end));
            return kNoEntry;
        }
        parent = next;
        start = end + 1;
    }
    bool added = false;
    const uint32_t e = Settle(index, volume, parent, name, folded, stat, added);
    newFolder = added && IsDir(index.entries[e]);
    return e;
}

void AddTree(Index& index, Volume& volume, const WString& path, const Index::Piece& tree, size_t begin, size_t end,
             std::vector<uint32_t>& entryOf, bool relocate) {
    if (tree.entries.empty() || path.empty()) return;
    const size_t leaf = LeafStart(path);
    const uint32_t parent = FindRel(index, volume, leaf == 0 ? WString() : path.substr(0, leaf - 1));
    if (parent == kNoEntry || !IsDir(index.entries[parent])) {  // went away meanwhile; its own change follows
        std::fill(entryOf.begin(), entryOf.end(), kNoEntry);
        return;
    }
    std::string name, folded;
    auto into = [&](size_t i) { return i == 0 ? parent : entryOf[tree.entries[i].parent]; };
    // Entry numbers moved since the items before begin were added: find them again.
    for (size_t i = 0; relocate && i < begin; ++i) {
        const uint32_t folder = into(i);
        const Entry& t = tree.entries[i];
        entryOf[i] = folder == kNoEntry ? kNoEntry : Lookup(index, volume, folder, TreeFolded(tree, t));
    }
    for (size_t i = begin; i < end; ++i) {
        const Entry& t = tree.entries[i];
        const uint32_t folder = into(i);
        if (folder == kNoEntry || !IsDir(index.entries[folder])) continue;  // its folder was refused
        name.assign(tree.names, t.nameOffset, t.nameLength);
        folded.assign(TreeFolded(tree, t));
        const FileStat stat{t.flags & EntryFlags::AttributeMask, t.size, t.modified, t.created};
        bool added = false;
        entryOf[i] = Settle(index, volume, folder, name, folded, stat, added);
    }
}

bool ReadTree(FileSystem& fs, const Volume& volume, const WString& path, Index::Piece& tree) {
    tree = Index::Piece();
    FileStat stat;
    uint32_t error = 0;
    if (path.empty() || !fs.Stat(OnDisk(volume, path), stat, error)) return false;
    std::string name, folded;
    WString scratch;
    const size_t leaf = LeafStart(path);
    NameAndFolded(path.data() + leaf, path.size() - leaf, name, folded, scratch);
    const bool dir = (stat.attributes & FileAttr::Directory) != 0;
    const uint32_t flags = (stat.attributes & EntryFlags::AttributeMask) | (dir ? EntryFlags::Directory : 0);
    if (tree.Add(kNoEntry, name, folded, flags, dir ? 0 : stat.size, stat.modified, stat.created) == kNoEntry)
        return false;
    if (!dir || (stat.attributes & FileAttr::ReparsePoint)) return true;
    TreeReader reader(tree, volume.stop);
    std::vector<TreeReader::Folder> queue{{0, volume.root + path + WChar(u'\\'), 0}};
    // Last in, first out: the queue stays as short as the tree is deep times its width.
    while (!queue.empty() && !volume.stop.load()) {
        const TreeReader::Folder f = std::move(queue.back());
        queue.pop_back();
        reader.List(fs, f, queue);
    }
    return !volume.stop.load();
}

}  // namespace ov
