#include "folder_tree_cache.h"

#include <cwchar>
#include <new>

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

FolderTreeCache::~FolderTreeCache() {
    ClearAll();
}

FolderRecord* FolderTreeCache::FindLocked(std::wstring_view key) {
    auto it = table_.find(key);
    return it == table_.end() ? nullptr : it->second;
}

FolderRecord* FolderTreeCache::InsertLocked(std::wstring_view key) {
    auto* record = new (std::nothrow) FolderRecord{};
    if (!record) {
        return nullptr;
    }
    try {
        auto inserted = table_.emplace(std::wstring(key), record);
        record->key = &inserted.first->first;
    } catch (const std::bad_alloc&) {
        delete record;
        return nullptr;
    }
    return record;
}

void FolderTreeCache::UnlinkParentLocked(FolderRecord* record) {
    FolderRecord* parent = record->parent;
    if (!parent) {
        return;
    }
    if (record->prevSibling) {
        record->prevSibling->nextSibling = record->nextSibling;
    } else {
        parent->firstChild = record->nextSibling;
    }
    if (record->nextSibling) {
        record->nextSibling->prevSibling = record->prevSibling;
    }
    record->parent = record->prevSibling = record->nextSibling = nullptr;
}

// A removed (detached) parent is never linked: a record in the table only ever points at a
// record in the table, so removing a record's subtree leaves no link to it behind.
void FolderTreeCache::LinkParentLocked(FolderRecord* record, FolderRecord* parent) {
    if (parent && parent->detached) {
        return;
    }
    if (record->parent == parent) {
        return;
    }
    UnlinkParentLocked(record);
    if (!parent) {
        return;
    }
    record->parent = parent;
    record->nextSibling = parent->firstChild;
    if (parent->firstChild) {
        parent->firstChild->prevSibling = record;
    }
    parent->firstChild = record;
}

void FolderTreeCache::DetachLocked(FolderRecord* record) {
    UnlinkParentLocked(record);
    if (record->key) {
        auto it = table_.find(*record->key);
        if (it != table_.end() && it->second == record) {
            table_.erase(it);
        }
        record->key = nullptr;
    }
    if (record->pins == 0) {
        delete record;
    } else {
        record->detached = true;  // the last computation holding it frees it
        record->firstChild = nullptr;
    }
}

void FolderTreeCache::UnpinLocked(FolderRecord* record) {
    if (--record->pins == 0 && record->detached) {
        delete record;
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
        if (node->firstChild) {
            node = node->firstChild;
            continue;
        }
        if (node == record) {
            break;
        }
        FolderRecord* up = node->parent;
        DetachLocked(node);
        node = up;
    }
}

void FolderTreeCache::ClearAll() {
    acl::CriticalSection hold(lock_);
    hold.Enter();
    for (auto& [key, record] : table_) {
        record->parent = record->firstChild = record->prevSibling = record->nextSibling = nullptr;
        record->key = nullptr;
        if (record->pins == 0) {
            delete record;
        } else {
            record->detached = true;
        }
    }
    table_.clear();
}

