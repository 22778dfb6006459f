// Folder tree cache benchmark: prints a table of medians over several runs.
//
// Usage (under Wine, see bench/run-cache-bench.sh):
//   cache_bench ROOT DU_MS [CHANGE_FOLDER [DEEP_ROOT [NAMES16_ROOT]]]
//   ROOT           a folder of about 200,000 entries on a fixed drive
//   DU_MS          median time of `du -sb` on the same warm tree, measured by the script
//   CHANGE_FOLDER  a folder 20 levels below ROOT where one file is added for the recount
//   DEEP_ROOT      a tree of realistic depth (long paths) whose scan memory is measured too
//   NAMES16_ROOT   a tree of about 20,000 folders whose own names are all 16 characters long
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "folder_tree_cache.h"
#include "folder_tree_cache_probe.h"
#include "process_usage.h"

namespace {

using tvn::FolderTreeCache;

double NowMs() {
    return bench::NowSeconds() * 1000.0;
}

double Median(const std::vector<double>& values) {
    return bench::Percentile(values, 0.5);
}

// Times `run` `count` times; returns the median in milliseconds.
double MedianMs(int count, const std::function<void()>& run) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        double start = NowMs();
        run();
        times.push_back(NowMs() - start);
    }
    return Median(times);
}

// A plain FindFirstFileW walk of the same tree: the floor any scan under Wine pays.
void RawWalk(const std::wstring& path, uint64_t* bytes, uint64_t* folders, uint64_t* entries) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    ++*folders;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) {
                ++*entries;
                RawWalk(path + L"\\" + data.cFileName, bytes, folders, entries);
            }
        } else {
            ++*entries;
            *bytes += (uint64_t(data.nFileSizeHigh) << 32) + data.nFileSizeLow;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

uint64_t Cached(FolderTreeCache& cache, const std::wstring& path) {
    std::wstring buffer = path;
    uint64_t bytes = 0;
    cache.ComputeCachedSize(buffer.data(), nullptr, &bytes);
    return bytes;
}

std::wstring Lower(std::wstring text) {
    tvn::MakeFolderKey(text.data());
    return std::wstring(text.c_str());
}

// One first-level folder of the big table: itself, 100 folders below it and 99 below each of
// those (10,001 records).
std::wstring PreloadSubtree(FolderTreeCache& cache, int index) {
    std::wstring a = L"x:\\bench\\folder-" + std::to_wstring(index);
    tvn::FolderTreeCacheProbe(cache).Preload(a, L"x:\\bench", 1);
    for (int j = 0; j < 100; ++j) {
        std::wstring b = a + L"\\subfolder-" + std::to_wstring(j);
        tvn::FolderTreeCacheProbe(cache).Preload(b, a, 1);
        for (int k = 0; k < 99; ++k) {
            tvn::FolderTreeCacheProbe(cache).Preload(b + L"\\leaf-" + std::to_wstring(k), b, 1);
        }
    }
    return a;
}

// A table of 1,000,101 records.
void PreloadMillion(FolderTreeCache& cache) {
    tvn::FolderTreeCacheProbe(cache).Preload(L"x:\\bench", L"", 0);
    for (int i = 0; i < 100; ++i) {
        PreloadSubtree(cache, i);
    }
}

// Folder count and the average length of folder keys and of folders' own names.
struct TreeShape {
    uint64_t folders = 0;
    uint64_t keyChars = 0;
    uint64_t nameChars = 0;
};

void Shape(const std::wstring& path, size_t nameLength, TreeShape* shape) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    ++shape->folders;
    shape->keyChars += path.size();
    shape->nameChars += nameLength;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && wcscmp(data.cFileName, L".") &&
            wcscmp(data.cFileName, L"..")) {
            Shape(path + L"\\" + data.cFileName, wcslen(data.cFileName), shape);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

void Row(const char* what, double value, const char* unit, const char* note = "");

// Committed private memory per record after one first cached scan of `root` into an empty
// cache, against the goal of the record's own name bytes plus 64 bytes.
void ScanMemoryRow(const char* what, const std::wstring& root) {
    TreeShape shape;
    size_t cut = root.rfind(L'\\');
    Shape(root, cut == std::wstring::npos ? root.size() : root.size() - cut - 1, &shape);
    const size_t before = tvn::tools::CommittedPrivateBytes(GetCurrentProcess());
    auto* cache = new FolderTreeCache;
    Cached(*cache, root);
    const size_t after = tvn::tools::CommittedPrivateBytes(GetCurrentProcess());
    const size_t records = tvn::FolderTreeCacheProbe(*cache).RecordCount();
    delete cache;
    const double folders = double(shape.folders);
    const double nameBytes = 2.0 * double(shape.nameChars) / folders;
    char note[200];
    std::snprintf(note, sizeof note,
                  "%zu records; keys avg %.1f chars, own names avg %.1f chars = %.1f B; "
                  "goal <= %.1f B",
                  records, double(shape.keyChars) / folders, double(shape.nameChars) / folders,
                  nameBytes, nameBytes + 64.0);
    Row(what, double(after - before) / double(records ? records : 1), "B", note);
}

void Row(const char* what, double value, const char* unit, const char* note) {
    std::printf("| %-58s | %12.3f %-3s | %s\n", what, value, unit, note);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: cache_bench ROOT DU_MS [CHANGE_FOLDER [DEEP_ROOT [NAMES16_ROOT]]]\n");
        return 2;
    }
    const std::wstring root = argv[1];
    const double duMs = _wtof(argv[2]);
    const std::wstring changeFolder = argc > 3 ? argv[3] : L"";
    const std::wstring deepRoot = argc > 4 ? argv[4] : L"";
    const std::wstring names16Root = argc > 5 ? argv[5] : L"";
    const int runs = 5;

    uint64_t rawBytes = 0, folders = 0, entries = 0;
    RawWalk(root, &rawBytes, &folders, &entries);  // warms the tree, counts it
    std::printf("tree: %llu folders, %llu entries, %llu bytes; medians of %d runs\n\n",
                (unsigned long long)folders, (unsigned long long)entries,
                (unsigned long long)rawBytes, runs);
    std::printf("| %-58s | %16s | %s\n", "measure", "value", "note");
    std::printf("|%s|%s|%s\n", std::string(60, '-').c_str(), std::string(18, '-').c_str(),
                "------");

    const double rawMs = MedianMs(runs, [&] {
        uint64_t b = 0, f = 0, e = 0;
        RawWalk(root, &b, &f, &e);
    });
    char note[160];
    Row("du -sb of the same tree (Linux, warm)", duMs, "ms", "reference");
    std::snprintf(note, sizeof note, "%.1fx du", rawMs / duMs);
    Row("raw FindFirstFileW walk", rawMs, "ms", note);

    FolderTreeCache scratch;
    const double uncachedMs = MedianMs(runs, [&] {
        uint64_t bytes = 0;
        scratch.ComputeUncachedSize(root.c_str(), &bytes);
    });
    std::snprintf(note, sizeof note, "%.1fx du, %.2fx raw walk", uncachedMs / duMs,
                  uncachedMs / rawMs);
    Row("uncached scan", uncachedMs, "ms", note);

    const double firstCachedMs = MedianMs(runs, [&] {
        FolderTreeCache cache;
        Cached(cache, root);
    });
    std::snprintf(note, sizeof note, "%.1fx du, %.2fx raw walk", firstCachedMs / duMs,
                  firstCachedMs / rawMs);
    Row("first cached scan (empty cache)", firstCachedMs, "ms", note);

    FolderTreeCache cache;
    const uint64_t total = Cached(cache, root);
    std::vector<double> queries;
    for (int i = 0; i < 1000; ++i) {
        double start = NowMs();
        Cached(cache, root);
        queries.push_back((NowMs() - start) * 1000.0);
    }
    std::snprintf(note, sizeof note, "p99 %.2f us, %.0fx faster than the first scan",
                  bench::Percentile(queries, 0.99), firstCachedMs * 1000.0 / Median(queries));
    Row("cached re-query of a clean tree", Median(queries), "us", note);

    if (!changeFolder.empty()) {
        std::vector<double> recounts;
        uint64_t listed = 0;
        for (int i = 0; i < runs; ++i) {
            std::wstring file = changeFolder + L"\\changed-" + std::to_wstring(i) + L".bin";
            HANDLE h =
                CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            WriteFile(h, "x", 1, &written, nullptr);
            CloseHandle(h);
            cache.MarkContainingFolder(Lower(file));  // what the watcher does for the change
            uint64_t before = tvn::FolderTreeCacheProbe(cache).ListingCount();
            double start = NowMs();
            uint64_t after = Cached(cache, root);
            recounts.push_back(NowMs() - start);
            listed = tvn::FolderTreeCacheProbe(cache).ListingCount() - before;
            if (after != total + 1) {
                std::fprintf(
                    stderr, "recount gave %llu, expected %llu (listed %llu)\n",
                    (unsigned long long)after, (unsigned long long)(total + 1),
                    (unsigned long long)(tvn::FolderTreeCacheProbe(cache).ListingCount() - before));
                return 1;
            }
            DeleteFileW(file.c_str());
            cache.MarkContainingFolder(Lower(file));
            Cached(cache, root);
        }
        std::snprintf(note, sizeof note, "%llu folders listed; %.0fx faster than the first scan",
                      (unsigned long long)listed, firstCachedMs / Median(recounts));
        Row("recount after one file change at depth 20", Median(recounts), "ms", note);
    }

    {
        const size_t before = tvn::tools::CommittedPrivateBytes(GetCurrentProcess());
        FolderTreeCache big;
        PreloadMillion(big);
        const size_t records = tvn::FolderTreeCacheProbe(big).RecordCount();
        const double perRecord =
            double(tvn::tools::CommittedPrivateBytes(GetCurrentProcess()) - before) /
            double(records);
        std::vector<double> drops;
        for (int i = 0; i < runs; ++i) {
            std::wstring victim = L"x:\\bench\\folder-" + std::to_wstring(i);
            double start = NowMs();
            big.DropFolder(victim);
            drops.push_back(NowMs() - start);
            PreloadSubtree(big, i);  // put it back for the next run
        }
        std::snprintf(note, sizeof note, "10,001 of %zu records", records);
        Row("drop a 10,000-record subtree", Median(drops), "ms", note);
        std::snprintf(note, sizeof note, "keys of %zu-%zu characters", size_t(8),
                      wcslen(L"x:\\bench\\folder-99\\subfolder-99\\leaf-98"));
        Row("memory per cached record", perRecord, "B", note);
    }
    ScanMemoryRow("memory per record, scan of the benchmark tree", root);
    if (!deepRoot.empty()) {
        ScanMemoryRow("memory per record, scan of the deep tree", deepRoot);
    }
    if (!names16Root.empty()) {
        ScanMemoryRow("memory per record, scan of the 16-char-name tree", names16Root);
    }
    return 0;
}
