// FolderSizeCache: the one COM object of the cache server. Every client of the process gets
// the same object (see SingletonClassFactory), and with it the same folder table.
//
// Threads: the server lives in the multithreaded apartment, so client calls arrive on COM's
// threads, any number at once; drive-scan threads started by CreateCache call into the object
// directly. Nothing of the object's own is shared without a lock or an interlocked count: the
// table has the cache lock, the watcher its own locks, and the scan gate its own. The
// reference count is interlocked. Module locks follow the count: taking it to 2 locks the
// module, bringing it back to 1 unlocks it, so the reference kept by the class factory alone
// never keeps the process alive.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "com_core.h"
#include "device_notice_window.h"
#include "dispatch.h"
#include "folder_cache_watcher.h"
#include "folder_tree_cache.h"
#include "sync.h"
#include "tvn_cache.h"
#include "unique_handle.h"

namespace tvn {

// Counts running drive scans. `idle` is a manual-reset event signalled while none runs.
class BusyGate {
  public:
    BusyGate();
    BusyGate(const BusyGate&) = delete;
    BusyGate& operator=(const BusyGate&) = delete;

    void Enter();
    void Leave();
    // True when no scan runs, at the latest after `milliseconds`.
    bool WaitIdle(DWORD milliseconds);

  private:
    UniqueHandleObj idle_;
    LONG count_ = 0;
    acl::OwnedCriticalSection lock_{1024};
};

// The object owns the folder table and the drive watcher that keeps it current, in that order
// of members: construction makes the table, then starts watching every fixed drive root;
// destruction stops the watcher and waits for its batch threads before the table goes. Its
// IUnknown is com::ComObject's, with an interlocked count and the module locked only while
// the object is shared (see above).
class FolderSizeCache : public com::Dispatch<IFolderSizeCache> {
  public:
    // Builds an object with one reference, owned by the caller (the class factory).
    static HRESULT Create(FolderSizeCache** out);

    // IFolderSizeCache
    STDMETHODIMP GetFolderSize(BSTR bstrFolder, unsigned __int64* puSizeInBytes) override;
    STDMETHODIMP ReleaseServer() override;
    STDMETHODIMP CreateCache() override;
    STDMETHODIMP ResetCache() override;

    // The size of a folder by drive type: cached on fixed drives whose root is watched (a
    // fixed drive not watched yet is watched first), a plain scan elsewhere and on a fixed
    // drive that cannot be watched or is being removed. `path` is not changed.
    HRESULT ComputeSize(const wchar_t* path, uint64_t* outBytes);

    // The window that receives the device events of the watched roots.
    HWND DeviceNotices() const { return notices_.Window(); }

    FolderTreeCache& Cache() { return table_; }
    FolderCacheWatcher& Watcher() { return watcher_; }

    // For tests: objects built and not yet destroyed.
    static LONG LiveObjects();

  protected:
    FolderSizeCache();
    ~FolderSizeCache();
    static const com::InterfaceEntry* Interfaces();

  private:
    FolderSizeCache(const FolderSizeCache&) = delete;
    FolderSizeCache& operator=(const FolderSizeCache&) = delete;

    static DWORD WINAPI DriveScanThread(void* parameter);
    static void OnDeviceNotice(void* self, UINT event, HANDLE handle, HDEVNOTIFY notice);

    FolderTreeCache table_;
    // Made on the constructing thread (the server's main thread, which runs the message loop)
    // before the first watch, so that every watched root can be registered with it.
    DeviceNoticeWindow notices_{&FolderSizeCache::OnDeviceNotice, this};
    FolderCacheWatcher watcher_{table_};
    BusyGate gate_;
    LONG serverReferenceReleased_ = 0;  // ReleaseServer gives up the server's reference once
};

}  // namespace tvn
