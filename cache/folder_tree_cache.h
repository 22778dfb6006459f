// The folder tree cache: one record per folder that was asked for or reached while computing
// a size, holding the folder's own file total, the total of its subfolders, two dirty marks and
// a count of the changes that set them.
//
// Threads: client requests, drive-scan threads and the change watcher's batch threads all use
// one FolderTreeCache at once. The cache lock guards the table, its record store and every
// record field; it is held for lookups, insertions, removals and record copies only, never across
// disk access or a recursive call.
//
// Lifetime: the table owns its records. A computation in progress holds ("pins") its own record
// and the parent it read, so a record removed from the table meanwhile stays allocated until
// the last computation holding it lets go. Every record in the table has a parent that is in
// the table too (or none), and a write-back stores nothing into a record that was removed.
//
// Memory: a record reached from its parent stores only its own name; its key is the parent's
// key, a backslash and that name. A record made without a parent stores its whole key. Where
// records live (blocks, 32-bit references, free lists, the table's chains and the return of
// their memory) is the record store's business (folder_record_store.h), guarded by the cache
// lock; the table's chains are keyed by a hash of the whole key, and a candidate is confirmed
// here by comparing names up its parent chain.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "descent_path.h"
#include "folder_record_store.h"
#include "scan_path.h"
#include "sync.h"

namespace tvn {

class FolderListing;

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
    // Both computations enter each folder at most once per request (see descent_path.h): a
    // folder entry that leads back to the descent path, or to a folder this request entered
    // already, counts 0 and gets no record. What a link reaches is reported by the system's
    // change notices under the target's own path, never under the link's, and a count that
    // skipped a folder depends on what else the request entered: so the records of folders
    // entered through a link (or asked for below one) keep both marks, and every record whose
    // total took in a link or a skipped folder keeps subfoldersDirty. A later request lists
    // those folders again (and answers every link-free part from memory), so it gives what a
    // fresh cache gives.
    HRESULT ComputeCachedSize(wchar_t* path, FolderRecord* parent, uint64_t* outBytes);

    // A plain recursive scan that stores nothing. `path` is left unchanged.
    // S_OK; E_INVALIDARG when the folder or any folder below it cannot be listed.
    HRESULT ComputeUncachedSize(const wchar_t* path, uint64_t* outBytes);

    // Removes every record below `record` (not the record itself). Caller holds the cache lock.
    void RemoveDescendants(FolderRecord* record);

    // Deletes every record, and gives the memory of the records back to the system (a block
    // that holds a record pinned by a running computation stays until the next ClearAll).
    void ClearAll();

    // The longest key a record can have. A longer path cannot be listed (the listing pattern
    // is built in kScanPathChars units), so it gets E_FAIL without a record.
    static constexpr size_t kMaxKeyChars = FolderRecordStore::kMaxStoredChars;

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

    // One folder of a request's descent. `up` is the level above (null at the top), `folders`
    // the request's entered folders, `known` the folder's identity when the check that let
    // the scan in took it, `throughLink` whether the folder was reached through a link.
    // `*unsettled` is set when the total took in a link or a skipped folder.
    struct Descent {
        const DescentLevel* up;
        RequestFolders* folders;
        const FolderIdentity* known;
        bool throughLink;
    };
    HRESULT CachedSize(wchar_t* path, FolderRecord* parent, const Descent& descent,
                       uint64_t* outBytes, bool* unsettled);
    HRESULT UncachedSize(const wchar_t* path, const Descent& descent, uint64_t* outBytes);

    // The steps of a cached computation of one folder. What it holds between them: its own
    // record and the parent it read, both pinned, and a copy of the record as it started.
    struct Held {
        FolderRecord* record;
        FolderRecord* parent;
        FolderRecord snapshot;
    };
    // What listing a folder found: the two totals, whether the folder was reached through a
    // link, and whether its total took in a link or a skipped folder (see ComputeCachedSize).
    struct Counted {
        uint64_t files;
        uint64_t subfolders;
        bool throughLink;
        bool unsettled;
    };
    enum class Start { Answered, Pinned, NoMemory };
    // Under the lock: finds or makes the record of `key` (linking it below `parent`), answers
    // from it when it is clean, or else pins it and its parent into `held`.
    Start AnswerOrPin(std::wstring_view key, uint32_t hash, FolderRecord* parent,
                      uint64_t* outBytes, Held* held);
    // Outside the lock: lists `path` (the key, `pathLength` units) and recomputes only what the
    // marks of `held.snapshot` say, with the subfolders below `held.record`. False when the
    // listing cannot be opened.
    bool ListFolder(const wchar_t* path, size_t pathLength, const Descent& descent,
                    const Held& held, Counted* counted);
    // Under the lock: stores the totals into the record if it is still the key's, leaving both
    // marks set when a change came meanwhile and keeping those that nothing can clear, and lets
    // go of `held`.
    void WriteBack(std::wstring_view key, uint32_t hash, const Held& held, const Counted& counted);
    void ReleaseLocked(const Held& held);

    uint32_t HashKey(std::wstring_view key) const;
    FolderRecord* At(RecordRef ref) const { return store_.At(ref); }
    static RecordRef RefOf(const FolderRecord* record) { return FolderRecordStore::RefOf(record); }
    FolderRecord* ParentOf(const FolderRecord* record) const { return At(record->parent); }
    static const wchar_t* NameOf(const FolderRecord* record) { return record->name; }
    bool KeyMatches(const FolderRecord* record, std::wstring_view key) const;
    // Writes the key of `record` (kMaxKeyChars + 1 units with the zero); returns its length.
    size_t KeyOf(const FolderRecord* record, wchar_t* out) const;
    // `parent`'s key is `key` up to its last backslash, with a name after it.
    bool IsParentKey(const FolderRecord* parent, std::wstring_view key) const;

    FolderRecord* FindLocked(std::wstring_view key);
    FolderRecord* FindLocked(std::wstring_view key, uint32_t hash);
    // A new record with zero fields under `key` (hash `hash`), in the table, linked below
    // `parent` when that is the record of its containing folder and still in the table; null
    // without memory or for a key longer than kMaxKeyChars.
    FolderRecord* InsertLocked(std::wstring_view key, uint32_t hash, FolderRecord* parent);
    // Links `record` (whose key is `key`) below `parent`, the record of its containing folder;
    // nothing happens for a removed parent, a parent whose key does not fit, or none.
    void LinkParentLocked(FolderRecord* record, FolderRecord* parent, std::wstring_view key);
    void UnlinkParentLocked(FolderRecord* record);
    void MarkChainLocked(FolderRecord* record, bool filesDirty);
    void DetachLocked(FolderRecord* record);
    void UnpinLocked(FolderRecord* record);

    // Visits every record in the table; `visit` may unchain the record it is given.
    template <typename Visit>
    void ForEachRecordLocked(Visit&& visit) {
        store_.ForEach(visit);
    }

    FolderRecordStore store_;  // guarded by lock_
    // Set through the probe only, while the table is empty: replaces the key hash.
    using HashHook = uint32_t (*)(std::wstring_view key);
    HashHook hashHook_ = nullptr;
    acl::OwnedCriticalSection lock_;
    std::atomic<uint64_t> listings_{0};
    // Called, outside the lock, each time a cached computation has opened a folder's
    // listing, with the folder key; set only through the probe.
    using ListingHook = void (*)(void* context, const wchar_t* key);
    ListingHook listingHook_ = nullptr;
    void* listingHookContext_ = nullptr;
};

}  // namespace tvn
