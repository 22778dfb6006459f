#include "cache_client.h"

#include "unique_handle.h"

namespace tvn {

bool IsCacheServerRunning() {
    UniqueHandleObj mutex(OpenMutexW(SYNCHRONIZE, FALSE, kCacheServerMutexName));
    return static_cast<bool>(mutex);
}

HRESULT ConnectCacheServer(ComPtr<IFolderSizeCache>& cache, REFIID asked) {
    cache.reset();
    if (IsEqualIID(asked, IID_IFolderSizeCache)) {
        HRESULT hr = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_IFolderSizeCache, cache.put_void());
        if (SUCCEEDED(hr) && !cache) {
            hr = E_UNEXPECTED;
        }
        return hr;
    }
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER, asked,
                                  object.put_void());
    if (FAILED(hr)) {
        return hr;
    }
    if (!object) {
        return E_UNEXPECTED;
    }
    return object.As(IID_IFolderSizeCache, cache);
}

HRESULT ResetRunningCacheServer() {
    if (!IsCacheServerRunning()) {
        return S_FALSE;
    }
    ComPtr<IFolderSizeCache> cache;
    HRESULT hr = ConnectCacheServer(cache, IID_IUnknown);
    if (FAILED(hr)) {
        return hr;
    }
    return cache->ResetCache();
}

}  // namespace tvn
