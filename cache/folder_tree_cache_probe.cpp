#include "folder_tree_cache_probe.h"

namespace tvn {

size_t FolderTreeCacheProbe::RecordCount() {
    acl::CriticalSection hold(cache_.lock_);
    hold.Enter();
    return cache_.table_.size();
}

uint64_t FolderTreeCacheProbe::ListingCount() const {
    return cache_.listings_.load(std::memory_order_relaxed);
}

bool FolderTreeCacheProbe::PeekRecord(std::wstring_view folderKey, FolderRecord* out) {
    acl::CriticalSection hold(cache_.lock_);
    hold.Enter();
    FolderRecord* record = cache_.FindLocked(folderKey);
    if (record) {
        *out = *record;
    }
    return record != nullptr;
}

bool FolderTreeCacheProbe::Preload(std::wstring_view key, std::wstring_view parentKey,
                                   uint64_t filesBytes) {
    acl::CriticalSection hold(cache_.lock_);
    hold.Enter();
    if (cache_.FindLocked(key)) {
        return false;
    }
    FolderRecord* record = cache_.InsertLocked(key);
    if (!record) {
        return false;
    }
    record->filesBytes = filesBytes;
    cache_.LinkParentLocked(record, parentKey.empty() ? nullptr : cache_.FindLocked(parentKey));
    return true;
}

bool FolderTreeCacheProbe::SetMarks(std::wstring_view folderKey, bool filesDirty,
                                    bool subfoldersDirty) {
    acl::CriticalSection hold(cache_.lock_);
    hold.Enter();
    FolderRecord* record = cache_.FindLocked(folderKey);
    if (!record) {
        return false;
    }
    if (filesDirty) {
        record->filesDirty = true;
        ++record->filesMarks;
    }
    if (subfoldersDirty || filesDirty) {
        // Ancestors count this folder in their subfolder totals.
        for (FolderRecord* r = subfoldersDirty ? record : record->parent; r; r = r->parent) {
            r->subfoldersDirty = true;
            ++r->subfoldersMarks;
        }
    }
    return true;
}

bool FolderTreeCacheProbe::LinksAreConsistent() {
    acl::CriticalSection hold(cache_.lock_);
    hold.Enter();
    for (const auto& [key, record] : cache_.table_) {
        if (record->detached || record->key != &key) {
            return false;
        }
        if (FolderRecord* parent = record->parent) {
            if (!parent->key || cache_.FindLocked(*parent->key) != parent) {
                return false;
            }
            bool listed = false;
            for (FolderRecord* c = parent->firstChild; c; c = c->nextSibling) {
                listed = listed || c == record;
            }
            if (!listed) {
                return false;
            }
        }
        for (FolderRecord* c = record->firstChild; c; c = c->nextSibling) {
            if (c->parent != record || (c->nextSibling && c->nextSibling->prevSibling != c)) {
                return false;
            }
        }
    }
    return true;
}

void FolderTreeCacheProbe::SetListingHook(ListingHook hook, void* context) {
    cache_.listingHook_ = hook;
    cache_.listingHookContext_ = context;
}

}  // namespace tvn
