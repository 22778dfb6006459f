// Cache server benchmark: what a client pays per call across processes, and what the first
// scan costs through the server compared with the same scan in-process.
//
// It also reads the server's private bytes from outside (tools/process_usage.h) around the first
// scan of each tree, and times, in this process, the pieces of work the server does for one
// cached call, to show where the time of a cached call goes.
//
// Usage (under Wine, see bench/run-server-bench.sh):
//   server_bench ROOT CLEAN_FOLDER [DEEP_ROOT [NAMES16_ROOT]]
// NAMES16_ROOT is a tree whose folders all have 16-character names, measured into an emptied
// table against the memory goal. The server must be registered ("TVN Cache.exe" /RegServer).
#include <windows.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "folder_size_cache.h"
#include "folder_tree_cache.h"
#include "process_usage.h"
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

// Mean time of one run of `call`, over `count` runs timed together (for sub-microsecond work).
template <typename Call>
double MeanUs(int count, Call call) {
    double start = NowUs();
    for (int i = 0; i < count; ++i) {
        call();
    }
    return (NowUs() - start) / count;
}

// Counts the folders of a tree and the characters of their own names.
void CountFolders(const std::wstring& path, size_t nameLength, uint64_t* folders,
                  uint64_t* nameChars) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    ++*folders;
    *nameChars += nameLength;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && wcscmp(data.cFileName, L".") &&
            wcscmp(data.cFileName, L"..")) {
            CountFolders(path + L"\\" + data.cFileName, wcslen(data.cFileName), folders, nameChars);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

// Threads of the process `processId`, or -1 when they cannot be listed.
int ThreadCount(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == processId;
    }
    CloseHandle(snapshot);
    return count;
}

// The server's private bytes grow by this much per folder in its first scan of `root`. With
// `goal`, the note gives the goal: the folders' own name bytes on average plus 64 bytes.
void ServerMemoryRow(IFolderSizeCache* server, HANDLE process, const char* what,
                     const std::wstring& root, bool goal = false) {
    uint64_t folders = 0, nameChars = 0;
    CountFolders(root, root.size() - root.rfind(L'\\') - 1, &folders, &nameChars);
    BSTR text = SysAllocString(root.c_str());
    unsigned __int64 bytes = 0;
    const DWORD processId = GetProcessId(process);
    const int threads = ThreadCount(processId);
    const double before = double(tvn::tools::UsageOf(process).privateBytes);
    server->GetFolderSize(text, &bytes);
    // A long call leaves a thread of the COM runtime running in the server for a while after
    // it (under Wine its stack alone commits 2 MB, whatever the tree): the figure is read once
    // the server is back to the threads it had before the call, or after 10 s.
    int threadsAfter = ThreadCount(processId);
    for (int wait = 0; wait < 200 && threadsAfter > threads; ++wait) {
        Sleep(50);
        threadsAfter = ThreadCount(processId);
    }
    const tvn::tools::ProcessUsage usage = tvn::tools::UsageOf(process);
    const double after = double(usage.privateBytes);
    const char* how = usage.privateFrom;
    SysFreeString(text);
    char note[200];
    int length = std::snprintf(note, sizeof note, "%llu folders; %.1f -> %.1f MB (%s), threads %d",
                               (unsigned long long)folders, before / 1048576.0, after / 1048576.0,
                               how, threadsAfter);
    if (goal && folders) {
        const double nameBytes = 2.0 * double(nameChars) / double(folders);
        std::snprintf(note + length, sizeof note - length, "; names %.1f B, goal <= %.1f B",
                      nameBytes, nameBytes + 64.0);
    }
    Row(what, (after - before) / double(folders ? folders : 1), "B", note);
}

