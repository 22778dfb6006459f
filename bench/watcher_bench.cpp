// Change watcher benchmark, run under Wine by bench/run-watcher-bench.sh (never by the tests).
//
//   watcher_bench.exe TREE DEEP
//
// TREE is a folder on a fixed drive holding a large tree; DEEP is a folder 20 levels below it.
// Measures, with the drive root watched:
//   - a raw FindFirstFileW walk of TREE and the first cached scan of it;
//   - the latency from a file created inside this process to its folder's record being
//     marked, over 200 changes (median, p99);
//   - the recount of TREE after one file change in DEEP: folders listed and time.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "folder_cache_watcher.h"
#include "folder_tree_cache_probe.h"

namespace {

double Now() {
    return bench::NowSeconds();
}

struct WalkCount {
    uint64_t folders = 0;
    uint64_t files = 0;
};

void RawWalk(const std::wstring& path, WalkCount* count, std::vector<std::wstring>* leaves) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    ++count->folders;
    bool hasSubfolder = false;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ++count->files;
        } else if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) {
            hasSubfolder = true;
            RawWalk(path + L"\\" + data.cFileName, count, leaves);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    if (!hasSubfolder && leaves) {
        leaves->push_back(path);
    }
}

std::wstring Key(std::wstring path) {
    tvn::MakeFolderKey(path.data());
    path.resize(wcslen(path.c_str()));
    return path;
}

bool FilesDirty(tvn::FolderTreeCache& cache, const std::wstring& key) {
    tvn::FolderRecord record{};
    return tvn::FolderTreeCacheProbe(cache).PeekRecord(key, &record) && record.filesDirty;
}

// Creates an empty file; returns the time the create call returned.
double CreateEmptyFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    double created = Now();
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot create a file (error %lu)\n", GetLastError());
        ExitProcess(1);
    }
    CloseHandle(file);
    return created;
}

// Waits until the record of `key` is marked; false after 10 s.
bool WaitMarked(tvn::FolderTreeCache& cache, const std::wstring& key, double* markedAt) {
    const double deadline = Now() + 10.0;
    while (!FilesDirty(cache, key)) {
        if (Now() > deadline) {
            return false;
        }
        SwitchToThread();
    }
    *markedAt = Now();
    return true;
}

void WaitQuiet(tvn::FolderCacheWatcher& watcher) {
    while (watcher.RunningBatches() != 0) {
        SwitchToThread();
    }
}

using bench::Percentile;

uint64_t CachedSize(tvn::FolderTreeCache& cache, const std::wstring& path) {
    std::wstring buffer = path;
    uint64_t bytes = 0;
    if (cache.ComputeCachedSize(buffer.data(), nullptr, &bytes) != S_OK) {
        std::fprintf(stderr, "cached scan failed\n");
        ExitProcess(1);
    }
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: watcher_bench TREE DEEP\n");
        return 2;
    }
    const std::wstring tree = argv[1];
    const std::wstring deep = argv[2];
    std::wstring root = tree.substr(0, 2) + L"\\";

    // Raw walk, twice: the first warms the system's caches, the second is reported.
    WalkCount count;
    std::vector<std::wstring> leaves;
    RawWalk(tree, &count, &leaves);
    count = WalkCount{};
    double start = Now();
    RawWalk(tree, &count, nullptr);
    const double rawSeconds = Now() - start;

    tvn::FolderTreeCache cache;
    tvn::FolderCacheWatcher watcher(cache);
    if (watcher.AddDirectory(root.c_str()) != 0 || watcher.SetStopped(0) != 0) {
        std::fprintf(stderr, "cannot watch the drive root\n");
        return 1;
    }

    uint64_t listings = tvn::FolderTreeCacheProbe(cache).ListingCount();
    start = Now();
    const uint64_t total = CachedSize(cache, tree);
    const double firstScanSeconds = Now() - start;
    const uint64_t firstScanListings = tvn::FolderTreeCacheProbe(cache).ListingCount() - listings;

    // Latency: one new file per change, spread over the leaf folders.
    const int kChanges = 200;
    std::vector<double> latencies, createCalls;
    for (int i = 0; i < kChanges; ++i) {
        const std::wstring& folder = leaves[size_t(i) * 7919 % leaves.size()];
        const std::wstring key = Key(folder);
        const double before = Now();
        const double created = CreateEmptyFile(folder + L"\\latency-" + std::to_wstring(i));
        double marked = 0;
        if (!WaitMarked(cache, key, &marked)) {
            std::fprintf(stderr, "change %d was never marked\n", i);
            return 1;
        }
        createCalls.push_back(created - before);
        latencies.push_back(marked - created);
        WaitQuiet(watcher);
        CachedSize(cache, tree);  // clean again for the next change
    }

    // Recount after one change 20 levels down.
    const int kRecounts = 10;
    std::vector<double> recountTimes;
    std::vector<double> recountListings;
    const std::wstring deepKey = Key(deep);
    for (int i = 0; i < kRecounts; ++i) {
        CreateEmptyFile(deep + L"\\recount-" + std::to_wstring(i));
        double marked = 0;
        if (!WaitMarked(cache, deepKey, &marked)) {
            std::fprintf(stderr, "deep change %d was never marked\n", i);
            return 1;
        }
        WaitQuiet(watcher);
        listings = tvn::FolderTreeCacheProbe(cache).ListingCount();
        start = Now();
        CachedSize(cache, tree);
        recountTimes.push_back(Now() - start);
        recountListings.push_back(
            double(tvn::FolderTreeCacheProbe(cache).ListingCount() - listings));
    }

    std::printf("tree: %llu folders, %llu files (%llu entries), %llu bytes\n",
                (unsigned long long)count.folders, (unsigned long long)count.files,
                (unsigned long long)(count.folders + count.files), (unsigned long long)total);
    std::printf("| measurement | folders listed | time |\n|---|---:|---:|\n");
    std::printf("| raw FindFirstFileW walk (warm) | %llu | %.1f ms |\n",
                (unsigned long long)count.folders, rawSeconds * 1e3);
    std::printf("| first cached scan | %llu | %.1f ms |\n", (unsigned long long)firstScanListings,
                firstScanSeconds * 1e3);
    std::printf("| recount after one change at depth 20 (median of %d) | %.0f | %.3f ms |\n",
                kRecounts, Percentile(recountListings, 0.5), Percentile(recountTimes, 0.5) * 1e3);
    std::printf("| recount after one change at depth 20 (worst of %d) | %.0f | %.3f ms |\n",
                kRecounts, Percentile(recountListings, 1.0), Percentile(recountTimes, 1.0) * 1e3);
    std::printf("\n| change to marked record (%d changes) | median | p99 |\n|---|---:|---:|\n",
                kChanges);
    std::printf("| file created -> record marked | %.3f ms | %.3f ms |\n",
                Percentile(latencies, 0.5) * 1e3, Percentile(latencies, 0.99) * 1e3);
    std::printf("| the create call itself | %.3f ms | %.3f ms |\n",
                Percentile(createCalls, 0.5) * 1e3, Percentile(createCalls, 0.99) * 1e3);
    std::printf("lost reads during the run: %llu\n", (unsigned long long)watcher.LostReads());
    return 0;
}
