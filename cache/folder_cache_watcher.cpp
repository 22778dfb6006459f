#include "folder_cache_watcher.h"

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

DWORD ReadDword(const BYTE* at) {
    DWORD value;
    memcpy(&value, at, sizeof value);  // records of a malformed batch need not be aligned
    return value;
}

}  // namespace

FolderCacheWatcher::FolderCacheWatcher(DWORD readBufferSize)
    : acl::ReadDirectoryChanges(readBufferSize) {}

FolderCacheWatcher::~FolderCacheWatcher() {
    // Before cache_ goes: no batch thread may still be applying records to it.
    StopAndWait();
}

DWORD FolderCacheWatcher::WatchFixedDrives() {
    // A root that cannot be watched is skipped.
    ForEachFixedDrive([this](const wchar_t* root) { AddDirectory(root); });
    {
        acl::CriticalSection hold(lock);
        hold.Enter();
        for (const auto& [key, entry] : watches) {
            const wchar_t letter = FoldAscii(entry->path[0]);
            if (letter >= L'a' && letter <= L'z' && entry->path[1] == L':' &&
                entry->path[2] == L'\\' && entry->path[3] == 0) {
                rootWatches_[letter - L'a'].store(entry);
            }
        }
    }
    return SetStopped(0);
}

bool FolderCacheWatcher::WatchesRootHealthily(wchar_t letter) const {
    letter = FoldAscii(letter);
    if (letter < L'a' || letter > L'z') {
        return false;
    }
    const acl::WatchEntry* entry = rootWatches_[letter - L'a'].load();
    return entry && entry->healthy.load();
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
    acl::CriticalSection hold(cache_.Lock());
    hold.Enter();
    if (drops) {
        cache_.DropFolderLocked(fullKey);
    }
    cache_.MarkContainingFolderLocked(fullKey);
}

}  // namespace tvn
