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
    // added). Drives attached later are watched by the first request for them (WatchRoot).
    DWORD WatchFixedDrives();

    FolderTreeCache& Cache() { return cache_; }

    // True while the root of drive `letter` (a-z, either case) is watched and its watch works.
    // Only fixed drives are watched, so such a root needs no drive type query.
    bool WatchesRootHealthily(wchar_t letter);

    // Makes sure the root of `letter`, a fixed drive, is watched: a watch that failed or was
    // given up is closed and opened anew, a drive attached after the start gets its first one,
    // and the watcher starts if nothing was watched before. Whatever was recorded for the
    // drive while nothing watched it is marked (MarkSubtree). True when the root is watched
    // and healthy afterwards; false when the watch cannot start, or while Windows is removing
    // the drive's device (see OnDeviceEvent): then the drive is answered without the cache.
    bool WatchRoot(wchar_t letter);

    // Device events for the directory handles of the watched roots are sent to `window`
    // (RegisterDeviceNotificationW, DBT_DEVTYP_HANDLE). Set before the first watch is added.
    void SetDeviceNoticeWindow(HWND window) { noticeWindow_ = window; }
    // A device event (DBT_DEVICEQUERYREMOVE, DBT_DEVICEQUERYREMOVEFAILED,
    // DBT_DEVICEREMOVECOMPLETE) for `handle` or the registration `notice`. A query to remove
    // closes the watch of that drive and its handle at once and holds the drive off the cache
    // (WatchRoot refuses it) until the removal failed or is complete. True when the event
    // concerned a watched root.
    bool OnDeviceEvent(UINT event, HANDLE handle, void* notice);

    // Applies one batch to the cache and releases it.
    void OnChanges(acl::ChangeBatch* batch) override;

    // Change records applied and batches that reported lost changes, since construction.
    uint64_t AppliedRecords() const { return appliedRecords_.load(); }
    uint64_t LostBatches() const { return lostBatches_.load(); }

  private:
    void ApplyRecords(const wchar_t* root, const BYTE* records, DWORD size, bool* malformed);
    void ApplyOne(DWORD action, std::wstring_view fullKey);
    void MarkRootLost(const wchar_t* root);

    // Registers the watch of `key` for device events (under the watcher's lock, so its handle
    // cannot be closed meanwhile) and remembers it as the watch of the drive root `index`.
    void AdoptRootLocked(size_t index, ULONG_PTR key);
    void DropNoticeLocked(acl::WatchEntry* entry);

    FolderTreeCache cache_;
    // The completion key of each drive root's watch, by letter; 0 for none. Read and written
    // under the watcher's lock.
    ULONG_PTR rootKeys_[26] = {};
    // A drive whose device Windows is removing: the handle and registration the query came
    // for, until the removal failed or is complete. Under the watcher's lock.
    struct RemovalHold {
        HANDLE handle;
        void* notice;
    };
    RemovalHold removals_[26] = {};
    HWND noticeWindow_ = nullptr;
    std::atomic<uint64_t> appliedRecords_{0};
    std::atomic<uint64_t> lostBatches_{0};
};

}  // namespace tvn
