#include "read_directory_changes.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "ascii_fold.h"
#include "unique_handle.h"

namespace acl {

namespace {

// A read whose completions keep failing (its directory was deleted, or the volume went) is
// given up after this many failures in a row, so that a dead directory cannot make the
// worker spin; the other directories are still served.
constexpr uint32_t kMaxFailedReads = 8;

// How long the tear-down waits for each cancelled read to report. A read that never reports
// keeps its buffer and OVERLAPPED block allocated for ever rather than have them freed under
// the system's feet.
constexpr DWORD kDrainTimeoutMs = 5000;

// Batch threads do little; a small stack reservation keeps floods of them cheap.
constexpr SIZE_T kBatchStackBytes = 256 * 1024;

}  // namespace

ChangeBatch* ChangeBatch::Allocate(ReadDirectoryChanges* watcher, ULONG_PTR key, const BYTE* data,
                                   DWORD size) {
    // The header's size is a multiple of 8, so the records that follow it are aligned.
    static_assert(sizeof(ChangeBatch) % 8 == 0);
    void* block = ::operator new(sizeof(ChangeBatch) + size, std::nothrow);
    if (!block) {
        return nullptr;
    }
    auto* batch = new (block) ChangeBatch{watcher, key, nullptr, 0, true};
    if (data && size) {
        batch->records = reinterpret_cast<BYTE*>(batch + 1);
        batch->size = size;
        memcpy(batch->records, data, size);
    }
    return batch;
}

void ChangeBatch::Release(ChangeBatch* batch) {
    if (batch && batch->onHeap) {
        batch->~ChangeBatch();
        ::operator delete(batch);
    }
}

ReadDirectoryChanges::ReadDirectoryChanges(DWORD readBufferSize)
    : bufferSize((std::max<DWORD>(readBufferSize, 64) + 3) & ~DWORD(3)),
      notifyFilter(kDefaultNotifyFilter),
      stopped(true),
      nextKey(1) {}

ReadDirectoryChanges::~ReadDirectoryChanges() {
    StopAndWait();
    auto hold = lock.Enter();
    for (auto& [key, entry] : watches) {
        FreeEntry(entry);
    }
    watches.clear();
    completionPort.reset();
}

void ReadDirectoryChanges::FreeEntry(WatchEntry* entry) {
    if (entry->readPending.load()) {
        // The system may still write into this entry's buffer and OVERLAPPED block: leave
        // them allocated.
        return;
    }
    FreeBuffer(entry);
    delete entry;
}

HANDLE ReadDirectoryChanges::OpenDirectory(const wchar_t* path) {
    return CreateFileW(path, FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
}

void ReadDirectoryChanges::FreeBuffer(WatchEntry* entry) {
    delete[] reinterpret_cast<DWORD*>(entry->buffer);
    entry->buffer = nullptr;
}

DWORD ReadDirectoryChanges::AddDirectory(const wchar_t* path) {
    ULONG_PTR key = 0;
    return AddDirectory(path, &key);
}

DWORD ReadDirectoryChanges::AddDirectory(const wchar_t* path, ULONG_PTR* addedKey) {
    *addedKey = 0;
    if (!path) {
        return ERROR_INVALID_PARAMETER;
    }
    // A closed watch of the same path does not count: the path may be watched anew.
    auto findOpen = [&]() -> ULONG_PTR {
        for (const auto& [key, entry] : watches) {
            if (!entry->closed && tvn::EqualFoldingAscii(entry->path.get(), path)) {
                return key;
            }
        }
        return 0;
    };
    {
        auto hold = lock.Enter();
        if ((*addedKey = findOpen()) != 0) {
            return ERROR_ALREADY_EXISTS;
        }
    }

    auto* entry = new (std::nothrow) WatchEntry{};
    if (!entry) {
        return ERROR_OUTOFMEMORY;
    }
    const size_t length = wcslen(path);
    entry->path.reset(new (std::nothrow) wchar_t[length + 1]);
    entry->buffer = reinterpret_cast<BYTE*>(new (std::nothrow) DWORD[bufferSize / 4]);
    if (!entry->path || !entry->buffer) {
        FreeEntry(entry);
        return ERROR_OUTOFMEMORY;
    }
    wmemcpy(entry->path.get(), path, length + 1);

    entry->directory.reset(OpenDirectory(path));
    if (!entry->directory) {
        DWORD error = GetLastError();
        FreeEntry(entry);
        return error;
    }

    auto hold = lock.Enter();
    if ((*addedKey = findOpen()) != 0) {  // added by someone else meanwhile
        FreeEntry(entry);
        return ERROR_ALREADY_EXISTS;
    }
    const ULONG_PTR key = nextKey;
    HANDLE port = CreateIoCompletionPort(entry->directory.get(), completionPort.get(), key, 0);
    if (!port) {
        DWORD error = GetLastError();
        FreeEntry(entry);
        return error;
    }
    if (!completionPort) {
        completionPort.reset(port);
    }
    ++nextKey;  // the handle is bound to this key now: never hand it out again
    try {
        watches.emplace(key, entry);
    } catch (const std::bad_alloc&) {
        FreeEntry(entry);
        return ERROR_OUTOFMEMORY;
    }
    if (!stopped) {
        IssueRead(entry);
    }
    *addedKey = key;
    return 0;
}

void ReadDirectoryChanges::CloseWatch(ULONG_PTR key) {
    auto hold = lock.Enter();
    auto it = watches.find(key);
    if (it == watches.end() || it->second->closed) {
        return;
    }
    WatchEntry* entry = it->second;
    entry->closed = true;
    entry->healthy.store(false);
    // Closing the handle ends a pending read; its completion still comes through the port,
    // and the worker frees the buffer then.
    entry->directory.reset();
    if (!entry->readPending.load()) {
        FreeBuffer(entry);
    }
}

bool ReadDirectoryChanges::IsWatchHealthy(ULONG_PTR key) {
    auto hold = lock.Enter();
    auto it = watches.find(key);
    return it != watches.end() && !it->second->closed && it->second->healthy.load();
}

void ReadDirectoryChanges::IssueReadUnlessClosed(WatchEntry* entry) {
    auto hold = lock.Enter();
    if (!entry->closed) {
        IssueRead(entry);
    }
}

bool ReadDirectoryChanges::IssueRead(WatchEntry* entry) {
    entry->overlapped = OVERLAPPED{};
    entry->readPending.store(true);
    if (!ReadDirectoryChangesW(entry->directory.get(), entry->buffer, bufferSize, TRUE,
                               notifyFilter, nullptr, &entry->overlapped, nullptr)) {
        if (GetLastError() == ERROR_INVALID_HANDLE) {
            // Closed under the watch: the value is no longer ours to close.
            entry->directory.release();
        }
        entry->readPending.store(false);
        entry->healthy.store(false);
        return false;
    }
    entry->healthy.store(entry->failedReads == 0);
    return true;
}

WatchEntry* ReadDirectoryChanges::FindEntry(ULONG_PTR key) {
    auto hold = lock.Enter();
    auto it = watches.find(key);
    return it == watches.end() ? nullptr : it->second;
}

const wchar_t* ReadDirectoryChanges::PathOfKey(ULONG_PTR key) {
    WatchEntry* entry = FindEntry(key);
    return entry ? entry->path.get() : nullptr;
}

std::vector<std::wstring> ReadDirectoryChanges::WatchedPaths() {
    std::vector<std::wstring> paths;
    auto hold = lock.Enter();
    for (const auto& [key, entry] : watches) {
        paths.emplace_back(entry->path.get());
    }
    return paths;
}

bool ReadDirectoryChanges::IsStopped() {
    auto hold = lock.Enter();
    return stopped;
}

DWORD ReadDirectoryChanges::SetStopped(DWORD state) {
    if (state > 1) {
        return ERROR_INVALID_PARAMETER;
    }
    auto hold = lock.Enter();
    if (bool(state) == stopped) {
        return ERROR_ALREADY_ASSIGNED;
    }
    if (state == 1) {
        hold.Leave();  // the worker takes the lock to find entries
        Stop();
        return 0;
    }
    if (watches.empty()) {
        return ERROR_NO_DATA;
    }
    hold.Leave();
    ReopenClosedDirectories();
    hold.Enter();
    if (!stopped) {
        return ERROR_ALREADY_ASSIGNED;
    }
    // The list of entries to tell of lost changes is made before anything starts, so that a
    // failed allocation leaves the watcher stopped instead of throwing out of a started one.
    std::vector<std::pair<ULONG_PTR, WatchEntry*>> entries;
    try {
        entries.reserve(watches.size());
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    HANDLE worker = CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr);
    if (!worker) {
        return GetLastError();
    }
    workerThread.reset(worker);
    for (auto& [key, entry] : watches) {
        if (entry->closed) {
            continue;
        }
        entry->failedReads = 0;
        if (entry->directory) {
            IssueRead(entry);
        }
        entries.emplace_back(key, entry);
    }
    stopped = false;
    const bool restarted = everStarted_;
    everStarted_ = true;
    hold.Leave();

    // Nothing was watched while stopped: whatever changed meanwhile is unknown.
    if (restarted) {
        for (auto& [key, entry] : entries) {
            DispatchLost(key, entry);
        }
    }
    return 0;
}

void ReadDirectoryChanges::ReopenClosedDirectories() {
    // The paths are copied under the lock and opened outside it: opening is disk access.
    std::vector<std::pair<ULONG_PTR, std::wstring>> closed;
    {
        auto hold = lock.Enter();
        try {
            for (const auto& [key, entry] : watches) {
                // A read that never reported after its handle was closed still owns the
                // entry's buffer and OVERLAPPED block: that directory stays unwatched.
                if (!entry->directory && !entry->closed && !entry->readPending.load()) {
                    closed.emplace_back(key, entry->path.get());
                }
            }
        } catch (const std::bad_alloc&) {
            return;  // those directories stay unwatched (not healthy) until the next start
        }
    }
    for (const auto& [key, path] : closed) {
        tvn::UniqueFile directory(OpenDirectory(path.c_str()));
        if (!directory) {
            continue;  // gone for now: no read, so the watch reports itself not healthy
        }
        auto hold = lock.Enter();
        auto it = watches.find(key);
        if (it == watches.end() || it->second->closed || it->second->directory) {
            continue;
        }
        // A new handle may be bound to the port under the key its closed predecessor had: the
        // predecessor's read has reported (it is not pending), so nothing of it is left.
        if (CreateIoCompletionPort(directory.get(), completionPort.get(), key, 0)) {
            it->second->directory = std::move(directory);
        }
    }
}

// Called without the lock held (the worker takes it); takes it for the tear-down of the reads.
void ReadDirectoryChanges::Stop() {
    PostQueuedCompletionStatus(completionPort.get(), 0, 0, nullptr);
    // The worker never waits for anything but the port, so it ends promptly; its buffers are
    // in use until it has, so there is no giving up on it.
    WaitForSingleObject(workerThread.get(), INFINITE);
    workerThread.reset();
    auto hold = lock.Enter();
    CancelAndDrainLocked();
    stopped = true;
}

// Closing a directory's handle ends its read: the system completes it on the port (cancelled,
// or "handles closed") whichever thread issued it. CancelIo would reach only the reads of the
// calling thread, and the reads here are issued by the worker and by the owner.
void ReadDirectoryChanges::CancelAndDrainLocked() {
    size_t pending = 0;
    for (auto& [key, entry] : watches) {
        entry->healthy.store(false);
        // A closed watch's read was ended when it was closed; the worker drops it.
        if (entry->readPending.load() && !entry->closed) {
            ++pending;
        }
        entry->directory.reset();
    }
    while (pending > 0) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        BOOL ok = GetQueuedCompletionStatus(completionPort.get(), &bytes, &key, &overlapped,
                                            kDrainTimeoutMs);
        if (!overlapped) {
            if (!ok && GetLastError() == WAIT_TIMEOUT) {
                break;  // the entries still pending keep their memory (see FreeEntry)
            }
            if (!ok) {
                break;
            }
            continue;  // a stray stop packet
        }
        auto it = watches.find(key);
        if (it != watches.end() && it->second->readPending.exchange(false) && !it->second->closed) {
            --pending;
        }
    }
}

void ReadDirectoryChanges::StopAndWait() {
    if (!IsStopped()) {
        Stop();
    }
    // A batch thread's last touch of this object is its decrement of the count, so once the
    // count is zero nothing of ours is in use. Polled: this happens once, at tear-down.
    while (runningBatches_.load() != 0) {
        Sleep(1);
    }
}

DWORD WINAPI ReadDirectoryChanges::WorkerMain(void* self) {
    static_cast<ReadDirectoryChanges*>(self)->RunWorker();
    return 0;
}

void ReadDirectoryChanges::RunWorker() {
    HANDLE port = completionPort.get();
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        BOOL ok = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, INFINITE);
        if (!overlapped) {
            if (!ok || key == 0) {
                return;  // the stop packet, or the port itself failed
            }
            continue;
        }
        WatchEntry* entry = FindEntry(key);
        if (!entry) {
            continue;
        }
        ChangeBatch* batch = nullptr;
        {
            // Under the lock: CloseWatch may close the entry, and free its buffer, meanwhile.
            auto hold = lock.Enter();
            entry->readPending.store(false);
            if (entry->closed) {
                FreeBuffer(entry);  // the read that its closing ended: nothing to tell
                continue;
            }
            // Zero bytes with success is the system's overflow signal; an error means the
            // records were not delivered. Neither carries records to read.
            const bool delivered = ok && bytes > 0 && bytes <= bufferSize;
            batch = delivered ? ChangeBatch::Allocate(this, key, entry->buffer, bytes) : nullptr;
        }
        entry->failedReads = ok ? 0 : entry->failedReads + 1;
        if (!ok) {
            entry->healthy.store(false);
        }
        // The records are copied: the read can go out again before anyone looks at them.
        if (entry->failedReads < kMaxFailedReads) {
            IssueReadUnlessClosed(entry);
        }
        if (batch) {
            Dispatch(batch);
        } else {
            lostReads_.fetch_add(1);  // overflow, failed read, or no memory for the copy
            DispatchLost(key, entry);
        }
    }
}