void FolderTreeCache::MarkChainLocked(FolderRecord* record, bool filesDirty) {
    if (filesDirty) {
        record->filesDirty = true;
        ++record->filesMarks;
    }
    for (FolderRecord* r = record; r; r = r->parent) {
        r->subfoldersDirty = true;
        ++r->subfoldersMarks;
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
    acl::CriticalSection hold(lock_);
    hold.Enter();
    MarkContainingFolderLocked(itemKey);
}

void FolderTreeCache::DropFolder(std::wstring_view folderKey) {
    acl::CriticalSection hold(lock_);
    hold.Enter();
    DropFolderLocked(folderKey);
}

void FolderTreeCache::MarkSubtree(std::wstring_view rootKey) {
    acl::CriticalSection hold(lock_);
    hold.Enter();
    for (auto& [key, record] : table_) {
        std::wstring_view k = key;
        bool below = k.size() > rootKey.size() && k.substr(0, rootKey.size()) == rootKey &&
                     k[rootKey.size()] == L'\\';
        if (k == rootKey || below) {
            record->filesDirty = record->subfoldersDirty = true;
            ++record->filesMarks;
            ++record->subfoldersMarks;
        }
    }
}

HRESULT FolderTreeCache::ComputeCachedSize(wchar_t* path, FolderRecord* parent,
                                           uint64_t* outBytes) {
    return CachedSize(path, parent, nullptr, outBytes);
}

HRESULT FolderTreeCache::ComputeUncachedSize(const wchar_t* path, uint64_t* outBytes) {
    return UncachedSize(path, nullptr, outBytes);
}

HRESULT FolderTreeCache::CachedSize(wchar_t* path, FolderRecord* parent, const DescentLevel* up,
                                    uint64_t* outBytes) {
    MakeFolderKey(path);
    *outBytes = 0;
    const std::wstring_view key(path);

    FolderRecord* record;
    FolderRecord snapshot;
    {
        acl::CriticalSection hold(lock_);
        hold.Enter();
        record = FindLocked(key);
        if (record) {
            if (parent) {
                LinkParentLocked(record, parent);
            }
        } else {
            record = InsertLocked(key);
            if (!record) {
                return E_OUTOFMEMORY;
            }
            record->filesDirty = record->subfoldersDirty = true;
            LinkParentLocked(record, parent);
        }
        snapshot = *record;
        if (!snapshot.filesDirty && !snapshot.subfoldersDirty) {
            *outBytes = snapshot.filesBytes + snapshot.subfoldersBytes;
            return S_OK;
        }
        // Hold the record (children get it as their parent) and the parent read here (it is
        // written back) until the write-back below.
        ++record->pins;
        if (snapshot.parent) {
            ++snapshot.parent->pins;
        }
    }

    auto release = [&] {
        if (snapshot.parent) {
            UnpinLocked(snapshot.parent);
        }
        UnpinLocked(record);
    };

    FolderListing listing;
    if (listing.Open(path, key.size()) != ERROR_SUCCESS) {
        acl::CriticalSection hold(lock_);
        hold.Enter();
        release();
        return E_FAIL;
    }
    listings_.fetch_add(1, std::memory_order_relaxed);
    if (listingHook_) {
        listingHook_(listingHookContext_, path);
    }

    const DescentLevel level(path, up);
    uint64_t filesTotal = snapshot.filesDirty ? 0 : snapshot.filesBytes;
    uint64_t subfoldersTotal = snapshot.subfoldersDirty ? 0 : snapshot.subfoldersBytes;
    const size_t pathLength = key.size();
    wchar_t childPath[kScanPathChars];
    while (listing.Next()) {
        const WIN32_FIND_DATAW& entry = listing.Entry();
        if (IsFolderEntry(entry)) {
            if (!snapshot.subfoldersDirty) {
                continue;
            }
            // A subfolder whose path does not fit counts as one that cannot be listed, and a
            // link back to a folder this descent is inside counts 0 without a record.
            uint64_t childBytes = 0;
            if (JoinScanPath(childPath, path, pathLength, entry.cFileName) &&
                !(IsLinkEntry(entry) && level.LeadsBack(childPath)) &&
                CachedSize(childPath, record, &level, &childBytes) == S_OK) {
                subfoldersTotal += childBytes;
            }
        } else if (snapshot.filesDirty) {
            filesTotal += FileSizeOf(entry);
        }
    }

    {
        acl::CriticalSection hold(lock_);
        hold.Enter();
        // Store only into the very record this computation started with: after a removal or a
        // reset the key is gone or belongs to a new record, and nothing is stored.
        if (FindLocked(key) == record) {
            if (snapshot.parent && !snapshot.parent->detached) {
                LinkParentLocked(record, snapshot.parent);
            }
            record->filesBytes = filesTotal;
            record->subfoldersBytes = subfoldersTotal;
            // A mark set by a change while this scan ran survives it.
            record->filesDirty = record->filesMarks != snapshot.filesMarks;
            record->subfoldersDirty = record->subfoldersMarks != snapshot.subfoldersMarks;
        }
        release();
    }
    *outBytes = filesTotal + subfoldersTotal;
    return S_OK;
}

HRESULT FolderTreeCache::UncachedSize(const wchar_t* path, const DescentLevel* up,
                                      uint64_t* outBytes) {
    *outBytes = 0;
    const size_t pathLength = wcslen(path);
    FolderListing listing;
    if (listing.Open(path, pathLength) != ERROR_SUCCESS) {
        return E_INVALIDARG;
    }
    listings_.fetch_add(1, std::memory_order_relaxed);

    const DescentLevel level(path, up);
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
        if (IsLinkEntry(entry) && level.LeadsBack(childPath)) {
            continue;  // a link back into this descent counts 0
        }
        uint64_t childBytes = 0;
        HRESULT hr = UncachedSize(childPath, &level, &childBytes);
        if (FAILED(hr)) {
            return hr;
        }
        *outBytes += childBytes;
    }
    return S_OK;
}

}  // namespace tvn
