#include "descent_path.h"

#include <cwchar>
#include <new>

#include "scan_path.h"

#include "unique_handle.h"

namespace tvn {

namespace {

size_t HashOf(const FolderIdentity& identity) {
    uint64_t h = (uint64_t(identity.indexHigh) << 32) | identity.indexLow;
    h ^= uint64_t(identity.volume) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return size_t(h ^ (h >> 32));
}

}  // namespace

bool GetFolderIdentity(const wchar_t* path, FolderIdentity* out) {
    // A drive's key ("m:") names the drive's current folder, not its root.
    const wchar_t root[] = {path[0], L':', L'\\', 0};
    if (path[0] != 0 && path[1] == L':' && path[2] == 0) {
        path = root;
    }
    // No access rights beyond attributes are needed for the query; backup semantics open a
    // folder, and opening follows a link to its target.
    UniqueFile folder(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info)) {
        return false;
    }
    out->volume = info.dwVolumeSerialNumber;
    out->indexHigh = info.nFileIndexHigh;
    out->indexLow = info.nFileIndexLow;
    return true;
}

bool PathPassesThroughLink(const wchar_t* path) {
    wchar_t prefix[kScanPathChars];
    const size_t length = wcslen(path);
    if (length >= kScanPathChars) {
        return false;
    }
    wmemcpy(prefix, path, length + 1);
    // From the end up to the first folder below the root ("m:\a"): each cut at a backslash.
    for (size_t end = length; end > 3; --end) {
        if (end != length && prefix[end] != L'\\') {
            continue;
        }
        prefix[end] = 0;
        const DWORD attributes = GetFileAttributesW(prefix);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            return true;
        }
    }
    return false;
}

bool DescentLevel::Identity(FolderIdentity* out) const {
    if (state_ == State::Unknown) {
        state_ = GetFolderIdentity(path_, &identity_) ? State::Known : State::Unavailable;
    }
    *out = identity_;
    return state_ == State::Known;
}

bool DescentLevel::OnPath(const FolderIdentity& folder) const {
    for (const DescentLevel* level = this; level != nullptr; level = level->up_) {
        FolderIdentity above;
        if (level->Identity(&above) && above == folder) {
            return true;
        }
    }
    return false;
}

RequestFolders::~RequestFolders() {
    delete[] slots_;
}

EntryCheck RequestFolders::Check(const DescentLevel& level, const wchar_t* entryPath, bool link) {
    EntryCheck check;
    if (!link && !linkEntered_) {
        return check;  // no link entered yet: an ordinary folder can be reached only once
    }
    check.identityKnown = GetFolderIdentity(entryPath, &check.identity);
    if (!check.identityKnown) {
        check.verdict = link ? EntryVerdict::EnteredBefore : EntryVerdict::Enter;
        return check;
    }
    if (level.OnPath(check.identity)) {
        check.verdict = EntryVerdict::LeadsBack;
        return check;
    }
    bool full = false;
    if (!Insert(check.identity, &full)) {
        // Held already; or no room, where an ordinary folder is still entered (its parent was
        // entered once) but a link is not.
        check.verdict = full && !link ? EntryVerdict::Enter : EntryVerdict::EnteredBefore;
        return check;
    }
    if (link) {
        linkEntered_ = true;
        check.verdict = EntryVerdict::EnterLinked;
    }
    return check;
}

bool RequestFolders::Insert(const FolderIdentity& identity, bool* full) {
    if (2 * (count_ + 1) > capacity_ && !Grow()) {
        // No room for a new one; still, one already held is reported as such.
        *full = true;
        if (capacity_ == 0) {
            return false;
        }
    }
    const size_t mask = capacity_ - 1;
    for (size_t i = HashOf(identity) & mask;; i = (i + 1) & mask) {
        Slot& slot = slots_[i];
        if (!slot.used) {
            if (*full) {
                return false;
            }
            slot.identity = identity;
            slot.used = true;
            ++count_;
            return true;
        }
        if (slot.identity == identity) {
            *full = false;
            return false;
        }
    }
}

bool RequestFolders::Grow() {
    const size_t capacity = capacity_ ? 2 * capacity_ : 64;
    if (capacity > 2 * kMaxFolders) {
        return false;
    }
    Slot* slots = new (std::nothrow) Slot[capacity]();
    if (!slots) {
        return false;
    }
    for (size_t i = 0; i < capacity_; ++i) {
        if (slots_[i].used) {
            for (size_t j = HashOf(slots_[i].identity) & (capacity - 1);;
                 j = (j + 1) & (capacity - 1)) {
                if (!slots[j].used) {
                    slots[j] = slots_[i];
                    break;
                }
            }
        }
    }
    delete[] slots_;
    slots_ = slots;
    capacity_ = capacity;
    return true;
}

}  // namespace tvn
