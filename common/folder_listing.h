// One folder listing as every scan of the system makes it: FindFirstFileW / FindNextFileW on
// the pattern "folder\*.*", built in a 520-unit buffer, with "." and ".." left out. What a
// failure means (E_FAIL, E_INVALIDARG, a folder counted as 0) is each caller's own policy.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>

#include "scan_path.h"
#include "unique_handle.h"

namespace tvn {

// The logical size of a listed file.
inline uint64_t FileSizeOf(const WIN32_FIND_DATAW& entry) {
    return (uint64_t(entry.nFileSizeHigh) << 32) + entry.nFileSizeLow;
}

inline bool IsFolderEntry(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A folder entry reached through a link: a junction, a mount point or a directory link (and,
// under Wine, a symbolic link of the host), all of which carry FILE_ATTRIBUTE_REPARSE_POINT.
inline bool IsLinkEntry(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Not copyable; holds its search open until destroyed. Usage:
//     FolderListing listing;
//     if (listing.Open(folder, length) != ERROR_SUCCESS) { ...caller's policy... }
//     while (listing.Next()) { use listing.Entry(); }
class FolderListing {
  public:
    FolderListing() = default;
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // Opens the listing of the first `length` units of `folder`. ERROR_SUCCESS also for a
    // folder that exists but matches nothing (a drive root has no "." and "..", so an empty
    // root is an empty folder, not a failure). ERROR_FILENAME_EXCED_RANGE when the pattern
    // does not fit; otherwise the error of FindFirstFileW.
    DWORD Open(const wchar_t* folder, size_t length) {
        search_.reset();
        pending_ = false;
        wchar_t pattern[kScanPathChars];
        if (!JoinScanPath(pattern, folder, length, L"*.*")) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
        search_.reset(FindFirstFileW(pattern, &entry_));
        if (search_) {
            pending_ = true;
            return ERROR_SUCCESS;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            return error;
        }
        pattern[length + 1] = 0;  // the folder itself, with a backslash: "m:\" for a root
        DWORD attributes = GetFileAttributesW(pattern);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return error;
        }
        return ERROR_SUCCESS;
    }
    DWORD Open(const wchar_t* folder) { return Open(folder, wcslen(folder)); }

    // Moves to the next entry other than "." and ".."; false at the end of the listing.
    bool Next() {
        for (;;) {
            if (pending_) {
                pending_ = false;
            } else if (!search_ || !FindNextFileW(search_.get(), &entry_)) {
                search_.reset();
                return false;
            }
            const wchar_t* name = entry_.cFileName;
            bool dots = name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
            if (!dots || !IsFolderEntry(entry_)) {
                return true;
            }
        }
    }

    const WIN32_FIND_DATAW& Entry() const { return entry_; }

  private:
    UniqueFind search_;
    WIN32_FIND_DATAW entry_;
    bool pending_ = false;  // entry_ holds the first entry, not yet handed out
};

}  // namespace tvn
