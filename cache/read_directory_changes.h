// A general watcher of directories: each watched directory, with its whole subtree, has one
// overlapped ReadDirectoryChangesW read in flight; all of them complete on one I/O completion
// port served by one worker thread, which hands every completed read to OnChanges in a
// short-lived thread of its own.
//
// Threads: AddDirectory and SetStopped are called by the owner (one caller at a time). The
// worker copies each completion out, re-issues the read at once and starts a batch thread.
// Batch threads run OnChanges concurrently with each other and with the owner.
//
// Lifetime: the object implementing OnChanges must call StopAndWait() first thing in its
// destructor. Base destructors run after derived members are gone, so only the derived class
// can stop batch threads from reaching a half-destroyed object.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sync.h"
#include "unique_handle.h"

namespace acl {

class ReadDirectoryChanges;

// One watched directory. Its read buffer belongs to it alone, so the reads of all directories
// can be in flight at once without writing into each other's records.
//
// Its members free themselves, but for `buffer`: the system writes into it (and into
// `overlapped`) until a pending read has reported, which can be after the entry would go, so
// the watcher frees it by hand (FreeBuffer) once no read is pending, and an entry whose read
// never reports is left allocated for good.
struct WatchEntry {
    std::unique_ptr<wchar_t[]> path;  // copy of the path given to AddDirectory, zero-terminated
    // Opened for overlapped reads and bound to the port under the entry's key; closed (empty)
    // while the watcher is stopped, which is how pending reads end.
    tvn::UniqueFile directory;
    OVERLAPPED overlapped;          // of the read in flight; zeroed, no event
    BYTE* buffer;                   // bufferSize bytes, DWORD-aligned; see above
    std::atomic<bool> readPending;  // a read was issued and its completion not yet dequeued
    uint32_t failedReads;           // completions in a row that reported an error
    // A batch telling of lost changes is on its way and has not started yet: further losses
    // are covered by it, so a storm of overflows costs one pass over the cache, not many.
    std::atomic<bool> lostQueued;
    // The read in flight was issued with no failed completion since the watch (re)started:
    // the watch works. False while stopped.
    std::atomic<bool> healthy;
    // Closed by CloseWatch: its handle is gone and no read is issued again. The entry stays
    // (batches on their way still find its path); its read buffer goes once no read is
    // pending. Guarded by the watcher's lock.
    bool closed;
    // The owner's registration for device events of `directory` (see FolderCacheWatcher);
    // null when there is none.
    void* notice;
};

// The records of one completed read, or the news that a read's records were lost.
struct ChangeBatch {
    ReadDirectoryChanges* watcher;
    ULONG_PTR key;  // completion key of the directory that reported
    // Copy of exactly the bytes the completion reported, in FILE_NOTIFY_INFORMATION layout.
    // Null (and size 0) when the changes of that directory were lost: the system's list
    // overflowed, the read failed, or no copy could be allocated.
    BYTE* records;
    DWORD size;
    bool onHeap;  // made by Allocate and freed by Release; otherwise owned by the caller

    // One block holding the batch and its copy of `size` bytes; null without memory.
    static ChangeBatch* Allocate(ReadDirectoryChanges* watcher, ULONG_PTR key, const BYTE* data,
                                 DWORD size);
    static void Release(ChangeBatch* batch);
    bool Lost() const { return records == nullptr; }
};

class ReadDirectoryChanges {
  public:
    static constexpr DWORD kDefaultBufferSize = 4096;
    // FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_SIZE
    static constexpr DWORD kDefaultNotifyFilter = 0x0B;

    // `readBufferSize` is the size of each directory's read buffer (rounded up to DWORDs).
    explicit ReadDirectoryChanges(DWORD readBufferSize = kDefaultBufferSize);
    virtual ~ReadDirectoryChanges();
    ReadDirectoryChanges(const ReadDirectoryChanges&) = delete;
    ReadDirectoryChanges& operator=(const ReadDirectoryChanges&) = delete;

