#include "folder_tree_cache.h"

#include <cwchar>
#include <new>

#include "ascii_fold.h"
#include "folder_listing.h"
#include "scan_path.h"

namespace tvn {

namespace {

// A reference is the block number times kRefsPerBlock plus the record's offset in 8-byte
// units. Every block starts with its own number, so a record's reference follows from its
// address; no record starts at offset 0, so no reference is 0.
constexpr uint32_t kOffsetBits = 13;  // 65536 / 8 places per block
constexpr uint32_t kOffsetMask = (1u << kOffsetBits) - 1;
constexpr size_t kMaxBlocks = size_t(1) << (32 - kOffsetBits);
constexpr size_t kBlockHeaderBytes = 8;
constexpr size_t kFirstBuckets = 1024;

void FreeBuckets(RecordRef* buckets) {
    if (buckets) {
        VirtualFree(buckets, 0, MEM_RELEASE);
    }
}

}  // namespace

void MakeFolderKey(wchar_t* path) {
    size_t length = FoldAsciiInPlace(path);
    if (length != 0 && path[length - 1] == L'\\') {
        path[length - 1] = 0;
    }
}

FolderTreeCache::FolderTreeCache() = default;

FolderTreeCache::~FolderTreeCache() {
    ClearAll();
    // No computation runs any more: the blocks kept for pinned records go too.
    for (size_t i = 0; i < blockCount_; ++i) {
        if (blocks_[i]) {
            VirtualFree(blocks_[i], 0, MEM_RELEASE);
        }
    }
    delete[] blocks_;
}

// ---- keys and references ---------------------------------------------------------------------

// FNV-1a over the UTF-16 units, folded to 32 bits.
uint32_t FolderTreeCache::HashKey(std::wstring_view key) const {
    if (hashHook_) {
        return hashHook_(key);
    }
    uint64_t h = 14695981039346656037ull;
    for (wchar_t c : key) {
        h = (h ^ uint16_t(c)) * 1099511628211ull;
    }
    return uint32_t(h ^ (h >> 32));
}

FolderRecord* FolderTreeCache::At(RecordRef ref) const {
    if (!ref) {
        return nullptr;
    }
    return reinterpret_cast<FolderRecord*>(blocks_[ref.value >> kOffsetBits] +
                                           (size_t(ref.value & kOffsetMask) << 3));
}

RecordRef FolderTreeCache::RefOf(const FolderRecord* record) {
    const auto address = reinterpret_cast<uintptr_t>(record);
    const uintptr_t block = address & ~uintptr_t(kBlockBytes - 1);
    const uint32_t index = *reinterpret_cast<const uint32_t*>(block);
    return RecordRef{(index << kOffsetBits) | uint32_t((address - block) >> 3)};
}

// Compares the stored names from the record up its parent chain, each against the end of the
// part of `key` that is left, until a record that stores its whole key.
bool FolderTreeCache::KeyMatches(const FolderRecord* record, std::wstring_view key) const {
    while (record) {
        const size_t n = record->nameLength;
        if (record->wholeKey) {
            return key.size() == n && wmemcmp(key.data(), NameOf(record), n) == 0;
        }
        if (key.size() < n + 1) {
            return false;
        }
        const size_t cut = key.size() - n - 1;
        if (key[cut] != L'\\' || wmemcmp(key.data() + cut + 1, NameOf(record), n) != 0) {
            return false;
        }
        key = key.substr(0, cut);
        record = ParentOf(record);
    }
    return false;  // a name-only record always has a parent; never reached
}

size_t FolderTreeCache::KeyOf(const FolderRecord* record, wchar_t* out) const {
    size_t length = 0;
    for (const FolderRecord* r = record; r; r = r->wholeKey ? nullptr : ParentOf(r)) {
        length += r->nameLength + (r->wholeKey ? 0 : 1);
    }
    size_t end = length;
    for (const FolderRecord* r = record; r; r = r->wholeKey ? nullptr : ParentOf(r)) {
        end -= r->nameLength;
        wmemcpy(out + end, NameOf(r), r->nameLength);
        if (!r->wholeKey) {
            out[--end] = L'\\';
        }
    }
    out[length] = 0;
    return length;
}

bool FolderTreeCache::IsParentKey(const FolderRecord* parent, std::wstring_view key) const {
    const size_t cut = key.rfind(L'\\');
    return cut != std::wstring_view::npos && cut + 1 < key.size() &&
           KeyMatches(parent, key.substr(0, cut));
}

// ---- record storage --------------------------------------------------------------------------

size_t FolderTreeCache::UnitsFor(size_t nameLength) {
    const size_t bytes = offsetof(FolderRecord, name) + 2 * nameLength;
    return (bytes < sizeof(FolderRecord) ? sizeof(FolderRecord) : bytes + 7) / 8;
}

FolderRecord* FolderTreeCache::AllocateLocked(size_t units) {
    if (RecordRef ref = freeLists_[units]) {
        FolderRecord* record = At(ref);
        freeLists_[units] = record->hashNext;
        return record;
    }
    const size_t bytes = units * 8;
    if (bumpOffset_ + bytes > kBlockBytes) {
        // A new block: the first free number, or one more.
        size_t index = 0;
        while (index < blockCount_ && blocks_[index]) {
            ++index;
        }
        if (index == blockCount_) {
            if (blockCount_ == kMaxBlocks) {
                return nullptr;
            }
            if (blockCount_ == blockCapacity_) {
                const size_t capacity = blockCapacity_ ? 2 * blockCapacity_ : 64;
                auto** grown = new (std::nothrow) char*[capacity];
                if (!grown) {
                    return nullptr;
                }
                for (size_t i = 0; i < blockCount_; ++i) {
                    grown[i] = blocks_[i];
                }
                delete[] blocks_;
                blocks_ = grown;
                blockCapacity_ = capacity;
            }
            blocks_[blockCount_++] = nullptr;
        }
        auto* block = static_cast<char*>(
            VirtualAlloc(nullptr, kBlockBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!block) {
            return nullptr;
        }
        if (reinterpret_cast<uintptr_t>(block) & (kBlockBytes - 1)) {
            VirtualFree(block, 0, MEM_RELEASE);  // the allocation granularity is 64 KB
            return nullptr;
        }
        *reinterpret_cast<uint32_t*>(block) = uint32_t(index);
        blocks_[index] = block;
        bumpBlock_ = block;
        bumpOffset_ = kBlockHeaderBytes;
    }
    auto* record = reinterpret_cast<FolderRecord*>(bumpBlock_ + bumpOffset_);
    bumpOffset_ += bytes;
    return record;
}

// The place goes to the free list of its size; a free place keeps its length (for the size)
// and links through hashNext.
void FolderTreeCache::FreeLocked(FolderRecord* record) {
    const size_t units = UnitsFor(record->nameLength);
    record->hashNext = freeLists_[units];
    record->pins = 0;
    freeLists_[units] = RefOf(record);
}

void FolderTreeCache::PushDetachedLocked(FolderRecord* record) {
    record->detached = true;
    record->prevSibling = RecordRef{};
    record->nextSibling = detachedHead_;
    const RecordRef ref = RefOf(record);
    if (FolderRecord* next = At(detachedHead_)) {
        next->prevSibling = ref;
    }
    detachedHead_ = ref;
}

void FolderTreeCache::PopDetachedLocked(FolderRecord* record) {
    if (FolderRecord* prev = At(record->prevSibling)) {
        prev->nextSibling = record->nextSibling;
    } else {
        detachedHead_ = record->nextSibling;
    }
    if (FolderRecord* next = At(record->nextSibling)) {
        next->prevSibling = record->prevSibling;
    }
}

// Runs with the table already empty: only detached pinned records are left in use.
void FolderTreeCache::ReleaseBlocksLocked() {
    if (blockCount_ == 0) {
        return;
    }
    auto* keep = new (std::nothrow) bool[blockCount_]();
    if (!keep) {
        return;  // no memory to decide: every block stays, with its free places
    }
    bool keepAny = false;
    for (FolderRecord* r = At(detachedHead_); r; r = At(r->nextSibling)) {
        keep[RefOf(r).value >> kOffsetBits] = true;
        keepAny = true;
    }
    // Free places in blocks that stay are still free; the others go with their blocks.
    for (size_t units = 0; units <= kMaxUnits; ++units) {
        RecordRef kept{};
        for (RecordRef ref = freeLists_[units]; ref;) {
            FolderRecord* place = At(ref);
            const RecordRef next = place->hashNext;
            if (keep[ref.value >> kOffsetBits]) {
                place->hashNext = kept;
                kept = ref;
            }
            ref = next;
        }
        freeLists_[units] = kept;
    }
    for (size_t i = 0; i < blockCount_; ++i) {
        if (blocks_[i] && !keep[i]) {
            if (blocks_[i] == bumpBlock_) {
                bumpBlock_ = nullptr;
                bumpOffset_ = kBlockBytes;
            }
            VirtualFree(blocks_[i], 0, MEM_RELEASE);
            blocks_[i] = nullptr;
        }
    }
    delete[] keep;
    if (!keepAny) {
        delete[] blocks_;
        blocks_ = nullptr;
        blockCount_ = blockCapacity_ = 0;
    }
}

// ---- the table -------------------------------------------------------------------------------

FolderRecord* FolderTreeCache::FindLocked(std::wstring_view key) {
    return FindLocked(key, HashKey(key));
}

FolderRecord* FolderTreeCache::FindLocked(std::wstring_view key, uint32_t hash) {
    if (bucketCount_ == 0) {
        return nullptr;
    }
    for (FolderRecord* r = At(buckets_[hash & (bucketCount_ - 1)]); r; r = At(r->hashNext)) {
        if (r->hash == hash && KeyMatches(r, key)) {
            return r;
        }
    }
    return nullptr;
}

// Doubles the chains (1024 at first). False without memory: the table then stays as it is,
// with longer chains.
bool FolderTreeCache::GrowTableLocked() {
    const size_t count = bucketCount_ ? 2 * bucketCount_ : kFirstBuckets;
    // Straight from the system (zeroed), so that ClearAll gives every page of it back.
    auto* grown = static_cast<RecordRef*>(
        VirtualAlloc(nullptr, count * sizeof(RecordRef), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!grown) {
        return false;
    }
    for (size_t i = 0; i < bucketCount_; ++i) {
        for (RecordRef ref = buckets_[i]; ref;) {
            FolderRecord* r = At(ref);
            const RecordRef next = r->hashNext;
            RecordRef& head = grown[r->hash & (count - 1)];
            r->hashNext = head;
            head = ref;
            ref = next;
        }
    }
    FreeBuckets(buckets_);
    buckets_ = grown;
    bucketCount_ = count;
    return true;
}

void FolderTreeCache::UnchainLocked(FolderRecord* record) {
    const RecordRef ref = RefOf(record);
    RecordRef* link = &buckets_[record->hash & (bucketCount_ - 1)];
    while (*link && *link != ref) {
        link = &At(*link)->hashNext;
    }
    if (*link) {
        *link = record->hashNext;
        --recordCount_;
    }
    record->hashNext = RecordRef{};
}

FolderRecord* FolderTreeCache::InsertLocked(std::wstring_view key, uint32_t hash,
                                            FolderRecord* parent) {
    if (key.size() > kMaxKeyChars) {
        return nullptr;
    }
    if (recordCount_ >= bucketCount_ && !GrowTableLocked() && bucketCount_ == 0) {
        return nullptr;
    }
    const bool belowParent = parent && !parent->detached && IsParentKey(parent, key);
    const std::wstring_view stored = belowParent ? key.substr(key.rfind(L'\\') + 1) : key;
    FolderRecord* record = AllocateLocked(UnitsFor(stored.size()));
    if (!record) {
        return nullptr;
    }
    *record = FolderRecord{};
    record->hash = hash;
    record->wholeKey = !belowParent;
    record->nameLength = uint16_t(stored.size());
    wmemcpy(record->name, stored.data(), stored.size());

    RecordRef& head = buckets_[hash & (bucketCount_ - 1)];
    record->hashNext = head;
    head = RefOf(record);
    ++recordCount_;
    if (belowParent) {
        LinkParentLocked(record, parent, key);
    }
    return record;
}

// ---- links, removal --------------------------------------------------------------------------

void FolderTreeCache::UnlinkParentLocked(FolderRecord* record) {
    FolderRecord* parent = ParentOf(record);
    if (!parent) {
        return;
    }
    if (FolderRecord* prev = At(record->prevSibling)) {
        prev->nextSibling = record->nextSibling;
    } else {
        parent->firstChild = record->nextSibling;
    }
    if (FolderRecord* next = At(record->nextSibling)) {
        next->prevSibling = record->prevSibling;
    }
    record->parent = record->prevSibling = record->nextSibling = RecordRef{};
}

// A removed (detached) parent is never linked: a record in the table only ever points at a
// record in the table, so removing a record's subtree leaves no link to it behind. A record
// that stores only its name keeps a parent while it is in the table: its key is made from it.
void FolderTreeCache::LinkParentLocked(FolderRecord* record, FolderRecord* parent,
                                       std::wstring_view key) {
    if (!parent || parent->detached || ParentOf(record) == parent) {
        return;
    }
    if (!IsParentKey(parent, key)) {
        return;
    }
    UnlinkParentLocked(record);
    const RecordRef ref = RefOf(record);
    record->parent = RefOf(parent);
    record->nextSibling = parent->firstChild;
    if (FolderRecord* next = At(parent->firstChild)) {
        next->prevSibling = ref;
    }
    parent->firstChild = ref;
}

void FolderTreeCache::DetachLocked(FolderRecord* record) {
    UnlinkParentLocked(record);
    if (!record->detached) {
        UnchainLocked(record);
    }
    record->firstChild = RecordRef{};
    if (record->pins == 0) {
        FreeLocked(record);
    } else if (!record->detached) {
        PushDetachedLocked(record);  // the last computation holding it frees it
    }
}

void FolderTreeCache::UnpinLocked(FolderRecord* record) {
    if (--record->pins == 0 && record->detached) {
        PopDetachedLocked(record);
        FreeLocked(record);
    }
}

// Walks the subtree through the child lists, removing leaves first; no allocation, no
// recursion, and a cost proportional to the records removed.
void FolderTreeCache::RemoveDescendants(FolderRecord* record) {
    if (!record) {
        return;
    }
    FolderRecord* node = record;
    for (;;) {
        if (FolderRecord* child = At(node->firstChild)) {
            node = child;
            continue;
        }
        if (node == record) {
            break;
        }
        FolderRecord* up = ParentOf(node);
        DetachLocked(node);
        node = up;
    }
}

void FolderTreeCache::ClearAll() {
    auto hold = lock_.Enter();
    ForEachRecordLocked([this](FolderRecord* record) {
        record->parent = record->firstChild = record->prevSibling = record->nextSibling =
            RecordRef{};
        record->hashNext = RecordRef{};
        if (record->pins != 0) {
            PushDetachedLocked(record);
        }
    });
    FreeBuckets(buckets_);
    buckets_ = nullptr;
    bucketCount_ = recordCount_ = 0;
    // Blocks holding a pinned record stay, and the places of the records cleared from them stay
    // unused until a later ClearAll finds the block without pins and frees it.
    ReleaseBlocksLocked();
}

// ---- change marks ----------------------------------------------------------------------------

void FolderTreeCache::MarkChainLocked(FolderRecord* record, bool filesDirty) {
    if (filesDirty) {
        record->filesDirty = true;
        ++record->filesMarks;
    }
    for (FolderRecord* r = record; r; r = ParentOf(r)) {
        r->subfoldersDirty = true;
        ++r->subfoldersMarks;
    }
}

void FolderTreeCache::MarkContainingFolderLocked(std::wstring_view itemKey) {
    size_t cut = itemKey.rfind(L'\\');
    if (cut == std::wstring_view::npos) {
        return;
    }
    if (FolderRecord* folder = FindLocked(itemKey.substr(0, cut))) {
        MarkChainLocked(folder, true);
    }
}

void FolderTreeCache::DropFolderLocked(std::wstring_view folderKey) {
    if (FolderRecord* record = FindLocked(folderKey)) {
        RemoveDescendants(record);
        DetachLocked(record);
    }
}

void FolderTreeCache::MarkContainingFolder(std::wstring_view itemKey) {
    auto hold = lock_.Enter();
    MarkContainingFolderLocked(itemKey);
}

void FolderTreeCache::DropFolder(std::wstring_view folderKey) {
    auto hold = lock_.Enter();
    DropFolderLocked(folderKey);
}

void FolderTreeCache::MarkSubtree(std::wstring_view rootKey) {
    auto hold = lock_.Enter();
    wchar_t buffer[kMaxKeyChars + 1];
    ForEachRecordLocked([&](FolderRecord* record) {
        const std::wstring_view k(buffer, KeyOf(record, buffer));
        bool below = k.size() > rootKey.size() && k.substr(0, rootKey.size()) == rootKey &&
                     k[rootKey.size()] == L'\\';
        if (k == rootKey || below) {
            record->filesDirty = record->subfoldersDirty = true;
            ++record->filesMarks;
            ++record->subfoldersMarks;
        }
    });
}

// ---- computations ----------------------------------------------------------------------------

HRESULT FolderTreeCache::ComputeCachedSize(wchar_t* path, FolderRecord* parent,
                                           uint64_t* outBytes) {
    RequestFolders folders;
    bool unsettled = false;
    return CachedSize(path, parent, Descent{nullptr, &folders, nullptr, false}, outBytes,
                      &unsettled);
}

HRESULT FolderTreeCache::ComputeUncachedSize(const wchar_t* path, uint64_t* outBytes) {
    RequestFolders folders;
    return UncachedSize(path, Descent{nullptr, &folders, nullptr, false}, outBytes);
}

HRESULT FolderTreeCache::CachedSize(wchar_t* path, FolderRecord* parent, const Descent& descent,
                                    uint64_t* outBytes, bool* unsettled) {
    MakeFolderKey(path);
    *outBytes = 0;
    *unsettled = descent.throughLink;
    const std::wstring_view key(path);
    if (key.size() > kMaxKeyChars) {
        return E_FAIL;  // no listing of it can be opened
    }
    const uint32_t hash = HashKey(key);

    FolderRecord* record;
    FolderRecord* heldParent;
    FolderRecord snapshot;
    {
        auto hold = lock_.Enter();
        record = FindLocked(key, hash);
        if (record) {
            LinkParentLocked(record, parent, key);
        } else {
            record = InsertLocked(key, hash, parent);
            if (!record) {
                return E_OUTOFMEMORY;
            }
            record->filesDirty = record->subfoldersDirty = true;
        }
        snapshot = *record;
        if (!snapshot.filesDirty && !snapshot.subfoldersDirty) {
            *outBytes = snapshot.filesBytes + snapshot.subfoldersBytes;
            return S_OK;
        }
        // Hold the record (children get it as their parent) and the parent read here (it is
        // written back) until the write-back below.
        heldParent = ParentOf(record);
        ++record->pins;
        if (heldParent) {
            ++heldParent->pins;
        }
    }

    auto release = [&] {
        if (heldParent) {
            UnpinLocked(heldParent);
        }
        UnpinLocked(record);
    };

    FolderListing listing;
    if (listing.Open(path, key.size()) != ERROR_SUCCESS) {
        auto hold = lock_.Enter();
        release();
        return E_FAIL;
    }
    listings_.fetch_add(1, std::memory_order_relaxed);
    if (listingHook_) {
        listingHook_(listingHookContext_, path);
    }

    // A request asked directly for a folder below a link is reached through that link too.
    const bool throughLink =
        descent.throughLink || (descent.up == nullptr && PathPassesThroughLink(path));
    *unsettled = throughLink;
    const DescentLevel level(path, descent.up, descent.known);
    uint64_t filesTotal = snapshot.filesDirty ? 0 : snapshot.filesBytes;
    uint64_t subfoldersTotal = snapshot.subfoldersDirty ? 0 : snapshot.subfoldersBytes;
    const size_t pathLength = key.size();
    wchar_t childPath[kScanPathChars];
    while (listing.Next()) {
        const WIN32_FIND_DATAW& entry = listing.Entry();
        if (IsFolderEntry(entry)) {
            if (!snapshot.subfoldersDirty) {
                continue;
            }
            // A subfolder whose path does not fit counts as one that cannot be listed, and one
            // this request must not enter again counts 0 without a record.
            if (!JoinScanPath(childPath, path, pathLength, entry.cFileName)) {
                continue;
            }
            const EntryCheck check = descent.folders->Check(level, childPath, IsLinkEntry(entry));
            if (!check.Enters()) {
                *unsettled |= check.verdict == EntryVerdict::EnteredBefore;
                continue;
            }
            const Descent below{&level, descent.folders, check.Known(),
                                throughLink || check.verdict == EntryVerdict::EnterLinked};
            uint64_t childBytes = 0;
            bool childUnsettled = false;
            if (CachedSize(childPath, record, below, &childBytes, &childUnsettled) == S_OK) {
                subfoldersTotal += childBytes;
            }
            *unsettled |= childUnsettled;
        } else if (snapshot.filesDirty) {
            filesTotal += FileSizeOf(entry);
        }
    }

    {
        auto hold = lock_.Enter();
        // Store only into the very record this computation started with: after a removal or a
        // reset the key is gone or belongs to a new record, and nothing is stored.
        if (FindLocked(key, hash) == record) {
            LinkParentLocked(record, heldParent, key);
            record->filesBytes = filesTotal;
            record->subfoldersBytes = subfoldersTotal;
            // A mark set by a change while this scan ran survives it; what no change notice
            // can reach stays marked (see ComputeCachedSize).
            record->filesDirty = throughLink || record->filesMarks != snapshot.filesMarks;
            record->subfoldersDirty =
                *unsettled || record->subfoldersMarks != snapshot.subfoldersMarks;
        }
        release();
    }
    *outBytes = filesTotal + subfoldersTotal;
    return S_OK;
}

HRESULT FolderTreeCache::UncachedSize(const wchar_t* path, const Descent& descent,
                                      uint64_t* outBytes) {
    *outBytes = 0;
    const size_t pathLength = wcslen(path);
    FolderListing listing;
    if (listing.Open(path, pathLength) != ERROR_SUCCESS) {
        return E_INVALIDARG;
    }
    listings_.fetch_add(1, std::memory_order_relaxed);

    const DescentLevel level(path, descent.up, descent.known);
    wchar_t childPath[kScanPathChars];
    while (listing.Next()) {
        const WIN32_FIND_DATAW& entry = listing.Entry();
        if (!IsFolderEntry(entry)) {
            *outBytes += FileSizeOf(entry);
            continue;
        }
        if (!JoinScanPath(childPath, path, pathLength, entry.cFileName)) {
            return E_INVALIDARG;
        }
        const EntryCheck check = descent.folders->Check(level, childPath, IsLinkEntry(entry));
        if (!check.Enters()) {
            continue;  // entered already in this request: counts 0
        }
        uint64_t childBytes = 0;
        HRESULT hr = UncachedSize(childPath, Descent{&level, descent.folders, check.Known(), false},
                                  &childBytes);
        if (FAILED(hr)) {
            return hr;
        }
        *outBytes += childBytes;
    }
    return S_OK;
}

}  // namespace tvn