// Where the time of one cached call goes: each piece of the server's work for it, timed in
// this process on the same folder (the table holds it, clean).
void CallBreakdown(const std::wstring& clean) {
    tvn::FolderSizeCache* object = nullptr;
    if (FAILED(tvn::FolderSizeCache::Create(&object))) {
        return;
    }
    uint64_t bytes = 0;
    object->ComputeSize(clean.c_str(), &bytes);
    const int n = 20000;
    const wchar_t root[] = {clean[0], L':', L'\\', 0};
    volatile UINT sink = 0;
    const double driveType = MeanUs(n, [&] { sink = sink + GetDriveTypeW(root); });
    const double copyFold = MeanUs(n, [&] {
        std::wstring key = clean;
        tvn::MakeFolderKey(key.data());
        sink = sink + key[0];
    });
    const double lookup = MeanUs(n, [&] {
        std::wstring key = clean;
        object->Cache().ComputeCachedSize(key.data(), nullptr, &bytes);
    });
    const double bstr = MeanUs(n, [&] {
        BSTR text = SysAllocString(clean.c_str());
        sink = sink + text[0];
        SysFreeString(text);
    });
    BSTR text = SysAllocString(clean.c_str());
    unsigned __int64 size = 0;
    const double method = MeanUs(n, [&] { object->GetFolderSize(text, &size); });
    SysFreeString(text);
    object->Release();
    Row("in the server: drive type query (GetDriveTypeW)", driveType, "us", "");
    Row("in the server: key copy and folding", copyFold, "us", "");
    Row("in the server: copy, folding, lock and lookup", lookup, "us", "");
    Row("in the server: BSTR made and freed by the stub", bstr, "us", "");
    Row("in the server: whole GetFolderSize method", method, "us", "in-process call");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: server_bench ROOT CLEAN_FOLDER [DEEP_ROOT [NAMES16_ROOT]]\n");
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

    // Memory: the first scan of each tree into the fresh server, read from outside.
    if (HANDLE process = tvn::tools::OpenProcessNamed(
            L"TVN Cache.exe", PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)) {
        if (argc > 3) {
            ServerMemoryRow(server, process, "server private bytes per folder, deep tree", argv[3]);
        }
        ServerMemoryRow(server, process, "server private bytes per folder, benchmark tree", root);
        if (argc > 4) {
            // Into an emptied table, so that its chains grow for this tree alone; the server's
            // heaps have grown for the scans above already.
            server->ResetCache();
            ServerMemoryRow(server, process, "server private bytes per folder, 16-char names",
                            argv[4], true);
            // The same again: the reset gives the table's memory back, and the same scan costs
            // the same.
            server->ResetCache();
            ServerMemoryRow(server, process, "16-char names, scanned again into an emptied table",
                            argv[4], true);
        }
        CloseHandle(process);
    } else {
        std::fprintf(stderr, "the server's process was not found\n");
    }

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
    // The same call with an empty path: answered E_INVALIDARG before any work, so what it costs
    // is the marshalling of the call's arguments alone.
    BSTR emptyText = SysAllocString(L"");
    Stats empty = Measure(1000, [&] { server->GetFolderSize(emptyText, &bytes); });
    SysFreeString(emptyText);
    std::snprintf(note, sizeof note, "p99 %.1f us; reference", nullCall.p99);
    Row("cross-process null call (GetTypeInfoCount)", nullCall.median, "us", note);
    std::snprintf(note, sizeof note, "p99 %.1f us; %.2fx the null call", cached.p99,
                  cached.median / nullCall.median);
    Row("cached GetFolderSize of a clean folder", cached.median, "us", note);
    std::snprintf(note, sizeof note, "p99 %.1f us; %.2fx the null call", empty.p99,
                  empty.median / nullCall.median);
    Row("GetFolderSize of an empty path (marshalling only)", empty.median, "us", note);
    CallBreakdown(clean);

    SysFreeString(rootText);
    SysFreeString(cleanText);
    server->ReleaseServer();  // let the server end after this client
    server->Release();
    CoUninitialize();
    return 0;
}
