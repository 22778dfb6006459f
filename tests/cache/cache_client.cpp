// A separate COM client of the cache server for the end-to-end tests:
//   tvn_cache_client size PATH   prints "calling <hresult hex> <bytes> <microseconds of the call>"
//   tvn_cache_client release     calls ReleaseServer and prints its result
//   tvn_cache_client ask PATH BYTES MS   asks for PATH again and again for MS milliseconds;
//                                        prints "<calls> <failed calls> <wrong answers>"
//   tvn_cache_client reset MS            calls ResetCache again and again for MS
//                                        milliseconds; prints "<calls> <failed calls>"
// (the load test's clients: the exit code is 1 when any call failed or answered wrong).
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
            std::printf("calling ");  // seen by a test waiting for the call to begin
            std::fflush(stdout);
            LARGE_INTEGER start, end, frequency;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&start);
            HRESULT call = cache->GetFolderSize(path, &bytes);
            QueryPerformanceCounter(&end);
            SysFreeString(path);
            long long micros = (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
            std::printf("%08lx %llu %lld\n", static_cast<unsigned long>(call), bytes, micros);
        } else if (wcscmp(argv[1], L"ask") == 0 && argc >= 5) {
            BSTR path = SysAllocString(argv[2]);
            const unsigned long long expected = _wcstoui64(argv[3], nullptr, 10);
            const ULONGLONG end = GetTickCount64() + _wcstoui64(argv[4], nullptr, 10);
            unsigned long calls = 0, failed = 0, wrong = 0;
            while (GetTickCount64() < end) {
                unsigned __int64 bytes = 0;
                HRESULT call = cache->GetFolderSize(path, &bytes);
                ++calls;
                failed += call != S_OK;
                wrong += call == S_OK && bytes != expected;
            }
            SysFreeString(path);
            std::printf("%lu %lu %lu\n", calls, failed, wrong);
            hr = failed == 0 && wrong == 0 && calls > 0 ? S_OK : S_FALSE;
        } else if (wcscmp(argv[1], L"reset") == 0 && argc >= 3) {
            const ULONGLONG end = GetTickCount64() + _wcstoui64(argv[2], nullptr, 10);
            unsigned long calls = 0, failed = 0;
            while (GetTickCount64() < end) {
                failed += cache->ResetCache() != S_OK;
                ++calls;
                Sleep(10);  // a reset now and then, not a flood that starves the askers
            }
            std::printf("%lu %lu\n", calls, failed);
            hr = failed == 0 ? S_OK : S_FALSE;
        } else if (wcscmp(argv[1], L"release") == 0) {
            std::printf("%08lx\n", static_cast<unsigned long>(cache->ReleaseServer()));
        } else {
            hr = E_INVALIDARG;
        }
        cache->Release();
    }
    CoUninitialize();
    return hr == S_OK ? 0 : hr == S_FALSE ? 1 : hr;
}
