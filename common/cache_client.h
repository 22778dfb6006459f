// The client side of the cache server TVN Cache: its single-instance mutex, whether it runs,
// and a connection to its FolderSizeCache object. The interface, its identifiers and its
// vtable come from the server's own type library definition (tvn_cache.idl, through widl).
//
// Usage:
//     ComPtr<IFolderSizeCache> cache;
//     HRESULT hr = ConnectCacheServer(cache);        // COM starts the server if needed
//     if (SUCCEEDED(hr)) cache->GetFolderSize(path, &bytes);
// and, to act only on a server that already runs (never starting one):
//     HRESULT hr = ResetRunningCacheServer();        // S_FALSE: no server runs
#pragma once

#include <windows.h>

#include "com_ptr.h"
#include "tvn_cache.h"  // IFolderSizeCache, CLSID_FolderSizeCache, generated

namespace tvn {

// Owned by the running server for its whole life (created with initial ownership at start).
inline constexpr wchar_t kCacheServerMutexName[] =
    L"TVNCacheServer.{3677DD7F-E6BF-4081-B50D-39D336FD1089}";

// True when a cache server runs in this session: its mutex can be opened.
bool IsCacheServerRunning();

// CoCreateInstance of FolderSizeCache with CLSCTX_LOCAL_SERVER and no outer object. With
// `asked` IID_IFolderSizeCache (the default) the interface is asked for at creation; with any
// other interface (IID_IUnknown) that one is asked for first and IFolderSizeCache queried from
// it. Returns the failing HRESULT with `cache` empty, or S_OK with `cache` set.
HRESULT ConnectCacheServer(ComPtr<IFolderSizeCache>& cache, REFIID asked = IID_IFolderSizeCache);

// Empties the cache of a server that already runs; never starts one. S_FALSE when no server
// runs; otherwise the failure of the connection (asking IUnknown, then IFolderSizeCache) or
// the result of ResetCache.
HRESULT ResetRunningCacheServer();

}  // namespace tvn
