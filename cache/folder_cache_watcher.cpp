#include "folder_cache_watcher.h"

#include <dbt.h>

#include <cstring>
#include <memory>
#include <new>

#include "ascii_fold.h"
#include "fixed_drives.h"

namespace tvn {

namespace {

// FILE_NOTIFY_INFORMATION: NextEntryOffset, Action, FileNameLength (bytes), then the name.
constexpr DWORD kRecordHeaderBytes = 12;

// Full paths that fit are built on the stack; longer ones get a buffer of their own.
constexpr size_t kPathChars = MAX_PATH;

// The index (0 for a) of a drive letter in either case; -1 for anything else.
int DriveIndex(wchar_t letter) {
    letter = FoldAscii(letter);
    return letter >= L'a' && letter <= L'z' ? letter - L'a' : -1;
}

DWORD ReadDword(const BYTE* at) {
    DWORD value;
    memcpy(&value, at, sizeof value);  // records of a malformed batch need not be aligned
    return value;
}

}  // namespace

FolderCacheWatcher::FolderCacheWatcher(FolderTreeCache& table, DWORD readBufferSize)
    : acl::ReadDirectoryChanges(readBufferSize), cache_(table) {}

FolderCacheWatcher::~FolderCacheWatcher() {
    // No batch thread may still be applying records to the table once this returns.
    StopAndWait();
    auto hold = lock.Enter();
    for (const auto& [key, entry] : watches) {
        DropNoticeLocked(entry);
    }
    for (RemovalHold& removal : removals_) {
        if (removal.notice) {
            UnregisterDeviceNotification(removal.notice);
        }
        removal = RemovalHold{};
    }
}

DWORD FolderCacheWatcher::WatchFixedDrives() {
    auto owner = ownerLock_.Enter();
    // A root that cannot be watched is skipped.
    ForEachFixedDrive([this](const wchar_t* root) {
        ULONG_PTR key = 0;
        if (AddDirectory(root, &key) == 0) {
            auto hold = lock.Enter();
            AdoptRootLocked(size_t(root[0] - L'a'), key);
        }
    });
    return SetStopped(0);
}

void FolderCacheWatcher::AdoptRootLocked(size_t index, ULONG_PTR key) {
    rootKeys_[index] = key;
    auto it = watches.find(key);
    if (it == watches.end() || it->second->closed || it->second->notice || !noticeWindow_) {
        return;
    }
    // Without a registration the watch still works; only Windows cannot ask us to let go of
    // the device before removing it.
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof(filter);
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = it->second->directory.get();
    it->second->notice =
        RegisterDeviceNotificationW(noticeWindow_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void FolderCacheWatcher::DropNoticeLocked(acl::WatchEntry* entry) {
    if (entry->notice) {
        UnregisterDeviceNotification(entry->notice);
        entry->notice = nullptr;
    }
}

bool FolderCacheWatcher::WatchesRootHealthily(wchar_t letter) {
    const int index = DriveIndex(letter);
    if (index < 0) {
        return false;
    }
    ULONG_PTR key;
    {
        auto hold = lock.Enter();
        key = rootKeys_[index];
    }
    return key != 0 && IsWatchHealthy(key);
}

bool FolderCacheWatcher::WatchRoot(wchar_t letter) {
    const int index = DriveIndex(letter);
    if (index < 0) {
        return false;
    }
    const wchar_t root[] = {wchar_t(L'a' + index), L':', L'\\', 0};
    // Two requests for the same unwatched drive: the second finds the first one's watch.
    auto owner = ownerLock_.Enter();
    if (WatchesRootHealthily(root[0])) {
        return true;
    }
    {
        auto hold = lock.Enter();
        if (removals_[index].handle || removals_[index].notice) {
            return false;  // Windows is removing the device: no handle of ours may hold it
        }
        // A watch that failed or was given up goes; its changes were told as lost already.
        if (const ULONG_PTR old = rootKeys_[index]) {
            rootKeys_[index] = 0;
            auto it = watches.find(old);
            if (it != watches.end()) {
                DropNoticeLocked(it->second);
            }
            CloseWatch(old);
        }
    }
    ULONG_PTR key = 0;
    const DWORD added = AddDirectory(root, &key);
    if (added != 0 && added != ERROR_ALREADY_EXISTS) {
        return false;
    }
    {
        auto hold = lock.Enter();
        AdoptRootLocked(size_t(index), key);
    }
    if (IsStopped()) {
        SetStopped(0);  // nothing was watched before
    }
    if (!IsWatchHealthy(key)) {
        return false;
    }
    if (added == 0) {
        // Now that the read is out, whatever was recorded while nothing watched the drive is
        // counted again on its next request.
        const wchar_t rootKey[] = {root[0], L':', 0};
        cache_.MarkSubtree(rootKey);
    }
    return true;
}

bool FolderCacheWatcher::OnDeviceEvent(UINT event, HANDLE handle, void* notice) {
    auto hold = lock.Enter();
    if (event == DBT_DEVICEQUERYREMOVE) {
        for (size_t i = 0; i < 26; ++i) {
            auto it = rootKeys_[i] ? watches.find(rootKeys_[i]) : watches.end();
            if (it == watches.end() || it->second->closed) {
                continue;
            }
            acl::WatchEntry* entry = it->second;
            if (entry->directory.get() != handle && (!notice || entry->notice != notice)) {
                continue;
            }
            // The registration stays until Windows says how the removal ended.
            removals_[i] = RemovalHold{entry->directory.get(), entry->notice};
            entry->notice = nullptr;
            rootKeys_[i] = 0;
            CloseWatch(it->first);
            return true;
        }
        return false;
    }
    if (event == DBT_DEVICEQUERYREMOVEFAILED || event == DBT_DEVICEREMOVECOMPLETE) {
        for (RemovalHold& removal : removals_) {
            if ((removal.handle && removal.handle == handle) ||
                (notice && removal.notice == notice)) {
                if (removal.notice) {
                    UnregisterDeviceNotification(removal.notice);
                }
                removal = RemovalHold{};  // the next request watches the drive again
                return true;
            }
        }
    }
    return false;
}

void FolderCacheWatcher::OnChanges(acl::ChangeBatch* batch) {
    std::unique_ptr<acl::ChangeBatch, decltype(&acl::ChangeBatch::Release)> owned(
        batch, &acl::ChangeBatch::Release);
    const wchar_t* root = PathOfKey(batch->key);
    if (!root) {
        return;
    }
    if (batch->Lost()) {
        MarkRootLost(root);
        return;
    }
    bool malformed = false;
    ApplyRecords(root, batch->records, batch->size, &malformed);
    if (malformed) {
        // The records past the damage are unknown: treat them as lost.
        MarkRootLost(root);
    }
}

// Nothing under the root can be trusted: every cached record there is recomputed on its
// next request.
void FolderCacheWatcher::MarkRootLost(const wchar_t* root) {
    lostBatches_.fetch_add(1);
    std::wstring key(root);
    MakeFolderKey(key.data());
    key.resize(wcslen(key.c_str()));
    cache_.MarkSubtree(key);
}

void FolderCacheWatcher::ApplyRecords(const wchar_t* root, const BYTE* records, DWORD size,
                                      bool* malformed) {
    // The key of the watched directory, joined to each record's relative name.
    const size_t rootLength = wcslen(root);
    const bool rootHasSeparator = rootLength > 0 && root[rootLength - 1] == L'\\';
    const size_t prefixLength = rootLength + (rootHasSeparator ? 0 : 1);

    wchar_t stackPath[kPathChars];
    std::unique_ptr<wchar_t[]> heapPath;
    size_t heapChars = 0;

    DWORD offset = 0;
    for (;;) {
        if (size - offset < kRecordHeaderBytes) {
            *malformed = true;
            return;
        }
        const BYTE* record = records + offset;
        const DWORD next = ReadDword(record);
        const DWORD action = ReadDword(record + 4);
        const DWORD nameBytes = ReadDword(record + 8);
        if (nameBytes > size - offset - kRecordHeaderBytes) {
            *malformed = true;
            return;
        }
        const size_t nameChars = nameBytes / 2;
        const size_t length = prefixLength + nameChars;

        wchar_t* path = stackPath;
        if (length + 1 > kPathChars) {
            if (length + 1 > heapChars) {
                heapPath.reset(new (std::nothrow) wchar_t[length + 1]);
                heapChars = heapPath ? length + 1 : 0;
            }
            if (!heapPath) {
                *malformed = true;  // this change cannot be applied: handled as lost
                return;
            }
            path = heapPath.get();
        }
        wmemcpy(path, root, rootLength);
        if (!rootHasSeparator) {
            path[rootLength] = L'\\';
        }
        memcpy(path + prefixLength, record + kRecordHeaderBytes, nameChars * sizeof(wchar_t));
        path[length] = 0;
        FoldAsciiInPlace(path, length);
        ApplyOne(action, std::wstring_view(path, length));

        if (next == 0) {
            return;
        }
        if (next > size - offset) {
            *malformed = true;
            return;
        }
        offset += next;
    }
}

void FolderCacheWatcher::ApplyOne(DWORD action, std::wstring_view fullKey) {
    const bool drops = action == FILE_ACTION_REMOVED || action == FILE_ACTION_RENAMED_OLD_NAME;
    const bool marks = drops || action == FILE_ACTION_ADDED || action == FILE_ACTION_MODIFIED ||
                       action == FILE_ACTION_RENAMED_NEW_NAME;
    if (!marks) {
        return;  // not an action this system knows
    }
    appliedRecords_.fetch_add(1);
    auto hold = cache_.Lock().Enter();
    if (drops) {
        cache_.DropFolderLocked(fullKey);
    }
    cache_.MarkContainingFolderLocked(fullKey);
}

}  // namespace tvn