    // Adds a directory to watch with its whole subtree. 0; ERROR_ALREADY_EXISTS (183) when a
    // watched path equals it ignoring the case of A-Z; ERROR_OUTOFMEMORY (14); otherwise the
    // error of CreateFileW or CreateIoCompletionPort. A directory added while the watcher runs
    // is watched at once.
    DWORD AddDirectory(const wchar_t* path);
    // The same; `*key` receives the completion key of the directory added, or of the open
    // watch of the same path when the result is ERROR_ALREADY_EXISTS.
    DWORD AddDirectory(const wchar_t* path, ULONG_PTR* key);

    // Stops watching one directory at once: its handle is closed (which ends its read; the
    // worker drops the completion) and its entry marked closed. A path that was closed can be
    // added again, under a new key. Unknown or closed keys do nothing.
    void CloseWatch(ULONG_PTR key);
    // True while the watch of `key` is open and healthy (see WatchEntry::healthy).
    bool IsWatchHealthy(ULONG_PTR key);

    // 0 starts watching, 1 stops. 0 on success; ERROR_ALREADY_ASSIGNED (85) when already in
    // that state; ERROR_INVALID_PARAMETER (87) for any other state; ERROR_NO_DATA (232) when
    // asked to start with no directory added; ERROR_OUTOFMEMORY (14) when the start cannot
    // allocate what it needs (the watcher then stays stopped).
    DWORD SetStopped(DWORD state);

    // Called in a thread of its own for every completed read (and for every read whose records
    // were lost). The implementation owns the batch and frees it with ChangeBatch::Release.
    virtual void OnChanges(ChangeBatch* batch) = 0;

    // The paths given to AddDirectory, in the order they were added.
    std::vector<std::wstring> WatchedPaths();
    bool IsStopped();
    // Batch threads started and not yet finished.
    long RunningBatches() const { return runningBatches_.load(); }
    // Completions that carried no records (overflow or error), since construction.
    uint64_t LostReads() const { return lostReads_.load(); }

  protected:
    // Stops the watcher if it runs and waits until no batch thread is left. Safe to call more
    // than once; the deriving class's destructor calls it before its members go.
    void StopAndWait();

    // The watched path of a completion key, valid until the watcher is destroyed; null when
    // no directory has that key.
    const wchar_t* PathOfKey(ULONG_PTR key);

    // Each entry holds its own read buffer; `bufferSize` is the size of every one of them.
    std::map<ULONG_PTR, WatchEntry*> watches;
    DWORD bufferSize;
    DWORD notifyFilter;
    tvn::UniqueHandleObj workerThread;
    tvn::UniqueHandleObj completionPort;
    bool stopped;
    ULONG_PTR nextKey;
    OwnedCriticalSection lock;

  private:
    static DWORD WINAPI WorkerMain(void* self);
    static DWORD WINAPI BatchMain(void* batch);
    void RunWorker();
    bool IssueRead(WatchEntry* entry);
    WatchEntry* FindEntry(ULONG_PTR key);
    // Runs OnChanges in a new thread, or on the calling thread when none can be started.
    void Dispatch(ChangeBatch* batch);
    // Tells OnChanges, on the calling thread, that the changes of `key` were lost.
    void DispatchLostInline(ULONG_PTR key);
    void Stop();
    // Sends OnChanges the news that the changes of `entry` were lost, unless such news is
    // already on its way.
    void DispatchLost(ULONG_PTR key, WatchEntry* entry);
    // Ends every pending read by closing its directory's handle, then waits for the reads to
    // report. Called with the lock held, after the worker has ended.
    void CancelAndDrainLocked();
    // Opens again the directories whose handles the last stop closed.
    void ReopenClosedDirectories();
    static HANDLE OpenDirectory(const wchar_t* path);
    static void FreeEntry(WatchEntry* entry);
    static void FreeBuffer(WatchEntry* entry);
    // Issues the read again unless the entry was closed meanwhile (its handle may be reused).
    void IssueReadUnlessClosed(WatchEntry* entry);

    std::atomic<long> runningBatches_{0};
    std::atomic<uint64_t> lostReads_{0};
    bool everStarted_ = false;
};

}  // namespace acl
