// Developer tool: prints the size of a folder and of every item in it, as the folder size
// cache computes them. Usage: folder_sizes FOLDER
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "folder_tree_cache.h"

namespace {

struct Item {
    std::wstring name;
    bool folder;
    uint64_t bytes;
    HRESULT hr;
};

const char* DriveTypeName(const std::wstring& path) {
    const wchar_t root[] = {path.empty() ? L'?' : path[0], L':', L'\\', 0};
    switch (GetDriveTypeW(root)) {
        case DRIVE_FIXED: return "fixed (cached)";
        case DRIVE_REMOTE: return "network (not cached)";
        case DRIVE_CDROM: return "optical (not cached)";
        case DRIVE_REMOVABLE: return "removable (not cached)";
        case DRIVE_RAMDISK: return "RAM disk (not cached)";
        default: return "unknown (not cached)";
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: folder_sizes FOLDER\n");
        return 2;
    }
    std::wstring folder = argv[1];
    while (folder.size() > 3 && folder.back() == L'\\') {
        folder.pop_back();
    }
    wchar_t root[] = {folder[0], L':', L'\\', 0};
    const bool cached = GetDriveTypeW(root) == DRIVE_FIXED;
    tvn::FolderTreeCache cache;

    auto compute = [&](const std::wstring& path, uint64_t* bytes) {
        std::wstring buffer = path;
        return cached ? cache.ComputeCachedSize(buffer.data(), nullptr, bytes)
                      : cache.ComputeUncachedSize(buffer.c_str(), bytes);
    };

    ULONGLONG start = GetTickCount64();
    uint64_t total = 0;
    HRESULT hr = compute(folder, &total);
    ULONGLONG scanMs = GetTickCount64() - start;
    const uint64_t listed = cache.ListingCount();

    std::vector<Item> items;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*.*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            Item item{name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, 0, S_OK};
            if (item.folder) {
                item.hr = compute(folder + L"\\" + name, &item.bytes);
            } else {
                item.bytes = (uint64_t(data.nFileSizeHigh) << 32) + data.nFileSizeLow;
            }
            items.push_back(item);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }

    std::printf("%ls  [%s drive]\n\n", folder.c_str(), DriveTypeName(folder));
    std::printf("%-40s %-8s %22s\n", "Name", "Type", "Size (bytes)");
    for (const auto& item : items) {
        if (FAILED(item.hr)) {
            std::printf("%-40ls %-8s %22s\n", item.name.c_str(), "folder", "cannot be listed");
        } else {
            std::printf("%-40ls %-8s %22llu\n", item.name.c_str(), item.folder ? "folder" : "file",
                        (unsigned long long)item.bytes);
        }
    }
    if (FAILED(hr)) {
        std::printf("\n%ls cannot be listed (0x%08lX)\n", folder.c_str(), (unsigned long)hr);
        return 1;
    }
    std::printf("\n%-49s %22llu\n", "Total", (unsigned long long)total);
    std::printf("\nfirst scan: %llu ms, %llu folders listed; the %zu item sizes after it came "
                "from %s.\n",
                (unsigned long long)scanMs, (unsigned long long)listed, items.size(),
                cached ? (cache.ListingCount() == listed ? "the cache alone" : "the cache and "
                                                                               "new listings")
                       : "fresh scans (this drive is not cached)");
    return 0;
}
