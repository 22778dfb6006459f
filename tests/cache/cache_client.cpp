// A separate COM client of the cache server for the end-to-end tests:
//   tvn_cache_client size PATH   prints "<hresult hex> <bytes> <microseconds of the call>"
//   tvn_cache_client release     calls ReleaseServer and prints its result
// The exit code is 0 when the object could be created and called, else the failing HRESULT.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>

#include "tvn_cache.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return E_INVALIDARG;
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        return hr;
    }
    IFolderSizeCache* cache = nullptr;
    hr = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER, IID_IFolderSizeCache,
                          reinterpret_cast<void**>(&cache));
    if (SUCCEEDED(hr)) {
        if (wcscmp(argv[1], L"size") == 0 && argc >= 3) {
            BSTR path = SysAllocString(argv[2]);
            unsigned __int64 bytes = 0;
            LARGE_INTEGER start, end, frequency;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&start);
            HRESULT call = cache->GetFolderSize(path, &bytes);
            QueryPerformanceCounter(&end);
            SysFreeString(path);
            long long micros = (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
            std::printf("%08lx %llu %lld\n", static_cast<unsigned long>(call), bytes, micros);
        } else if (wcscmp(argv[1], L"release") == 0) {
            std::printf("%08lx\n", static_cast<unsigned long>(cache->ReleaseServer()));
        } else {
            hr = E_INVALIDARG;
        }
        cache->Release();
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : hr;
}
