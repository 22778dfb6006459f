#include "folder_size_cache.h"

#include <oleauto.h>

#include <atomic>
#include <cwchar>
#include <new>
#include <string>

#include "fixed_drives.h"

namespace tvn {

namespace {

using FolderSizeCacheObject = com::ComObject<FolderSizeCache, com::InterlockedCount,
                                             com::LockWhileShared, com::Aggregation::Refused>;

// The server's type library: TYPELIB 1 of the program, or the registered one.
constexpr com::TypeLibrary kTypeLibrary{&LIBID_TVNCacheLib, 1, 0, 0x409};

// One drive scan: owned by its thread, which frees it. The thread also holds a reference on
// the object, so the object (and its gate) outlives every scan that still runs.
struct DriveScanJob {
    wchar_t path[3];  // letter, colon, zero
    BusyGate* gate;
    FolderSizeCache* cache;
};

std::atomic<LONG> g_liveObjects{0};

}  // namespace

// ---- BusyGate ------------------------------------------------------------------------------

BusyGate::BusyGate() : idle_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

void BusyGate::Enter() {
    auto hold = lock_.Enter();
    if (++count_ > 0 && idle_) {
        ResetEvent(idle_.get());
    }
}

void BusyGate::Leave() {
    auto hold = lock_.Enter();
    if (--count_ <= 0 && idle_) {
        SetEvent(idle_.get());
    }
}

bool BusyGate::WaitIdle(DWORD milliseconds) {
    if (!idle_) {
        auto hold = lock_.Enter();
        return count_ <= 0;
    }
    return WaitForSingleObject(idle_.get(), milliseconds) == WAIT_OBJECT_0;
}

// ---- construction and destruction ------------------------------------------------------------

HRESULT FolderSizeCache::Create(FolderSizeCache** out) {
    return FolderSizeCacheObject::Create(out);
}

LONG FolderSizeCache::LiveObjects() {
    return g_liveObjects.load();
}

FolderSizeCache::FolderSizeCache() : com::Dispatch<IFolderSizeCache>(kTypeLibrary) {
    ++g_liveObjects;
    // Roots that cannot be watched, or no root at all, leave the object working without
    // change marks for them; construction succeeds in any case.
    watcher_.SetDeviceNoticeWindow(notices_.Window());
    watcher_.WatchFixedDrives();
}

void FolderSizeCache::OnDeviceNotice(void* self, UINT event, HANDLE handle, HDEVNOTIFY notice) {
    static_cast<FolderSizeCache*>(self)->watcher_.OnDeviceEvent(event, handle, notice);
}

// The members go in reverse order: the watcher stops and waits for its batch threads, then
// the notice window closes, and the table and its records go last.
FolderSizeCache::~FolderSizeCache() {
    // Every scan thread holds a reference, so none can still run when the last reference
    // goes; the wait only documents that the gate is idle by now.
    gate_.WaitIdle(600000);
    --g_liveObjects;
}

const com::InterfaceEntry* FolderSizeCache::Interfaces() {
    static const com::InterfaceEntry table[] = {
        {&IID_IFolderSizeCache, com::InterfaceOffset<FolderSizeCache, IFolderSizeCache>()},
        {&IID_IDispatch, com::InterfaceOffset<FolderSizeCache, IFolderSizeCache>()},
        {nullptr, 0},
    };
    return table;
}

// ---- IFolderSizeCache ----------------------------------------------------------------------

HRESULT FolderSizeCache::ComputeSize(const wchar_t* path, uint64_t* outBytes) {
    *outBytes = 0;
    // A root this object watches is on a fixed drive while its watch works; any other root is
    // asked about. Records are used only while something marks them: a fixed drive that is
    // not watched (attached later, its watch failed, or Windows is removing it) is watched
    // first, or answered without the cache.
    const wchar_t root[] = {path[0], L':', L'\\', 0};
    if (!watcher_.WatchesRootHealthily(path[0]) &&
        (GetDriveTypeW(root) != DRIVE_FIXED || !watcher_.WatchRoot(path[0]))) {
        return table_.ComputeUncachedSize(path, outBytes);
    }
    // The cached computation rewrites its argument to the folder key: work on a copy so that
    // no caller (in-process ones included) sees its string change. A path that fits the scan
    // buffers is copied on the stack.
    const size_t length = wcslen(path);
    if (length < kScanPathChars) {
        wchar_t key[kScanPathChars];
        wmemcpy(key, path, length + 1);
        return table_.ComputeCachedSize(key, nullptr, outBytes);
    }
    std::wstring key;
    try {
        key.assign(path, length);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return table_.ComputeCachedSize(key.data(), nullptr, outBytes);
}

STDMETHODIMP FolderSizeCache::GetFolderSize(BSTR bstrFolder, unsigned __int64* puSizeInBytes) {
    if (puSizeInBytes == nullptr) {
        return E_POINTER;
    }
    *puSizeInBytes = 0;
    if (bstrFolder == nullptr || bstrFolder[0] == 0) {
        return E_INVALIDARG;
    }
    // A string that goes on after a zero is not the path it would be read as: answering for
    // the part before the zero would report another folder's size as this one's.
    if (wcslen(bstrFolder) != SysStringLen(bstrFolder)) {
        return E_INVALIDARG;
    }
    uint64_t bytes = 0;
    HRESULT hr = ComputeSize(bstrFolder, &bytes);
    *puSizeInBytes = bytes;
    return hr;
}

// Gives up the reference the server took on its own object at start, once per run. A second
// call would release a reference that no caller holds and could destroy the object while the
// class factory still hands it out, so it releases nothing and reports E_UNEXPECTED.
STDMETHODIMP FolderSizeCache::ReleaseServer() {
    if (InterlockedExchange(&serverReferenceReleased_, 1) != 0) {
        return E_UNEXPECTED;
    }
    return static_cast<HRESULT>(Release());
}

STDMETHODIMP FolderSizeCache::CreateCache() {
    ForEachFixedDrive([this](const wchar_t* root) {
        auto* job = new (std::nothrow) DriveScanJob{{root[0], L':', 0}, &gate_, this};
        if (job == nullptr) {
            return;  // no memory: this drive is not scanned
        }
        AddRef();  // released by the thread when its scan is done
        // Made suspended so that it runs at idle priority from its first instruction: a drive
        // scan never competes with the requests of a client. Nobody waits for the thread: its
        // handle goes at once.
        UniqueHandleObj thread(
            CreateThread(nullptr, 0, DriveScanThread, job, CREATE_SUSPENDED, nullptr));
        if (!thread) {
            delete job;
            Release();
            return;
        }
        SetThreadPriority(thread.get(), THREAD_PRIORITY_IDLE);
        ResumeThread(thread.get());
    });
    return S_OK;
}

DWORD WINAPI FolderSizeCache::DriveScanThread(void* parameter) {
    auto* job = static_cast<DriveScanJob*>(parameter);
    job->gate->Enter();
    uint64_t bytes = 0;
    job->cache->ComputeSize(job->path, &bytes);  // fills the table; the answer is not used
    job->gate->Leave();
    FolderSizeCache* cache = job->cache;
    delete job;
    cache->Release();
    return 0;
}

STDMETHODIMP FolderSizeCache::ResetCache() {
    table_.ClearAll();
    return S_OK;
}

}  // namespace tvn
