#include "folder_tree_cache.h"

#include <cwchar>

#include "ascii_fold.h"
#include "folder_listing.h"
#include "scan_path.h"

namespace tvn {

void MakeFolderKey(wchar_t* path) {
    size_t length = FoldAsciiInPlace(path);
    if (length != 0 && path[length - 1] == L'\\') {
        path[length - 1] = 0;
    }
}

FolderTreeCache::FolderTreeCache() = default;

// No computation runs any more: the store then frees the blocks kept for pinned records too.
FolderTreeCache::~FolderTreeCache() {
    ClearAll();
}

// ---- keys -----------------------------------------------------------------------------------

// FNV-1a over the UTF-16 units, folded to 32 bits.
uint32_t FolderTreeCache::HashKey(std::wstring_view key) const {
    if (hashHook_) {
        return hashHook_(key);
    }
    uint64_t h = 14695981039346656037ull;
    for (wchar_t c : key) {
        h = (h ^ uint16_t(c)) * 1099511628211ull;
    }
    return uint32_t(h ^ (h >> 32));
}

// Compares the stored names from the record up its parent chain, each against the end of the
// part of `key` that is left, until a record that stores its whole key.
bool FolderTreeCache::KeyMatches(const FolderRecord* record, std::wstring_view key) const {
    while (record) {
        const size_t n = record->nameLength;
        if (record->wholeKey) {
            return key.size() == n && wmemcmp(key.data(), NameOf(record), n) == 0;
        }
        if (key.size() < n + 1) {
            return false;
        }
        const size_t cut = key.size() - n - 1;
        if (key[cut] != L'\\' || wmemcmp(key.data() + cut + 1, NameOf(record), n) != 0) {
            return false;
        }
        key = key.substr(0, cut);
        record = ParentOf(record);
    }
    return false;  // a name-only record always has a parent; never reached
}

size_t FolderTreeCache::KeyOf(const FolderRecord* record, wchar_t* out) const {
    size_t length = 0;
    for (const FolderRecord* r = record; r; r = r->wholeKey ? nullptr : ParentOf(r)) {
        length += r->nameLength + (r->wholeKey ? 0 : 1);
    }
    size_t end = length;
    for (const FolderRecord* r = record; r; r = r->wholeKey ? nullptr : ParentOf(r)) {
        end -= r->nameLength;
        wmemcpy(out + end, NameOf(r), r->nameLength);
        if (!r->wholeKey) {
            out[--end] = L'\\';
        }
    }
    out[length] = 0;
    return length;
}

bool FolderTreeCache::IsParentKey(const FolderRecord* parent, std::wstring_view key) const {
    const size_t cut = key.rfind(L'\\');
    return cut != std::wstring_view::npos && cut + 1 < key.size() &&
           KeyMatches(parent, key.substr(0, cut));
}

// ---- the table -------------------------------------------------------------------------------

FolderRecord* FolderTreeCache::FindLocked(std::wstring_view key) {
    return FindLocked(key, HashKey(key));
}

FolderRecord* FolderTreeCache::FindLocked(std::wstring_view key, uint32_t hash) {
    return store_.Find(hash, [&](const FolderRecord* r) { return KeyMatches(r, key); });
}

FolderRecord* FolderTreeCache::InsertLocked(std::wstring_view key, uint32_t hash,
                                            FolderRecord* parent) {
    if (key.size() > kMaxKeyChars) {
        return nullptr;
    }
    if (!store_.ReserveChain()) {
        return nullptr;
    }
    const bool belowParent = parent && !parent->detached && IsParentKey(parent, key);
    const std::wstring_view stored = belowParent ? key.substr(key.rfind(L'\\') + 1) : key;
    FolderRecord* record = store_.Allocate(stored.size());
    if (!record) {
        return nullptr;
    }
    *record = FolderRecord{};
    record->hash = hash;
    record->wholeKey = !belowParent;
    record->nameLength = uint16_t(stored.size());
    wmemcpy(record->name, stored.data(), stored.size());
    store_.Chain(record);
    if (belowParent) {
        LinkParentLocked(record, parent, key);
    }
    return record;
}

// ---- links, removal --------------------------------------------------------------------------

void FolderTreeCache::UnlinkParentLocked(FolderRecord* record) {
    FolderRecord* parent = ParentOf(record);
    if (!parent) {
        return;
    }
    if (FolderRecord* prev = At(record->prevSibling)) {
        prev->nextSibling = record->nextSibling;
    } else {
        parent->firstChild = record->nextSibling;
    }
    if (FolderRecord* next = At(record->nextSibling)) {
        next->prevSibling = record->prevSibling;
    }
    record->parent = record->prevSibling = record->nextSibling = RecordRef{};
}

// A removed (detached) parent is never linked: a record in the table only ever points at a
// record in the table, so removing a record's subtree leaves no link to it behind. A record
// that stores only its name keeps a parent while it is in the table: its key is made from it.
void FolderTreeCache::LinkParentLocked(FolderRecord* record, FolderRecord* parent,
                                       std::wstring_view key) {
    if (!parent || parent->detached || ParentOf(record) == parent) {
        return;
    }
    if (!IsParentKey(parent, key)) {
        return;
    }
    UnlinkParentLocked(record);
    const RecordRef ref = RefOf(record);
    record->parent = RefOf(parent);
    record->nextSibling = parent->firstChild;
    if (FolderRecord* next = At(parent->firstChild)) {
        next->prevSibling = ref;
    }
    parent->firstChild = ref;
}

void FolderTreeCache::DetachLocked(FolderRecord* record) {
    UnlinkParentLocked(record);
    if (!record->detached) {
        store_.Unchain(record);
    }
    record->firstChild = RecordRef{};
    if (record->pins == 0) {
        store_.Free(record);
    } else if (!record->detached) {
        store_.PushDetached(record);  // the last computation holding it frees it
    }
}

void FolderTreeCache::UnpinLocked(FolderRecord* record) {
    if (--record->pins == 0 && record->detached) {
        store_.PopDetached(record);
        store_.Free(record);
    }
}

// Walks the subtree through the child lists, removing leaves first; no allocation, no
// recursion, and a cost proportional to the records removed.
void FolderTreeCache::RemoveDescendants(FolderRecord* record) {
    if (!record) {
        return;
    }
    FolderRecord* node = record;
    for (;;) {
        if (FolderRecord* child = At(node->firstChild)) {
            node = child;
            continue;
        }
        if (node == record) {
            break;
        }
        FolderRecord* up = ParentOf(node);
        DetachLocked(node);
        node = up;
    }
}

// Records held by a running computation stay allocated (detached) until it lets go.
void FolderTreeCache::ClearAll() {
    auto hold = lock_.Enter();
    store_.Clear();
}

// ---- change marks ----------------------------------------------------------------------------

void FolderTreeCache::MarkChainLocked(FolderRecord* record, bool filesDirty) {
    if (filesDirty) {
        record->filesDirty = true;
    }
    for (FolderRecord* r = record; r; r = ParentOf(r)) {
        r->subfoldersDirty = true;
        ++r->marks;
    }
}

void FolderTreeCache::MarkContainingFolderLocked(std::wstring_view itemKey) {
    size_t cut = itemKey.rfind(L'\\');
    if (cut == std::wstring_view::npos) {
        return;
    }
    if (FolderRecord* folder = FindLocked(itemKey.substr(0, cut))) {
        MarkChainLocked(folder, true);
    }
}

void FolderTreeCache::DropFolderLocked(std::wstring_view folderKey) {
    if (FolderRecord* record = FindLocked(folderKey)) {
        RemoveDescendants(record);
        DetachLocked(record);
    }
}

void FolderTreeCache::MarkContainingFolder(std::wstring_view itemKey) {
    auto hold = lock_.Enter();
    MarkContainingFolderLocked(itemKey);
}

void FolderTreeCache::DropFolder(std::wstring_view folderKey) {
    auto hold = lock_.Enter();
    DropFolderLocked(folderKey);
}

void FolderTreeCache::MarkSubtree(std::wstring_view rootKey) {
    auto hold = lock_.Enter();
    wchar_t buffer[kMaxKeyChars + 1];
    ForEachRecordLocked([&](FolderRecord* record) {
        const std::wstring_view k(buffer, KeyOf(record, buffer));
        bool below = k.size() > rootKey.size() && k.substr(0, rootKey.size()) == rootKey &&
                     k[rootKey.size()] == L'\\';
        if (k == rootKey || below) {
            record->filesDirty = record->subfoldersDirty = true;
            ++record->marks;
        }
    });
}

// ---- computations ----------------------------------------------------------------------------

HRESULT FolderTreeCache::ComputeCachedSize(wchar_t* path, FolderRecord* parent,
                                           uint64_t* outBytes) {
    RequestFolders folders;
    bool unsettled = false;
    return CachedSize(path, parent, Descent{nullptr, &folders, nullptr, false}, outBytes,
                      &unsettled);
}

HRESULT FolderTreeCache::ComputeUncachedSize(const wchar_t* path, uint64_t* outBytes) {
    RequestFolders folders;
    return UncachedSize(path, Descent{nullptr, &folders, nullptr, false}, outBytes);
}

HRESULT FolderTreeCache::CachedSize(wchar_t* path, FolderRecord* parent, const Descent& descent,
                                    uint64_t* outBytes, bool* unsettled) {
    MakeFolderKey(path);
    *outBytes = 0;
    *unsettled = descent.throughLink;
    const std::wstring_view key(path);
    if (key.size() > kMaxKeyChars) {
        return E_FAIL;  // no listing of it can be opened
    }
    const uint32_t hash = HashKey(key);

    Held held{};
    switch (AnswerOrPin(key, hash, parent, outBytes, &held)) {
        case Start::Answered:
            return S_OK;
        case Start::NoMemory:
            return E_OUTOFMEMORY;
        case Start::Pinned:
            break;
    }

    Counted counted{};
    if (!ListFolder(path, key.size(), descent, held, &counted)) {
        auto hold = lock_.Enter();
        ReleaseLocked(held);
        return E_FAIL;
    }
    WriteBack(key, hash, held, counted);
    *unsettled = counted.unsettled;
    *outBytes = counted.files + counted.subfolders;
    return S_OK;
}

FolderTreeCache::Start FolderTreeCache::AnswerOrPin(std::wstring_view key, uint32_t hash,
                                                    FolderRecord* parent, uint64_t* outBytes,
                                                    Held* held) {
    auto hold = lock_.Enter();
    FolderRecord* record = FindLocked(key, hash);
    if (record) {
        LinkParentLocked(record, parent, key);
    } else {
        record = InsertLocked(key, hash, parent);
        if (!record) {
            return Start::NoMemory;
        }
        record->filesDirty = record->subfoldersDirty = true;
    }
    held->snapshot = *record;
    if (!held->snapshot.filesDirty && !held->snapshot.subfoldersDirty) {
        *outBytes = held->snapshot.filesBytes + held->snapshot.subfoldersBytes;
        return Start::Answered;
    }
    // Hold the record (children get it as their parent) and the parent read here (it is
    // written back) until the write-back.
    held->record = record;
    held->parent = ParentOf(record);
    ++record->pins;
    if (held->parent) {
        ++held->parent->pins;
    }
    return Start::Pinned;
}

// The listing and the child path live in this frame, one per folder level of the descent.
bool FolderTreeCache::ListFolder(const wchar_t* path, size_t pathLength, const Descent& descent,
                                 const Held& held, Counted* counted) {
    FolderListing listing;
    if (listing.Open(path, pathLength) != ERROR_SUCCESS) {
        return false;
    }
    listings_.fetch_add(1, std::memory_order_relaxed);
    if (listingHook_) {
        listingHook_(listingHookContext_, path);
    }

    // A request asked directly for a folder below a link is reached through that link too.
    const bool throughLink =
        descent.throughLink || (descent.up == nullptr && PathPassesThroughLink(path));
    const FolderRecord& snapshot = held.snapshot;
    *counted =
        Counted{snapshot.filesDirty ? 0 : snapshot.filesBytes,
                snapshot.subfoldersDirty ? 0 : snapshot.subfoldersBytes, throughLink, throughLink};
    const DescentLevel level(path, descent.up, descent.known);
    wchar_t childPath[kScanPathChars];
    while (listing.Next()) {
        const WIN32_FIND_DATAW& entry = listing.Entry();
        if (IsFolderEntry(entry)) {
            if (!snapshot.subfoldersDirty) {
                continue;
            }
            // A subfolder whose path does not fit counts as one that cannot be listed, and one
            // this request must not enter again counts 0 without a record.
            if (!JoinScanPath(childPath, path, pathLength, entry.cFileName)) {
                continue;
            }
            const EntryCheck check = descent.folders->Check(level, childPath, IsLinkEntry(entry));
            if (!check.Enters()) {
                counted->unsettled |= check.verdict == EntryVerdict::EnteredBefore;
                continue;
            }
            const Descent below{&level, descent.folders, check.Known(),
                                throughLink || check.verdict == EntryVerdict::EnterLinked};
            uint64_t childBytes = 0;
            bool childUnsettled = false;
            if (CachedSize(childPath, held.record, below, &childBytes, &childUnsettled) == S_OK) {
                counted->subfolders += childBytes;
            }
            counted->unsettled |= childUnsettled;
        } else if (snapshot.filesDirty) {
            counted->files += FileSizeOf(entry);
        }
    }
    return true;
}

void FolderTreeCache::WriteBack(std::wstring_view key, uint32_t hash, const Held& held,
                                const Counted& counted) {
    auto hold = lock_.Enter();
    // Store only into the very record this computation started with: after a removal or a
    // reset the key is gone or belongs to a new record, and nothing is stored.
    FolderRecord* record = held.record;
    if (FindLocked(key, hash) == record) {
        LinkParentLocked(record, held.parent, key);
        record->filesBytes = counted.files;
        record->subfoldersBytes = counted.subfolders;
        // After a change while this scan ran, both marks are set, whatever the record says
        // now: the totals stored here may predate the change, and another computation of the
        // same folder may have cleared the marks meanwhile. What no change notice can reach
        // stays marked (see ComputeCachedSize).
        const bool changed = record->marks != held.snapshot.marks;
        record->filesDirty = counted.throughLink || changed;
        record->subfoldersDirty = counted.unsettled || changed;
    }
    ReleaseLocked(held);
}

void FolderTreeCache::ReleaseLocked(const Held& held) {
    if (held.parent) {
        UnpinLocked(held.parent);
    }
    UnpinLocked(held.record);
}

HRESULT FolderTreeCache::UncachedSize(const wchar_t* path, const Descent& descent,
                                      uint64_t* outBytes) {
    *outBytes = 0;
    const size_t pathLength = wcslen(path);
    FolderListing listing;
    if (listing.Open(path, pathLength) != ERROR_SUCCESS) {
        return E_INVALIDARG;
    }
    listings_.fetch_add(1, std::memory_order_relaxed);

    const DescentLevel level(path, descent.up, descent.known);
    wchar_t childPath[kScanPathChars];
    while (listing.Next()) {
        const WIN32_FIND_DATAW& entry = listing.Entry();
        if (!IsFolderEntry(entry)) {
            *outBytes += FileSizeOf(entry);
            continue;
        }
        if (!JoinScanPath(childPath, path, pathLength, entry.cFileName)) {
            return E_INVALIDARG;
        }
        const EntryCheck check = descent.folders->Check(level, childPath, IsLinkEntry(entry));
        if (!check.Enters()) {
            continue;  // entered already in this request: counts 0
        }
        uint64_t childBytes = 0;
        HRESULT hr = UncachedSize(childPath, Descent{&level, descent.folders, check.Known(), false},
                                  &childBytes);
        if (FAILED(hr)) {
            return hr;
        }
        *outBytes += childBytes;
    }
    return S_OK;
}

}  // namespace tvn
