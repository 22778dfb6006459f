// Column provider benchmark: the cost of one size cell of a cached folder through TVN.dll's
// FolderSize (settings read, server object created, one cross-process call, released, text
// formatted) against a raw cross-process GetFolderSize on a kept server object in the same
// run, and the cost of the settings read that every cell makes.
//   columns_bench FOLDER
// TVN.dll and TVN Cache.exe must be registered. Prints medians and 99th percentiles.
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cache_client.h"
#include "folder_size.h"
#include "settings_store.h"

namespace {

struct Stats {
    double median = 0, p99 = 0;
};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

Stats Measure(int runs, const std::function<bool()>& body, bool& ok) {
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        ok = body() && ok;
        samples.push_back(Now() - start);
    }
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

void Row(const char* name, Stats stats, const std::string& note) {
    std::printf("| %-52s | %12.1f us | %10.1f us | %s\n", name, stats.median, stats.p99,
                note.c_str());
}

// What the provider reads for every cell: one key open and seven value reads.
bool ReadCellSettings() {
    namespace S = tvn::SettingsStore;
    tvn::UniqueHKey key = S::OpenForRead(KEY_READ);
    int64_t value = 0;
    wchar_t symbol[2] = {};
    value += S::ReadInteger(key.get(), S::kViewStyle, 0);
    value += S::ReadInteger(key.get(), S::kViewMetric, 1);
    value += S::ReadCharacter(key.get(), S::kSeparator, L' ', 1);
    value += S::ReadInteger(key.get(), S::kDecimalDigits, 0);
    value += S::ReadInteger(key.get(), S::kEnableCache, 1);
    value += S::ReadInteger(key.get(), S::kPB_Style, 0);
    S::ReadBytes(key.get(), S::kPB_Symbol, symbol, sizeof(symbol));
    return value >= 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: columns_bench FOLDER\n");
        return 1;
    }
    const std::wstring folder = argv[1];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RegDeleteTreeW(HKEY_CURRENT_USER, tvn::SettingsStore::kKeyPath);

    IColumnProvider* provider = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FolderSize, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IColumnProvider, reinterpret_cast<void**>(&provider));
    if (FAILED(hr)) {
        std::fprintf(stderr, "FolderSize cannot be created: 0x%08lX\n", hr);
        return 2;
    }
    // Without a working cache server only the rows that need none are measured.
    IFolderSizeCache* kept = nullptr;
    HRESULT serverResult = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                            IID_IFolderSizeCache, reinterpret_cast<void**>(&kept));

    SHCOLUMNID column{CLSID_FolderSize, tvn::SizeColumn};
    // One size cell of `item` through the provider, as Explorer asks it.
    std::wstring cellText;
    auto cellOf = [&](const std::wstring& item, DWORD attributes) {
        return [&, item, attributes] {
            SHCOLUMNDATA data{};
            data.dwFileAttributes = attributes;
            lstrcpynW(data.wszFile, item.c_str(), MAX_PATH);
            VARIANT value;
            VariantInit(&value);
            bool ok = provider->GetItemData(&column, &data, &value) == S_OK;
            if (ok) {
                cellText = V_BSTR(&value);
            }
            VariantClear(&value);
            return ok;
        };
    };
    BSTR path = SysAllocString(folder.c_str());
    unsigned __int64 bytes = 0;
    auto rawCall = [&] { return SUCCEEDED(kept->GetFolderSize(path, &bytes)); };
    auto rawCreateCall = [&] {
        IFolderSizeCache* cache = nullptr;
        if (FAILED(CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_IFolderSizeCache, reinterpret_cast<void**>(&cache)))) {
            return false;
        }
        unsigned __int64 size = 0;
        bool ok = SUCCEEDED(cache->GetFolderSize(path, &size));
        cache->Release();
        return ok;
    };

    const int runs = 300;
    bool ok = true;
    Stats raw, rawCreate, folderCell;
    std::wstring folderText;
    if (SUCCEEDED(serverResult)) {
        rawCall();  // the first question fills the cache; every later one is answered from it
        raw = Measure(runs, rawCall, ok);
        rawCreate = Measure(runs, rawCreateCall, ok);
        folderCell = Measure(runs, cellOf(folder, FILE_ATTRIBUTE_DIRECTORY), ok);
        folderText = cellText;
    }
    // A file cell: the same path through the provider without the server.
    std::wstring file;
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                    file = folder + L"\\" + found.cFileName;
                    break;
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    Stats fileCell;
    if (!file.empty()) {
        fileCell = Measure(runs, cellOf(file, FILE_ATTRIBUTE_ARCHIVE), ok);
    }
    Stats settingsAbsent = Measure(20000, ReadCellSettings, ok);
    {
        namespace S = tvn::SettingsStore;
        tvn::UniqueHKey key = S::CreateForWrite();
        S::WriteInteger(key.get(), S::kViewStyle, 0);
        S::WriteInteger(key.get(), S::kViewMetric, 1);
        S::WriteCharacter(key.get(), S::kSeparator, L' ');
        S::WriteInteger(key.get(), S::kDecimalDigits, 0);
        S::WriteInteger(key.get(), S::kEnableCache, 1);
        S::WriteInteger(key.get(), S::kPB_Style, 0);
        S::WriteCharacter(key.get(), S::kPB_Symbol, L'\x2022');
    }
    Stats settingsPresent = Measure(20000, ReadCellSettings, ok);
    RegDeleteTreeW(HKEY_CURRENT_USER, tvn::SettingsStore::kKeyPath);

    std::printf("folder %ls: %llu bytes, size cell \"%ls\"; %d runs each (settings: 20000)\n",
                folder.c_str(), bytes, folderText.c_str(), runs);
    if (FAILED(serverResult)) {
        std::printf("cache server not available (0x%08lX): folder rows not measured\n",
                    static_cast<unsigned long>(serverResult));
    }
    std::printf("\n| %-52s | %15s | %13s | %s\n", "measure", "median", "p99", "note");
    std::printf("|%s|%s|%s|------\n", std::string(54, '-').c_str(), std::string(17, '-').c_str(),
                std::string(15, '-').c_str());
    char note[160];
    const double reference = SUCCEEDED(serverResult) ? folderCell.median : fileCell.median;
    if (SUCCEEDED(serverResult)) {
        Row("raw GetFolderSize on a kept server object", raw, "reference");
        std::snprintf(note, sizeof(note), "%.1fx raw", rawCreate.median / raw.median);
        Row("raw create + GetFolderSize + release", rawCreate, note);
        std::snprintf(note, sizeof(note), "%.1fx raw, %.2fx create+call",
                      folderCell.median / raw.median, folderCell.median / rawCreate.median);
        Row("folder size cell through FolderSize::GetItemData", folderCell, note);
    }
    if (!file.empty()) {
        Row("file size cell through FolderSize::GetItemData", fileCell, "no server call");
    }
    std::snprintf(note, sizeof(note), "%.1f%% of a %s cell",
                  100 * settingsAbsent.median / reference,
                  SUCCEEDED(serverResult) ? "folder" : "file");
    Row("per-cell settings read, no settings key", settingsAbsent, note);
    std::snprintf(note, sizeof(note), "%.1f%% of a %s cell",
                  100 * settingsPresent.median / reference,
                  SUCCEEDED(serverResult) ? "folder" : "file");
    Row("per-cell settings read, all seven values stored", settingsPresent, note);

    SysFreeString(path);
    if (kept != nullptr) {
        kept->Release();
    }
    provider->Release();
    CoUninitialize();
    return ok ? 0 : 3;
}
