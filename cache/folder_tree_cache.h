// The folder tree cache: one record per folder that was asked for or reached while computing
// a size, holding the folder's own file total, the total of its subfolders and two dirty marks.
//
// Threads: client requests, drive-scan threads and the change watcher's batch threads all use
// one FolderTreeCache at once. The cache lock guards the table and every record field; it is
// held for lookups, insertions, removals and record copies only, never across disk access or a
// recursive call.
//
// Lifetime: the table owns its records. A computation in progress holds ("pins") its own record
// and the parent it read, so a record removed from the table meanwhile stays allocated until
// the last computation holding it lets go. Every record in the table has a parent that is in
// the table too (or none), and a write-back stores nothing into a record that was removed.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "descent_path.h"
#include "scan_path.h"
#include "sync.h"

namespace tvn {

struct FolderRecord {
    FolderRecord* parent;  // not owning; null until reached by descent from a cached folder
    uint64_t filesBytes;
    uint64_t subfoldersBytes;
    bool filesDirty;
    bool subfoldersDirty;

    // Bookkeeping that keeps links and marks sound while computations run concurrently.
    bool detached;             // removed from the table while pinned; freed by the last unpin
    uint32_t pins;             // computations holding this record (as their own or as parent)
    uint32_t filesMarks;       // times filesDirty was set by a change; compared at write-back
    uint32_t subfoldersMarks;  // same for subfoldersDirty
    FolderRecord* firstChild;  // the records whose parent is this one, for removal in O(removed)
    FolderRecord* prevSibling;
    FolderRecord* nextSibling;
    const std::wstring* key;  // the table key, or null once detached
};

// Turns a path into its folder key in place: A-Z fold to a-z (nothing else changes), and one
// trailing backslash is removed. "C:\", "c:" and "C:" all become "c:".
void MakeFolderKey(wchar_t* path);

class FolderTreeCache {
  public:
    FolderTreeCache();
    ~FolderTreeCache();
    FolderTreeCache(const FolderTreeCache&) = delete;
    FolderTreeCache& operator=(const FolderTreeCache&) = delete;

    // Answers from the records where they are clean and lists a folder again only where a mark
    // says something changed, storing what it finds. `path` is rewritten to its key. `parent`
    // is the record of the containing folder, or null for a request from outside.
    // S_OK; E_FAIL when the folder cannot be listed; E_OUTOFMEMORY when no record can be made.
    // Both computations skip a subfolder entry reached through a link that leads back to a
    // folder on the current descent path (see descent_path.h): it counts 0 and gets no record.
    HRESULT ComputeCachedSize(wchar_t* path, FolderRecord* parent, uint64_t* outBytes);

    // A plain recursive scan that stores nothing. `path` is left unchanged.
    // S_OK; E_INVALIDARG when the folder or any folder below it cannot be listed.
    HRESULT ComputeUncachedSize(const wchar_t* path, uint64_t* outBytes);

    // Removes every record below `record` (not the record itself). Caller holds the cache lock.
    void RemoveDescendants(FolderRecord* record);

    // Deletes every record.
    void ClearAll();

    // Change marks, each under the cache lock. Keys must already be folder keys.
    // The folder of the item (the key cut at its last backslash) gets both marks, and every
    // record up its parent chain gets subfoldersDirty.
    void MarkContainingFolder(std::wstring_view itemKey);
    // The folder's record and every record below it are removed.
    void DropFolder(std::wstring_view folderKey);
    // Every record whose key is `rootKey` or lies below it gets both marks: used when change
    // records were lost and nothing under that root can be trusted.
    void MarkSubtree(std::wstring_view rootKey);

    // Lock-held building blocks for a caller that handles several changes under one hold.
    acl::OwnedCriticalSection& Lock() { return lock_; }
    void MarkContainingFolderLocked(std::wstring_view itemKey);
    void DropFolderLocked(std::wstring_view folderKey);

  private:
    // Tests and benchmarks look inside through this one class (folder_tree_cache_probe.h).
    friend class FolderTreeCacheProbe;

    HRESULT CachedSize(wchar_t* path, FolderRecord* parent, const DescentLevel* up,
                       uint64_t* outBytes);
    HRESULT UncachedSize(const wchar_t* path, const DescentLevel* up, uint64_t* outBytes);

    FolderRecord* FindLocked(std::wstring_view key);
    // A new record with zero fields under `key` (not yet in the table); null without memory.
    FolderRecord* InsertLocked(std::wstring_view key);
    void LinkParentLocked(FolderRecord* record, FolderRecord* parent);
    void UnlinkParentLocked(FolderRecord* record);
    void MarkChainLocked(FolderRecord* record, bool filesDirty);
    void DetachLocked(FolderRecord* record);
    void UnpinLocked(FolderRecord* record);

    // Looks keys up by wstring_view without building a string (no allocation under the lock).
    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::wstring_view key) const noexcept {
            return std::hash<std::wstring_view>{}(key);
        }
    };

    std::unordered_map<std::wstring, FolderRecord*, KeyHash, std::equal_to<>> table_;
    acl::OwnedCriticalSection lock_;
    std::atomic<uint64_t> listings_{0};
    // Called, outside the lock, each time a cached computation has opened a folder's
    // listing, with the folder key; set only through the probe.
    using ListingHook = void (*)(void* context, const wchar_t* key);
    ListingHook listingHook_ = nullptr;
    void* listingHookContext_ = nullptr;
};

}  // namespace tvn
