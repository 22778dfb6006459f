// The memory of the folder tree cache: where its records live and how they refer to each other.
//
// Ownership: the store owns every record place, the blocks they lie in and the table's chains.
// Records are in 64 KB blocks taken straight from the system; a record refers to another by a
// 32-bit RecordRef (block number and place in the block). A freed place goes to the free list
// of its size (it links through `hashNext`) and is reused before the newest block grows. A
// record that was taken out of the table while a computation still holds it is "detached": it
// is kept on the detached list (linked through its sibling references) until it is freed.
// Clear() empties the chains, keeps the records still held as detached, and gives every block
// without such a record (and the chains' memory) back to the system; a block it keeps goes at
// a later Clear() that finds it without held records.
//
// What a record means (keys, marks, pins, parent links) is the cache's business
// (folder_tree_cache.h); the store uses only `hash`, `hashNext`, `nameLength`, `pins`,
// `detached` and, for detached records, the sibling references (Clear also sets every link of
// the records it empties out to none).
//
// Threads: the store has no lock of its own and is not thread-safe. The cache lock of the
// FolderTreeCache that owns it guards every member; each call is made under that lock, and
// none of them touches the disk. Places are allocated and freed only under the lock, but a
// record pointer stays valid outside it for as long as the cache keeps the record pinned.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace tvn {

// A 32-bit link to a record of the same cache: its block and its place in the block. A value
// of 0 is no record, and compares equal to nullptr like an empty pointer.
struct RecordRef {
    uint32_t value;

    explicit operator bool() const { return value != 0; }
    friend bool operator==(RecordRef a, RecordRef b) { return a.value == b.value; }
    friend bool operator!=(RecordRef a, RecordRef b) { return a.value != b.value; }
    friend bool operator==(RecordRef a, std::nullptr_t) { return a.value == 0; }
    friend bool operator!=(RecordRef a, std::nullptr_t) { return a.value != 0; }
};

// GCC's bit-field layout (mingw defaults to Microsoft's) packs the length and the four flags
// into two bytes, so that the stored text starts right after them.
struct __attribute__((gcc_struct)) FolderRecord {
    uint64_t filesBytes;
    uint64_t subfoldersBytes;
    // Changes that set either dirty flag, counted together and compared at write-back. One
    // counter serves both flags: a write-back that sees it moved leaves both set, which costs at
    // most one more sum of the folder's files (its listing is made anyway for the other flag).
    // 32 bits, so that no scan can see it come round to the value it started with.
    uint32_t marks;

    // Links, as references into the same cache. `parent` is none until the record is reached
    // by descent from a cached folder. The child list lets a removal cost O(removed).
    RecordRef parent;
    RecordRef firstChild;
    RecordRef prevSibling;  // for a detached pinned record: its place in the detached list
    RecordRef nextSibling;
    RecordRef hashNext;  // the next record of the same table chain, or of a free list
    uint32_t hash;       // of the whole key

    uint16_t pins;             // computations holding this record (as their own or as parent)
    uint16_t nameLength : 10;  // units stored after the fields: own name, or whole key
    bool filesDirty : 1;
    bool subfoldersDirty : 1;
    bool detached : 1;  // removed from the table while pinned; freed by the last unpin
    bool wholeKey : 1;  // the stored text is the whole key, not the name below `parent`
    // The first units of the stored text; the rest follows the record in its block.
    wchar_t name[2];
};
// 48 bytes of fields: a record whose name has 16 units takes 80 bytes, a multiple of the 8-byte
// place unit with nothing left over.
static_assert(offsetof(FolderRecord, name) == 48, "record fields take 48 bytes");

class FolderRecordStore {
  public:
    // The longest text a record can store (the width of `nameLength`).
    static constexpr size_t kMaxStoredChars = 1023;

    FolderRecordStore() = default;
    // Frees every block, held records' blocks included: no computation may run any more.
    ~FolderRecordStore();
    FolderRecordStore(const FolderRecordStore&) = delete;
    FolderRecordStore& operator=(const FolderRecordStore&) = delete;

    // ---- references
    FolderRecord* At(RecordRef ref) const;
    static RecordRef RefOf(const FolderRecord* record);

    // ---- places
    // A place for a record storing `storedChars` units of text (at most kMaxStoredChars), with
    // undefined contents; null without memory.
    FolderRecord* Allocate(size_t storedChars);
    // The place goes to the free list of its size; its `pins` become 0.
    void Free(FolderRecord* record);
    // The detached list: records out of the table that a computation still holds.
    void PushDetached(FolderRecord* record);
    void PopDetached(FolderRecord* record);

    // ---- the table's chains, keyed by `hash`
    size_t Count() const { return recordCount_; }
    // Makes sure a record can be chained: the chains double when the records fill them (1024
    // at first). False only when there are no chains at all and none can be made; without
    // memory to grow, the chains stay as they are and get longer.
    bool ReserveChain();
    // Puts `record` at the head of its chain (after ReserveChain said yes).
    void Chain(FolderRecord* record);
    // Takes `record` out of its chain, if it is in one; its `hashNext` becomes none.
    void Unchain(FolderRecord* record);
    // The first record of `hash`'s chain for which `matches` is true, or null.
    template <typename Matches>
    FolderRecord* Find(uint32_t hash, Matches&& matches) const {
        if (bucketCount_ == 0) {
            return nullptr;
        }
        for (FolderRecord* r = At(buckets_[hash & (bucketCount_ - 1)]); r; r = At(r->hashNext)) {
            if (r->hash == hash && matches(r)) {
                return r;
            }
        }
        return nullptr;
    }
    // Visits every chained record; `visit` may unchain the record it is given.
    template <typename Visit>
    void ForEach(Visit&& visit) {
        for (size_t i = 0; i < bucketCount_; ++i) {
            for (FolderRecord* r = At(buckets_[i]); r;) {
                FolderRecord* next = At(r->hashNext);
                visit(r);
                r = next;
            }
        }
    }

    // Empties the chains. Every record's links become none; a record with pins is kept as
    // detached (its last unpin frees it), and the memory of the rest goes back to the system.
    void Clear();

    // Blocks of record storage held now.
    size_t BlockCount() const;

  private:
    static constexpr size_t kBlockBytes = 65536;
    static constexpr size_t kMaxUnits =
        (offsetof(FolderRecord, name) + 2 * kMaxStoredChars + 7) / 8;
    // The size of a place, in 8-byte units.
    static size_t UnitsFor(size_t storedChars);
    bool GrowChains();
    // Frees every block holding no detached record; the rest keep their records' places.
    void ReleaseBlocks();

    RecordRef* buckets_ = nullptr;
    size_t bucketCount_ = 0;  // a power of two, or 0 before the first record
    size_t recordCount_ = 0;
    char** blocks_ = nullptr;  // indexed by a reference's block number; null where freed
    size_t blockCount_ = 0;
    size_t blockCapacity_ = 0;
    char* bumpBlock_ = nullptr;
    size_t bumpOffset_ = kBlockBytes;
    RecordRef freeLists_[kMaxUnits + 1] = {};
    RecordRef detachedHead_{};  // pinned records out of the table, linked by their siblings
};

}  // namespace tvn
