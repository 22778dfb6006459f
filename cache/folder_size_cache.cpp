#include "folder_size_cache.h"

#include <atomic>
#include <new>
#include <string>

namespace tvn {

namespace {

// Roots "a:\" to "z:\" that report DRIVE_FIXED, as "x:\" (the caller cuts what it needs).
template <typename Visit>
void ForEachFixedDrive(Visit visit) {
    for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_FIXED) {
            visit(letter);
        }
    }
}

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
    acl::CriticalSection hold(lock_);
    hold.Enter();
    if (++count_ > 0 && idle_) {
        ResetEvent(idle_.get());
    }
}

void BusyGate::Leave() {
    acl::CriticalSection hold(lock_);
    hold.Enter();
    if (--count_ <= 0 && idle_) {
        SetEvent(idle_.get());
    }
}

bool BusyGate::WaitIdle(DWORD milliseconds) {
    if (!idle_) {
        return Count() <= 0;
    }
    return WaitForSingleObject(idle_.get(), milliseconds) == WAIT_OBJECT_0;
}

LONG BusyGate::Count() {
    acl::CriticalSection hold(lock_);
    hold.Enter();
    return count_;
}

// ---- construction and destruction ------------------------------------------------------------

HRESULT FolderSizeCache::Create(FolderSizeCache** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = new (std::nothrow) FolderSizeCache();
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

LONG FolderSizeCache::LiveObjects() {
    return g_liveObjects.load();
}

FolderSizeCache::FolderSizeCache() {
    ++g_liveObjects;
    // Roots that cannot be watched, or no root at all, leave the object working without
    // change marks for them; construction succeeds in any case.
    WatchFixedDrives();
    typeInfoResult_ = LoadTypeInfo();
}

FolderSizeCache::~FolderSizeCache() {
    // No batch thread may mark the table while it is emptied below.
    StopAndWait();

    // Every scan thread holds a reference, so none can still run when the last reference
    // goes; the wait only documents that the gate is idle by now.
    gate_.WaitIdle(600000);
    ResetCache();
    if (typeInfo_ != nullptr) {
        typeInfo_->Release();
    }
    --g_liveObjects;
}

// The type information comes from the program's own type library resource, so late binding
// works whether or not the library is registered; the registered library is the fallback
// for code that links the object without the resource.
HRESULT FolderSizeCache::LoadTypeInfo() {
    ITypeLib* library = nullptr;
    wchar_t module[MAX_PATH + 1];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH + 1);
    HRESULT hr = E_FAIL;
    if (length > 0 && length <= MAX_PATH) {
        hr = LoadTypeLibEx(module, REGKIND_NONE, &library);
    }
    if (FAILED(hr)) {
        hr = LoadRegTypeLib(LIBID_TVNCacheLib, 1, 0, 0x409, &library);
    }
    if (FAILED(hr)) {
        return hr;
    }
    hr = library->GetTypeInfoOfGuid(IID_IFolderSizeCache, &typeInfo_);
    library->Release();
    return hr;
}

// ---- IUnknown ------------------------------------------------------------------------------

STDMETHODIMP FolderSizeCache::QueryInterface(REFIID riid, void** ppv) {
    static const com::InterfaceEntry table[] = {
        {&IID_IFolderSizeCache, com::InterfaceOffset<FolderSizeCache, IFolderSizeCache>()},
        {&IID_IDispatch, com::InterfaceOffset<FolderSizeCache, IDispatch>()},
        {nullptr, 0},
    };
    return com::QueryInterfaceFromTable(this, table, riid, ppv);
}

STDMETHODIMP_(ULONG) FolderSizeCache::AddRef() {
    LONG refs = refs_.Increment();
    if (refs == 2) {
        com::ModuleLock::Lock();
    }
    return static_cast<ULONG>(refs);
}

STDMETHODIMP_(ULONG) FolderSizeCache::Release() {
    LONG refs = refs_.Decrement();
    if (refs == 1) {
        com::ModuleLock::Unlock();
    } else if (refs == 0) {
        delete this;
    }
    return static_cast<ULONG>(refs);
}

// ---- IDispatch -----------------------------------------------------------------------------

STDMETHODIMP FolderSizeCache::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = typeInfo_ != nullptr ? 1 : 0;
    return S_OK;
}

STDMETHODIMP FolderSizeCache::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    *info = nullptr;
    if (index != 0) {
        return DISP_E_BADINDEX;
    }
    if (typeInfo_ == nullptr) {
        return typeInfoResult_;
    }
    typeInfo_->AddRef();
    *info = typeInfo_;
    return S_OK;
}

STDMETHODIMP FolderSizeCache::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (typeInfo_ == nullptr) {
        return typeInfoResult_;
    }
    return typeInfo_->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP FolderSizeCache::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (typeInfo_ == nullptr) {
        return typeInfoResult_;
    }
    return typeInfo_->Invoke(static_cast<IFolderSizeCache*>(this), id, flags, params, result,
                             exception, argError);
}

// ---- IFolderSizeCache ----------------------------------------------------------------------

HRESULT FolderSizeCache::ComputeSize(const wchar_t* path, uint64_t* outBytes) {
    *outBytes = 0;
    const wchar_t root[] = {path[0], L':', L'\\', 0};
    if (GetDriveTypeW(root) != DRIVE_FIXED) {
        return Cache().ComputeUncachedSize(path, outBytes);
    }
    // The cached computation rewrites its argument to the folder key: work on a copy so that
    // no caller (in-process ones included) sees its string change.
    std::wstring key;
    try {
        key = path;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return Cache().ComputeCachedSize(key.data(), nullptr, outBytes);
}

STDMETHODIMP FolderSizeCache::GetFolderSize(BSTR bstrFolder, unsigned __int64* puSizeInBytes) {
    if (puSizeInBytes == nullptr) {
        return E_POINTER;
    }
    *puSizeInBytes = 0;
    if (bstrFolder == nullptr || bstrFolder[0] == 0) {
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
    ForEachFixedDrive([this](wchar_t letter) {
        auto* job = new (std::nothrow) DriveScanJob{{letter, L':', 0}, &gate_, this};
        if (job == nullptr) {
            return;  // no memory: this drive is not scanned
        }
        AddRef();  // released by the thread when its scan is done
        HANDLE thread = CreateThread(nullptr, 0, DriveScanThread, job, 0, nullptr);
        if (thread == nullptr) {
            delete job;
            Release();
            return;
        }
        CloseHandle(thread);
    });
    return S_OK;
}

DWORD WINAPI FolderSizeCache::DriveScanThread(void* parameter) {
    auto* job = static_cast<DriveScanJob*>(parameter);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
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
    Cache().ClearAll();
    return S_OK;
}

}  // namespace tvn
