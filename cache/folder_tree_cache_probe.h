// A look inside the folder tree cache for tests and benchmarks only; the product never
// includes this header. Every member takes the cache lock for its own duration.
#pragma once

#include <cstdint>
#include <string_view>

#include "folder_tree_cache.h"

namespace tvn {

class FolderTreeCacheProbe {
  public:
    explicit FolderTreeCacheProbe(FolderTreeCache& cache) : cache_(cache) {}

    // Records in the table, and folder listings opened since construction.
    size_t RecordCount();
    uint64_t ListingCount() const;

    // Copy of the record of a key, if any: looks without computing.
    bool PeekRecord(std::wstring_view folderKey, FolderRecord* out);

    // Stores a clean record for `key` below the record of `parentKey` (none when empty or not
    // in the table), as a scan that found `filesBytes` would: builds large tables without
    // listing the disk. False when the key exists or memory runs out.
    bool Preload(std::wstring_view key, std::wstring_view parentKey, uint64_t filesBytes);

    // Sets exactly these marks on one record (and subfoldersDirty up its parent chain when any
    // mark is set), as a change would. False when the key has no record.
    bool SetMarks(std::wstring_view folderKey, bool filesDirty, bool subfoldersDirty);

    // Checks that every record's parent and child links agree and point into the table, that
    // every record is found again by the key made from its chain, and that a record linked
    // below its containing folder stores only its own name.
    bool LinksAreConsistent();

    // Units of text the record of a key stores (its own name, or its whole key when it was
    // made without its parent); -1 when the key has no record.
    int StoredChars(std::wstring_view folderKey);

    // Replaces the hash of every key, e.g. with one that makes every key collide. Only while
    // the table is empty; null gives the normal hash back.
    using HashHook = FolderTreeCache::HashHook;
    bool SetHashHook(HashHook hook);

    // Blocks of record storage the cache holds.
    size_t BlockCount();

    // Called, outside the lock, each time a cached computation has opened a folder's listing,
    // with the folder key: lets a test act at a known point of a scan.
    using ListingHook = FolderTreeCache::ListingHook;
    void SetListingHook(ListingHook hook, void* context);

  private:
    FolderTreeCache& cache_;
};

}  // namespace tvn
