// The column provider: column descriptions, cell texts and the sizes behind them.
#include "folder_size.h"

#include <oleauto.h>

#include <cwchar>
#include <new>

#include "cache_client.h"
#include "com_ptr.h"
#include "descent_path.h"
#include "folder_listing.h"
#include "registry.h"
#include "scan_path.h"
#include "settings_store.h"
#include "size_format.h"
#include "unique_handle.h"

namespace tvn {
namespace {

// Item and parent paths.
constexpr size_t kItemPathChars = MAX_PATH;

constexpr wchar_t kSortSuffix[] = L" sorting column";
constexpr wchar_t kBarSuffix[] = L" %";

struct ColumnRow {
    DWORD pid;
    const wchar_t* suffix;
    const wchar_t* description;
    DWORD format;
    UINT widthChars;
};

constexpr ColumnRow kColumns[] = {
    {SizeColumn, L"", L"Shows file and folder sizes.", LVCFMT_RIGHT, 22},
    {SortColumn, kSortSuffix, L"Allows all-mode sorting.", LVCFMT_RIGHT, 22},
    {BarColumn, kBarSuffix, L"View disk space as a diagram.", LVCFMT_LEFT, 52},
};

// Text, shown, slow to compute.
constexpr DWORD kColumnFlags = SHCOLSTATE_TYPE_STR | SHCOLSTATE_ONBYDEFAULT | SHCOLSTATE_SLOW;

uint64_t FileSize(DWORD high, DWORD low) {
    return (static_cast<uint64_t>(high) << 32) + low;
}

// "Error code: 0x" and the code in upper-case hexadecimal without leading zeros.
void FormatErrorText(uint32_t code, wchar_t* out) {
    static constexpr wchar_t kPrefix[] = L"Error code: 0x";
    wmemcpy(out, kPrefix, std::size(kPrefix) - 1);
    wchar_t* cursor = out + std::size(kPrefix) - 1;
    wchar_t digits[8];
    int count = 0;
    do {
        digits[count++] = L"0123456789ABCDEF"[code & 0xF];
        code >>= 4;
    } while (code != 0);
    while (count > 0) {
        *cursor++ = digits[--count];
    }
    *cursor = 0;
}

// Copies a path of at most kItemPathChars units, terminator included; false when the given
// buffer holds no terminator within that length.
bool CopyItemPath(const wchar_t* source, wchar_t* out) {
    size_t length = wcsnlen(source, kItemPathChars);
    if (length == kItemPathChars) {
        return false;
    }
    wmemcpy(out, source, length + 1);
    return true;
}

}  // namespace

namespace {

// One level of the provider's own scan: unlistable folders count 0, and so do folders the
// request must not enter again.
uint64_t ScanLevel(const wchar_t* folder, const DescentLevel* up, RequestFolders& folders,
                   const FolderIdentity* known) {
    const size_t length = wcslen(folder);
    FolderListing listing;
    if (listing.Open(folder, length) != ERROR_SUCCESS) {
        return 0;
    }
    const DescentLevel level(folder, up, known);
    uint64_t total = 0;
    wchar_t subfolder[kScanPathChars];
    while (listing.Next()) {
        const WIN32_FIND_DATAW& entry = listing.Entry();
        if (!IsFolderEntry(entry)) {
            total += FileSizeOf(entry);
        } else if (JoinScanPath(subfolder, folder, length, entry.cFileName)) {
            const EntryCheck check = folders.Check(level, subfolder, IsLinkEntry(entry));
            if (check.Enters()) {
                total += ScanLevel(subfolder, &level, folders, check.Known());
            }
        }
    }
    return total;
}

}  // namespace

uint64_t ScanFolderSize(const wchar_t* folder) {
    RequestFolders folders;
    return ScanLevel(folder, nullptr, folders, nullptr);
}

bool ReadPadForPlainSort() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) {
        return true;
    }
