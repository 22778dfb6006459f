// Keeps the folder tree cache current: every change record of a watched directory becomes
// dirty marks on the cached folder records, and folders that disappear lose their records.
// The cache server object derives from this class; it owns the cache table.
//
// Locks: a batch takes the cache lock once per change record, for the lookup, removal and
// marking of that record only. The watcher's own lock is never held at the same time.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "folder_tree_cache.h"
#include "read_directory_changes.h"

namespace tvn {

class FolderCacheWatcher : public acl::ReadDirectoryChanges {
  public:
    explicit FolderCacheWatcher(DWORD readBufferSize = kDefaultBufferSize);
    // Stops watching and waits for every batch thread before the cache goes.
    ~FolderCacheWatcher() override;

    // Adds the root of every fixed drive, a: to z:, and starts watching. Roots that cannot be
    // watched are skipped. Returns the result of the start (ERROR_NO_DATA when no root could be
    // added). The set is taken once: drives attached later are not watched.
    DWORD WatchFixedDrives();

    FolderTreeCache& Cache() { return cache_; }

    // True while the root of drive `letter` (a-z, either case) is watched and its watch works.
    // Only fixed drives are watched, so such a root needs no drive type query. Lock-free.
    bool WatchesRootHealthily(wchar_t letter) const;

    // Applies one batch to the cache and releases it.
    void OnChanges(acl::ChangeBatch* batch) override;

    // Change records applied and batches that reported lost changes, since construction.
    uint64_t AppliedRecords() const { return appliedRecords_.load(); }
    uint64_t LostBatches() const { return lostBatches_.load(); }

  private:
    void ApplyRecords(const wchar_t* root, const BYTE* records, DWORD size, bool* malformed);
    void ApplyOne(DWORD action, std::wstring_view fullKey);
    void MarkRootLost(const wchar_t* root);

    FolderTreeCache cache_;
    // The watch of each drive root, by letter; set once by WatchFixedDrives, and valid until
    // the watcher is destroyed (entries are freed only then).
    std::atomic<acl::WatchEntry*> rootWatches_[26] = {};
    std::atomic<uint64_t> appliedRecords_{0};
    std::atomic<uint64_t> lostBatches_{0};
};

}  // namespace tvn