DWORD WINAPI ReadDirectoryChanges::BatchMain(void* parameter) {
    auto* batch = static_cast<ChangeBatch*>(parameter);
    ReadDirectoryChanges* watcher = batch->watcher;  // the batch is gone after OnChanges
    if (batch->Lost()) {
        // From here on, a new loss needs news of its own: this handler may already be past
        // the records it would touch.
        if (WatchEntry* entry = watcher->FindEntry(batch->key)) {
            entry->lostQueued.store(false);
        }
    }
    try {
        watcher->OnChanges(batch);
    } catch (...) {
        // Nothing may end the process from a batch thread.
    }
    watcher->runningBatches_.fetch_sub(1);  // last touch of the watcher
    return 0;
}

void ReadDirectoryChanges::Dispatch(ChangeBatch* batch) {
    runningBatches_.fetch_add(1);
    // Nobody waits for the thread (the count tracks it): its handle goes at once.
    tvn::UniqueHandleObj thread(CreateThread(nullptr, kBatchStackBytes, BatchMain, batch,
                                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread) {
        BatchMain(batch);  // no thread to be had: handle it here rather than lose it
    }
}

void ReadDirectoryChanges::DispatchLost(ULONG_PTR key, WatchEntry* entry) {
    if (entry->lostQueued.exchange(true)) {
        return;
    }
    if (ChangeBatch* batch = ChangeBatch::Allocate(this, key, nullptr, 0)) {
        Dispatch(batch);
    } else {
        DispatchLostInline(key);
    }
}

void ReadDirectoryChanges::DispatchLostInline(ULONG_PTR key) {
    // Out of memory even for an empty batch: hand over one that lives on this stack.
    ChangeBatch batch{this, key, nullptr, 0, false};
    runningBatches_.fetch_add(1);
    BatchMain(&batch);
}

}  // namespace acl