#pragma GCC diagnostic pop
    if (version.dwMajorVersion < 5 || version.dwMinorVersion < 1) {
        return true;
    }
    static constexpr wchar_t kPolicyKey[] =
        L"Software\\Microsoft\\Windows\\Currentversion\\Policies\\Explorer";
    DWORD value = 0;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        OpenedKey key = OpenKey(root, kPolicyKey, KEY_READ);
        if (!key) {
            continue;
        }
        DWORD bytes = sizeof(value);
        if (RegQueryValueExW(key.key.get(), L"NoStrCmpLogical", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &bytes) == ERROR_SUCCESS) {
            return value != 0;
        }
    }
    return false;
}

// --- object life and identity ------------------------------------------------------------

// An Explorer object may still be released from another thread than its own (aggregating
// hosts do), so the count stays interlocked; every live object locks the module.
using FolderSizeObject = com::ComObject<FolderSize, com::InterlockedCount, com::LockWhileAlive>;

constexpr com::TypeLibrary kTypeLibrary{&LIBID_TVNLib, 1, 0, LOCALE_NEUTRAL};

FolderSize::FolderSize() : Dispatch(kTypeLibrary), padForPlainSort(ReadPadForPlainSort()) {}

HRESULT FolderSize::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    return FolderSizeObject::CreateInstance(outer, riid, ppv);
}

const com::InterfaceEntry* FolderSize::Interfaces() {
    static const com::InterfaceEntry table[] = {
        {&IID_IColumnProvider, com::InterfaceOffset<FolderSize, IColumnProvider>()},
        {&IID_IFolderSize, com::InterfaceOffset<FolderSize, IFolderSize>()},
        {&IID_IDispatch, com::InterfaceOffset<FolderSize, IFolderSize>()},
        {nullptr, 0},
    };
    return table;
}

// --- IColumnProvider ----------------------------------------------------------------------

STDMETHODIMP FolderSize::Initialize(LPCSHCOLUMNINIT) {
    return S_OK;
}

STDMETHODIMP FolderSize::GetColumnInfo(DWORD dwIndex, SHCOLUMNINFO* psci) {
    if (dwIndex >= std::size(kColumns)) {
        return S_FALSE;
    }
    if (psci == nullptr) {
        return E_POINTER;
    }
    const ColumnRow& row = kColumns[dwIndex];

    // The user's title, when it fits the title field (else the default); a title too long for
    // the suffix is cut so that title and suffix both show.
    SettingsStore::Settings titleRead;
    {
        UniqueHKey key = SettingsStore::OpenForRead(KEY_READ);
        SettingsStore::Read(key.get(), SettingsStore::kColumnTitleReads, titleRead);
    }
    const wchar_t* title = titleRead.columnTitle;
    size_t titleLength = wcslen(title);
    size_t suffixLength = wcslen(row.suffix);
    size_t room = MAX_COLUMN_NAME_LEN - 1 - suffixLength;
    if (titleLength > room) {
        titleLength = room;
    }

    psci->scid.fmtid = CLSID_FolderSize;
    psci->scid.pid = row.pid;
    psci->vt = VT_BSTR;
    psci->fmt = row.format;
    psci->cChars = row.widthChars;
    psci->csFlags = kColumnFlags;
    wmemcpy(psci->wszTitle, title, titleLength);
    wmemcpy(psci->wszTitle + titleLength, row.suffix, suffixLength + 1);
    wcsncpy(psci->wszDescription, row.description, MAX_COLUMN_DESC_LEN - 1);
    psci->wszDescription[MAX_COLUMN_DESC_LEN - 1] = 0;
    return S_OK;
}

