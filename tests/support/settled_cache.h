// Waiting for a settled cache. Change notices arrive in several batches per change (a new file
// gives ADDED, then MODIFIED; making a tree gives a stream), so the first right answer after a
// change proves nothing: a later batch may still mark the folder dirty. These helpers wait until
// the folder is answered from memory while it is held so that it cannot be listed, and stays
// so for a few polls in a row.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace tvn::test {

// Holds a folder open without sharing. Any listing of it fails with a sharing violation while
// no change notice is raised, so an answer that still succeeds was given from memory. A folder
// that another program holds open (a scan listing it) cannot be held at that moment: Hold
// retries until `deadline` (a GetTickCount64 value).
class FolderLock {
  public:
    explicit FolderLock(const std::wstring& folder, ULONGLONG deadline = 0);
    ~FolderLock() { Unlock(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // True while the folder is held and a listing of it was seen to fail.
    bool Holds() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Unlock();

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// True when `folder` cannot be listed by anyone right now (FindFirstFileW on "folder\*.*").
bool ListingFails(const std::wstring& folder);

// One size request: a cached computation in process or GetFolderSize through COM.
using SizeRequest = std::function<HRESULT(const std::wstring& folder, uint64_t* bytes)>;

struct SettleResult {
    bool settled = false;  // answered `expected` from memory for `kSettledPolls` polls in a row
    HRESULT lastHr = E_FAIL;
    uint64_t lastBytes = 0;  // the last answer (from memory or from a scan)
    int scans = 0;           // answers that had to list the folder again
};
inline constexpr int kSettledPolls = 4;
inline constexpr DWORD kSettleTimeoutMs = 30000;

// Polls, until `timeoutMs` runs out: hold `folder`, ask; a failure means a notice marked it (or
// something below it, which marks it too) dirty, so let go, ask once more so that it is listed
// again, and start over. Settled once `expected` is answered from memory kSettledPolls times in
// a row. A wrong answer from memory keeps polling too (a notice may still be on its way) and
// is reported in the result when the time runs out.
SettleResult WaitUntilAnsweredFromMemory(const SizeRequest& ask, const std::wstring& folder,
                                         uint64_t expected, DWORD timeoutMs = kSettleTimeoutMs);

// For gtest messages: "settled" or what the last answer was.
std::string Describe(const SettleResult& result);

}  // namespace tvn::test
