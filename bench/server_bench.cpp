// Cache server benchmark: what a client pays per call across processes, and what the first
// scan costs through the server compared with the same scan in-process.
//
// Usage (under Wine, see bench/run-server-bench.sh): server_bench ROOT CLEAN_FOLDER
// The server must be registered ("TVN Cache.exe" /RegServer).
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "folder_tree_cache.h"
#include "tvn_cache.h"

namespace {

double NowUs() {
    return bench::NowSeconds() * 1e6;
}

struct Stats {
    double median, p99;
};

template <typename Call>
Stats Measure(int count, Call call) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        double start = NowUs();
        call();
        times.push_back(NowUs() - start);
    }
    return {bench::Percentile(times, 0.5), bench::Percentile(times, 0.99)};
}

void Row(const char* what, double value, const char* unit, const char* note) {
    std::printf("| %-52s | %12.3f %-2s | %s\n", what, value, unit, note);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: server_bench ROOT CLEAN_FOLDER\n");
        return 2;
    }
    const std::wstring root = argv[1];
    const std::wstring clean = argv[2];
    if (FAILED(CoInitialize(nullptr))) {
        return 1;
    }
    IFolderSizeCache* server = nullptr;
    double start = NowUs();
    HRESULT hr = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IFolderSizeCache, reinterpret_cast<void**>(&server));
    const double activationMs = (NowUs() - start) / 1000.0;
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoCreateInstance failed: 0x%08lX\n", (unsigned long)hr);
        return 1;
    }
    BSTR rootText = SysAllocString(root.c_str());
    BSTR cleanText = SysAllocString(clean.c_str());
    char note[160];
    std::printf("| %-52s | %15s | %s\n", "measure", "value", "note");
    std::printf("|%s|%s|------\n", std::string(54, '-').c_str(), std::string(17, '-').c_str());
    Row("cold activation of the server (CoCreateInstance)", activationMs, "ms", "");

    // First scans: through the server (after a reset) against the same computation in-process.
    const int scans = 3;
    unsigned __int64 serverBytes = 0;
    Stats viaServer = Measure(scans, [&] {
        server->ResetCache();
        server->GetFolderSize(rootText, &serverBytes);
    });
    uint64_t localBytes = 0;
    Stats inProcess = Measure(scans, [&] {
        tvn::FolderTreeCache cache;
        std::wstring path = root;
        cache.ComputeCachedSize(path.data(), nullptr, &localBytes);
    });
    if (serverBytes != localBytes) {
        std::fprintf(stderr, "server and in-process totals differ\n");
        return 1;
    }
    std::snprintf(note, sizeof note, "median of %d; %.2fx the in-process scan", scans,
                  viaServer.median / inProcess.median);
    Row("first scan through the server", viaServer.median / 1000.0, "ms", note);
    std::snprintf(note, sizeof note, "median of %d; reference", scans);
    Row("first scan in-process (same computation)", inProcess.median / 1000.0, "ms", note);

    // Per-call cost: a cached answer against a call that does nothing.
    unsigned __int64 bytes = 0;
    server->GetFolderSize(cleanText, &bytes);  // cached from here on
    UINT count = 0;
    Stats nullCall = Measure(1000, [&] { server->GetTypeInfoCount(&count); });
    Stats cached = Measure(1000, [&] { server->GetFolderSize(cleanText, &bytes); });
    std::snprintf(note, sizeof note, "p99 %.1f us; reference", nullCall.p99);
    Row("cross-process null call (GetTypeInfoCount)", nullCall.median, "us", note);
    std::snprintf(note, sizeof note, "p99 %.1f us; %.2fx the null call", cached.p99,
                  cached.median / nullCall.median);
    Row("cached GetFolderSize of a clean folder", cached.median, "us", note);

    SysFreeString(rootText);
    SysFreeString(cleanText);
    server->ReleaseServer();  // let the server end after this client
    server->Release();
    CoUninitialize();
    return 0;
}