STDMETHODIMP FolderSize::GetItemData(LPCSHCOLUMNID pscid, LPCSHCOLUMNDATA pscd, VARIANT* pvarData) {
    if (pscid == nullptr || pscd == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsEqualGUID(pscid->fmtid, CLSID_FolderSize)) {
        return S_FALSE;
    }
    {
        UniqueHKey key = SettingsStore::OpenForRead(KEY_READ);
        SettingsStore::Read(key.get(), SettingsStore::kColumnCellReads, settings_);
    }
    if (settings_.viewStyle == ViewStyle::Nothing) {
        return S_FALSE;
    }
    DWORD pid = pscid->pid;
    if (pid != SizeColumn && pid != SortColumn && pid != BarColumn) {
        return S_FALSE;
    }
    wchar_t path[kItemPathChars];
    if (!CopyItemPath(pscd->wszFile, path)) {
        return E_INVALIDARG;
    }

    wchar_t text[kCellTextChars] = {};
    ItemSize item = GetItemSize(path, pscd->dwFileAttributes, pid == BarColumn);
    if (pid == BarColumn) {
        if (!item.ok) {
            return S_FALSE;
        }
        // Nothing to show against an empty parent: the text stays empty.
        FormatBarText(item.size, item.parentSize, settings_.pbStyle, settings_.pbSymbol[0], text,
                      std::size(text));
    } else if (!item.ok) {
        if (item.code == 0) {
            return S_FALSE;
        }
        FormatErrorText(item.code, text);
    } else {
        if (pid == SizeColumn) {
            // A unit outside the known ones leaves the text empty.
            FormatSizeText(item.size, settings_.viewMetric, settings_.decimalDigits,
                           settings_.separator, text, std::size(text));
        } else {
            FormatSortText(item.size, text, std::size(text));
        }
        if (padForPlainSort && wcslen(text) < kPlainSortWidth) {
            PadForPlainSort(text, std::size(text));
        }
    }

    UniqueBstr value(text);
    if (!value) {
        return E_OUTOFMEMORY;
    }
    if (pvarData == nullptr) {
        return S_OK;  // nowhere to hand the text: it is dropped
    }
    VariantClear(pvarData);
    V_VT(pvarData) = VT_BSTR;
    V_BSTR(pvarData) = value.release();
    return S_OK;
}

// --- sizes --------------------------------------------------------------------------------

// Size of a folder from the cache server or, with the cache off, by walking it. False only
// when the cache server object cannot be created; `code` is then its HRESULT plus four.
bool FolderSize::FolderSizeOf(const wchar_t* folder, uint64_t& size, uint32_t& code) const {
    size = 0;
    if (settings_.enableCache != 1) {
        size = ScanFolderSize(folder);
        return true;
    }
    ComPtr<IFolderSizeCache> cache;
    HRESULT hr = ConnectCacheServer(cache);
    if (FAILED(hr)) {
        code = static_cast<uint32_t>(hr) + 4;
        return false;
    }
    // A copy that cannot be allocated goes as a null string; the server answers that itself.
    UniqueBstr copy(folder);
    unsigned __int64 answer = 0;
    cache->GetFolderSize(copy.get(), &answer);  // an error leaves what the server wrote, or 0
    cache.reset();
    copy.reset();
    size = answer;
    return true;
}

ItemSize FolderSize::GetItemSize(const wchar_t* path, DWORD attributes, bool wantParent) const {
    ItemSize result;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (settings_.viewStyle == ViewStyle::FilesOnly) {
            return result;
        }
        if (!FolderSizeOf(path, result.size, result.code)) {
            return result;
        }
    } else {
        if (settings_.viewStyle == ViewStyle::FoldersOnly) {
            return result;
        }
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
            result.size = FileSize(data.nFileSizeHigh, data.nFileSizeLow);
        } else {
            WIN32_FIND_DATAW found;
            UniqueFind search(FindFirstFileW(path, &found));
            if (!search) {
                result.code = GetLastError();
                return result;
            }
            result.size = FileSize(found.nFileSizeHigh, found.nFileSizeLow);
        }
    }
    if (wantParent) {
        // C:\Data\a.txt gives C:\Data, C:\Data gives C: (no trailing backslash).
        wchar_t parent[kItemPathChars];
        wmemcpy(parent, path, wcslen(path) + 1);
        if (wchar_t* cut = wcsrchr(parent, L'\\')) {
            *cut = 0;
        }
        if (!FolderSizeOf(parent, result.parentSize, result.code)) {
            result.size = 0;
            return result;
        }
    }
    result.ok = true;
    return result;
}

}  // namespace tvn
