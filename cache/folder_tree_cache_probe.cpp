#include "folder_tree_cache_probe.h"

namespace tvn {

size_t FolderTreeCacheProbe::RecordCount() {
    auto hold = cache_.lock_.Enter();
    return cache_.store_.Count();
}

uint64_t FolderTreeCacheProbe::ListingCount() const {
    return cache_.listings_.load(std::memory_order_relaxed);
}

bool FolderTreeCacheProbe::PeekRecord(std::wstring_view folderKey, FolderRecord* out) {
    auto hold = cache_.lock_.Enter();
    FolderRecord* record = cache_.FindLocked(folderKey);
    if (record) {
        *out = *record;
    }
    return record != nullptr;
}

bool FolderTreeCacheProbe::Preload(std::wstring_view key, std::wstring_view parentKey,
                                   uint64_t filesBytes) {
    auto hold = cache_.lock_.Enter();
    if (cache_.FindLocked(key)) {
        return false;
    }
    FolderRecord* parent = parentKey.empty() ? nullptr : cache_.FindLocked(parentKey);
    FolderRecord* record = cache_.InsertLocked(key, cache_.HashKey(key), parent);
    if (!record) {
        return false;
    }
    record->filesBytes = filesBytes;
    return true;
}

bool FolderTreeCacheProbe::SetMarks(std::wstring_view folderKey, bool filesDirty,
                                    bool subfoldersDirty) {
    auto hold = cache_.lock_.Enter();
    FolderRecord* record = cache_.FindLocked(folderKey);
    if (!record) {
        return false;
    }
    if (filesDirty) {
        record->filesDirty = true;
        ++record->marks;
    }
    if (subfoldersDirty || filesDirty) {
        // Ancestors count this folder in their subfolder totals.
        for (FolderRecord* r = subfoldersDirty ? record : cache_.ParentOf(record); r;
             r = cache_.ParentOf(r)) {
            r->subfoldersDirty = true;
            ++r->marks;
        }
    }
    return true;
}

bool FolderTreeCacheProbe::LinksAreConsistent() {
    auto hold = cache_.lock_.Enter();
    bool consistent = true;
    size_t count = 0;
    wchar_t key[FolderTreeCache::kMaxKeyChars + 1];
    cache_.ForEachRecordLocked([&](FolderRecord* record) {
        ++count;
        const size_t length = cache_.KeyOf(record, key);
        if (record->detached || cache_.FindLocked(std::wstring_view(key, length)) != record) {
            consistent = false;
        }
        FolderRecord* parent = cache_.ParentOf(record);
        if (!parent && !record->wholeKey) {
            consistent = false;  // a name alone needs the parent's key
        }
        if (parent) {
            wchar_t parentKey[FolderTreeCache::kMaxKeyChars + 1];
            const size_t parentLength = cache_.KeyOf(parent, parentKey);
            if (parent->detached ||
                cache_.FindLocked(std::wstring_view(parentKey, parentLength)) != parent ||
                !cache_.IsParentKey(parent, std::wstring_view(key, length))) {
                consistent = false;
            }
            bool listed = false;
            for (FolderRecord* c = cache_.At(parent->firstChild); c;
                 c = cache_.At(c->nextSibling)) {
                listed = listed || c == record;
            }
            consistent = consistent && listed;
        }
        for (FolderRecord* c = cache_.At(record->firstChild); c; c = cache_.At(c->nextSibling)) {
            FolderRecord* next = cache_.At(c->nextSibling);
            if (c->parent != FolderTreeCache::RefOf(record) ||
                (next && next->prevSibling != FolderTreeCache::RefOf(c))) {
                consistent = false;
            }
        }
    });
    return consistent && count == cache_.store_.Count();
}

int FolderTreeCacheProbe::StoredChars(std::wstring_view folderKey) {
    auto hold = cache_.lock_.Enter();
    FolderRecord* record = cache_.FindLocked(folderKey);
    return record ? int(record->nameLength) : -1;
}

bool FolderTreeCacheProbe::SetHashHook(HashHook hook) {
    auto hold = cache_.lock_.Enter();
    if (cache_.store_.Count() != 0) {
        return false;
    }
    cache_.hashHook_ = hook;
    return true;
}

size_t FolderTreeCacheProbe::BlockCount() {
    auto hold = cache_.lock_.Enter();
    return cache_.store_.BlockCount();
}

void FolderTreeCacheProbe::SetListingHook(ListingHook hook, void* context) {
    cache_.listingHook_ = hook;
    cache_.listingHookContext_ = context;
}

}  // namespace tvn
