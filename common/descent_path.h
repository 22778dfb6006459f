// Which folders a recursive folder scan enters. Scans follow links (junctions, mount points,
// directory links), and links can lead back into the descent or branch: a folder holding two
// links to the next folder, chained, makes the number of paths double at every level. So one
// request (one computation from the top) enters each folder at most once: a folder entry that
// leads back to a folder on the current descent path, or to one the request has already
// entered, is not entered again. The work of a request is thus bounded by the distinct
// folders it reaches.
//
// Folders are told apart by volume serial number and file index, not by path: a link's path
// differs from its target's. Getting an identity opens the folder (about 1 ms under Wine, more
// than listing a small folder), so identities are taken only where a folder can be reached
// twice: for every entry that carries FILE_ATTRIBUTE_REPARSE_POINT, and, once the request has
// entered a link, for every folder entry after that (the link's target may be one of them, or
// contain them). A tree without links costs nothing. The identity of a folder on the descent
// path is taken lazily, at most once per descent. The price of that: an ordinary folder that
// the request finished before it entered its first link is not known to it, and is entered
// once more if a later link leads there; so each folder is entered at most twice.
//
// Threading: a DescentLevel and a RequestFolders belong to the one thread whose request made
// them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

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

// True when a folder of `path` below its drive root (the folder itself included) is a link,
// so that the path leads through it. One attribute query per folder of the path.
bool PathPassesThroughLink(const wchar_t* path);

// One level of a descent: the folder being listed, linked to the level above it (null at the
// top). Lives on the scan's stack while that level lists; `path` must stay valid as long.
// `known` is the folder's identity when the check that let the scan in has taken it.
class DescentLevel {
  public:
    DescentLevel(const wchar_t* path, const DescentLevel* up, const FolderIdentity* known = nullptr)
        : path_(path), up_(up) {
        if (known) {
            state_ = State::Known;
            identity_ = *known;
        }
    }
    DescentLevel(const DescentLevel&) = delete;
    DescentLevel& operator=(const DescentLevel&) = delete;

    // True when `folder` is this level's folder or one above it. A level whose identity
    // cannot be taken matches nothing.
    bool OnPath(const FolderIdentity& folder) const;

  private:
    bool Identity(FolderIdentity* out) const;

    const wchar_t* path_;
    const DescentLevel* up_;
    enum class State { Unknown, Known, Unavailable };
    mutable State state_ = State::Unknown;
    mutable FolderIdentity identity_;
};

// What a scan does with one folder entry.
enum class EntryVerdict {
    Enter,          // an ordinary folder (or one checked and new): entered
    EnterLinked,    // reached through a link and new to this request: entered
    LeadsBack,      // the folder is on the current descent path: counts 0, no record
    EnteredBefore,  // this request entered it already (or cannot afford to remember another
                    // link target): counts 0, no record, and the count depends on the request
};

struct EntryCheck {
    EntryVerdict verdict = EntryVerdict::Enter;
    bool identityKnown = false;
    FolderIdentity identity;

    bool Enters() const {
        return verdict == EntryVerdict::Enter || verdict == EntryVerdict::EnterLinked;
    }
    // For the child's DescentLevel.
    const FolderIdentity* Known() const { return identityKnown ? &identity : nullptr; }
};

// The folders one request has entered, as far as it had to identify them (see above). Memory:
// at most kMaxFolders identities (a table of at most 4 MB); once that many are held, a link to a
// folder not yet held is not entered, so the bound on the work holds with bounded memory.
class RequestFolders {
  public:
    static constexpr size_t kMaxFolders = size_t(1) << 17;

    RequestFolders() = default;
    ~RequestFolders();
    RequestFolders(const RequestFolders&) = delete;
    RequestFolders& operator=(const RequestFolders&) = delete;

    // Decides about `entryPath`, a folder entry of the folder of `level`; `link` says that the
    // entry carries FILE_ATTRIBUTE_REPARSE_POINT. A link whose target cannot be identified is
    // not entered (it could lead anywhere, again and again); an ordinary folder that cannot be
    // identified is entered, as its parent was entered once.
    EntryCheck Check(const DescentLevel& level, const wchar_t* entryPath, bool link);

  private:
    struct Slot {
        FolderIdentity identity;
        bool used;
    };
    // False when the identity was held already, or when there is no room for it.
    bool Insert(const FolderIdentity& identity, bool* full);
    bool Grow();

    Slot* slots_ = nullptr;
    size_t capacity_ = 0;  // a power of two, or 0 before the first insertion
    size_t count_ = 0;
    bool linkEntered_ = false;
};

}  // namespace tvn
