// Keeps a folder tree cache current: every change record of a watched directory becomes
// dirty marks on the cached folder records, and folders that disappear lose their records.
// The table is given to the watcher and owned by whoever made both (the cache server object);
// it must outlive the watcher, whose destructor waits for every batch that applies to it.
//
// Locks: a batch takes the cache lock once per change record, for the lookup, removal and
// marking of that record only. The watcher's own lock is never held at the same time.
// Callers of WatchFixedDrives and WatchRoot may be on any number of threads at once: the
// watcher lets one of them at a time add or replace watches (ReadDirectoryChanges expects
// one owner), and a caller that finds its root healthy never waits for that.
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
    // Applies changes to `table`, which must outlive the watcher.
    explicit FolderCacheWatcher(FolderTreeCache& table, DWORD readBufferSize = kDefaultBufferSize);
    // Stops watching and waits for every batch thread, so that none touches the table after.
    ~FolderCacheWatcher() override;

    // Adds the root of every fixed drive, a: to z:, and starts watching. Roots that cannot be
    // watched are skipped. Returns the result of the start (ERROR_NO_DATA when no root could be
    // added). Drives attached later are watched by the first request for them (WatchRoot).
    DWORD WatchFixedDrives();

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

    FolderTreeCache& cache_;
    // Held by WatchFixedDrives and WatchRoot while they add, close or adopt watches; taken
    // before the watcher's lock, never inside it.
    acl::OwnedCriticalSection ownerLock_;
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
