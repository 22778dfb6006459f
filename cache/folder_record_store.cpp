#include "folder_record_store.h"

#include <new>

namespace tvn {

namespace {

// A reference is the block number times 2^13 plus the record's offset in 8-byte
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

FolderRecordStore::~FolderRecordStore() {
    FreeBuckets(buckets_);
    for (size_t i = 0; i < blockCount_; ++i) {
        if (blocks_[i]) {
            VirtualFree(blocks_[i], 0, MEM_RELEASE);
        }
    }
    delete[] blocks_;
}

// ---- references ------------------------------------------------------------------------------

FolderRecord* FolderRecordStore::At(RecordRef ref) const {
    if (!ref) {
        return nullptr;
    }
    return reinterpret_cast<FolderRecord*>(blocks_[ref.value >> kOffsetBits] +
                                           (size_t(ref.value & kOffsetMask) << 3));
}

RecordRef FolderRecordStore::RefOf(const FolderRecord* record) {
    const auto address = reinterpret_cast<uintptr_t>(record);
    const uintptr_t block = address & ~uintptr_t(kBlockBytes - 1);
    const uint32_t index = *reinterpret_cast<const uint32_t*>(block);
    return RecordRef{(index << kOffsetBits) | uint32_t((address - block) >> 3)};
}

// ---- places ----------------------------------------------------------------------------------

size_t FolderRecordStore::UnitsFor(size_t storedChars) {
    const size_t bytes = offsetof(FolderRecord, name) + 2 * storedChars;
    return (bytes < sizeof(FolderRecord) ? sizeof(FolderRecord) : bytes + 7) / 8;
}

FolderRecord* FolderRecordStore::Allocate(size_t storedChars) {
    const size_t units = UnitsFor(storedChars);
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

// A free place keeps its length (for the size) and links through hashNext.
void FolderRecordStore::Free(FolderRecord* record) {
    const size_t units = UnitsFor(record->nameLength);
    record->hashNext = freeLists_[units];
    record->pins = 0;
    freeLists_[units] = RefOf(record);
}

void FolderRecordStore::PushDetached(FolderRecord* record) {
    record->detached = true;
    record->prevSibling = RecordRef{};
    record->nextSibling = detachedHead_;
    const RecordRef ref = RefOf(record);
    if (FolderRecord* next = At(detachedHead_)) {
        next->prevSibling = ref;
    }
    detachedHead_ = ref;
}

void FolderRecordStore::PopDetached(FolderRecord* record) {
    if (FolderRecord* prev = At(record->prevSibling)) {
        prev->nextSibling = record->nextSibling;
    } else {
        detachedHead_ = record->nextSibling;
    }
    if (FolderRecord* next = At(record->nextSibling)) {
        next->prevSibling = record->prevSibling;
    }
}

size_t FolderRecordStore::BlockCount() const {
    size_t count = 0;
    for (size_t i = 0; i < blockCount_; ++i) {
        count += blocks_[i] != nullptr;
    }
    return count;
}

// ---- chains ----------------------------------------------------------------------------------

bool FolderRecordStore::ReserveChain() {
    return recordCount_ < bucketCount_ || GrowChains() || bucketCount_ != 0;
}

// Doubles the chains (1024 at first). False without memory: the table then stays as it is,
// with longer chains.
bool FolderRecordStore::GrowChains() {
    const size_t count = bucketCount_ ? 2 * bucketCount_ : kFirstBuckets;
    // Straight from the system (zeroed), so that Clear gives every page of it back.
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

void FolderRecordStore::Chain(FolderRecord* record) {
    RecordRef& head = buckets_[record->hash & (bucketCount_ - 1)];
    record->hashNext = head;
    head = RefOf(record);
    ++recordCount_;
}

void FolderRecordStore::Unchain(FolderRecord* record) {
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

// ---- emptying --------------------------------------------------------------------------------

void FolderRecordStore::Clear() {
    ForEach([this](FolderRecord* record) {
        record->parent = record->firstChild = record->prevSibling = record->nextSibling =
            RecordRef{};
        record->hashNext = RecordRef{};
        if (record->pins != 0) {
            PushDetached(record);
        }
    });
    FreeBuckets(buckets_);
    buckets_ = nullptr;
    bucketCount_ = recordCount_ = 0;
    // Blocks holding a pinned record stay, and the places of the records cleared from them stay
    // unused until a later Clear finds the block without pins and frees it.
    ReleaseBlocks();
}

// Runs with the chains already empty: only detached pinned records are left in use.
void FolderRecordStore::ReleaseBlocks() {
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

}  // namespace tvn
