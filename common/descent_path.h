// The folders on the current descent path of a recursive folder scan, for telling whether a
// folder entry reached through a link leads back to one of them. Scans follow links
// (junctions, mount points, directory links); a link that leads back to a folder the scan is
// already inside would be descended again and again until the path buffer ends, and two such
// links in one folder make the number of paths grow exponentially. A scan skips such an entry.
//
// Folders are told apart by volume serial number and file index, not by path: a link's path
// differs from its target's. Getting an identity opens the folder (about 1 ms under Wine, more
// than listing a small folder), so only entries that carry FILE_ATTRIBUTE_REPARSE_POINT are
// checked, and the identity of each folder on the path is taken lazily, at most once per
// descent. Ordinary folders cost nothing.
//
// Threading: a DescentLevel belongs to the one thread whose scan made it.
#pragma once

#include <windows.h>

namespace tvn {

struct FolderIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FolderIdentity&) const = default;
};

// The identity of the folder (or of the link's target) at `path`; false when it cannot be
// opened or queried.
bool GetFolderIdentity(const wchar_t* path, FolderIdentity* out);

// One level of a descent: the folder being listed, linked to the level above it (null at the
// top). Lives on the scan's stack while that level lists; `path` must stay valid as long.
class DescentLevel {
  public:
    DescentLevel(const wchar_t* path, const DescentLevel* up) : path_(path), up_(up) {}
    DescentLevel(const DescentLevel&) = delete;
    DescentLevel& operator=(const DescentLevel&) = delete;

    // True when `entryPath`, a folder entry of this level, is the same folder as this level or
    // one above it. An entry whose identity cannot be taken does not count as leading back
    // (the path buffers still bound how deep it goes).
    bool LeadsBack(const wchar_t* entryPath) const;

  private:
    bool Identity(FolderIdentity* out) const;

    const wchar_t* path_;
    const DescentLevel* up_;
    enum class State { Unknown, Known, Unavailable };
    mutable State state_ = State::Unknown;
    mutable FolderIdentity identity_;
};

}  // namespace tvn
