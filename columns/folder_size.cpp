// The column provider: column descriptions, cell texts and the sizes behind them.
#include "folder_size.h"

#include <oleauto.h>

#include <cwchar>
#include <new>

#include "cache_client.h"
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

uint64_t ScanFolderSize(const wchar_t* folder) {
    wchar_t pattern[kScanPathChars];
    if (!JoinScanPath(pattern, folder, wcslen(folder), L"*.*")) {
        return 0;
    }
    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW(pattern, &entry));
    if (!search) {
        return 0;
    }
    uint64_t total = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            total += FileSize(entry.nFileSizeHigh, entry.nFileSizeLow);
        } else if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) {
            // The 520-unit path limit also bounds the depth of folders entered through links.
            wchar_t subfolder[kScanPathChars];
            if (JoinScanPath(subfolder, folder, wcslen(folder), entry.cFileName)) {
                total += ScanFolderSize(subfolder);
            }
        }
    } while (FindNextFileW(search.get(), &entry));
    return total;
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
        HKEY raw = nullptr;
        if (RegOpenKeyExW(root, kPolicyKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
            continue;
        }
        UniqueHKey key(raw);
        DWORD bytes = sizeof(value);
        if (RegQueryValueExW(key.get(), L"NoStrCmpLogical", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &bytes) == ERROR_SUCCESS) {
            return value != 0;
        }
    }
    return false;
}

// --- object life and identity ------------------------------------------------------------

FolderSize::FolderSize(IUnknown* outer)
    : inner_(this),
      controlling_(outer != nullptr ? outer : &inner_),
      padForPlainSort(ReadPadForPlainSort()) {
    com::ModuleLock::Lock();
}

FolderSize::~FolderSize() {
    if (typeInfo_ != nullptr) {
        typeInfo_->Release();
    }
    com::ModuleLock::Unlock();
}

HRESULT FolderSize::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    auto* object = new (std::nothrow) FolderSize(outer);
    if (object == nullptr) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = object->inner_.QueryInterface(riid, ppv);
    object->inner_.Release();  // the creator's reference: the object lives on through *ppv
    return hr;
}

// The inner IUnknown answers IUnknown with itself; every other interface delegates its
// reference counting to the controlling unknown, as aggregation requires.
STDMETHODIMP FolderSize::Inner::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown)) {
        AddRef();
        *ppv = static_cast<IUnknown*>(this);
        return S_OK;
    }
    static const com::InterfaceEntry table[] = {
        {&IID_IColumnProvider, com::InterfaceOffset<FolderSize, IColumnProvider>()},
        {&kIidFolderSize, com::InterfaceOffset<FolderSize, IFolderSize>()},
        {&IID_IDispatch, com::InterfaceOffset<FolderSize, IFolderSize>()},
        {nullptr, 0},
    };
    return com::QueryInterfaceFromTable(self_, table, riid, ppv);
}

STDMETHODIMP_(ULONG) FolderSize::Inner::AddRef() {
    return static_cast<ULONG>(self_->refs_.Increment());
}

STDMETHODIMP_(ULONG) FolderSize::Inner::Release() {
    FolderSize* self = self_;
    LONG left = self->refs_.Decrement();
    if (left == 0) {
        delete self;
    }
    return static_cast<ULONG>(left);
}

STDMETHODIMP FolderSize::QueryInterface(REFIID riid, void** ppv) {
    return controlling_->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) FolderSize::AddRef() {
    return controlling_->AddRef();
}
STDMETHODIMP_(ULONG) FolderSize::Release() {
    return controlling_->Release();
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

    // The user's title, when it fits the title field; a title too long for the suffix is cut
    // so that title and suffix both show. No exception may leave the COM method: without
    // memory for the title the call fails with E_OUTOFMEMORY.
    std::wstring title;
    try {
        UniqueHKey key = SettingsStore::OpenForRead(KEY_READ);
        title = SettingsStore::ReadText(key.get(), SettingsStore::kColumnTitle, kDefaultTitle,
                                        MAX_COLUMN_NAME_LEN);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    size_t suffixLength = wcslen(row.suffix);
    size_t room = MAX_COLUMN_NAME_LEN - 1 - suffixLength;
    if (title.size() > room) {
        title.resize(room);
    }

    psci->scid.fmtid = kClsidFolderSize;
    psci->scid.pid = row.pid;
    psci->vt = VT_BSTR;
    psci->fmt = row.format;
    psci->cChars = row.widthChars;
    psci->csFlags = kColumnFlags;
    wmemcpy(psci->wszTitle, title.c_str(), title.size());
    wmemcpy(psci->wszTitle + title.size(), row.suffix, suffixLength + 1);
    wcsncpy(psci->wszDescription, row.description, MAX_COLUMN_DESC_LEN - 1);
    psci->wszDescription[MAX_COLUMN_DESC_LEN - 1] = 0;
    return S_OK;
}

void FolderSize::ReadSettings() {
    namespace S = SettingsStore;
    UniqueHKey key = S::OpenForRead(KEY_READ);
    HKEY k = key.get();
    ViewStyle = S::ReadInteger(k, S::kViewStyle, ViewStyle);
    ViewMetric = S::ReadInteger(k, S::kViewMetric, ViewMetric);
    Separator = S::ReadCharacter(k, S::kSeparator, Separator, 1);
    DecimalDigits = S::ReadInteger(k, S::kDecimalDigits, DecimalDigits);
    EnableCache = S::ReadInteger(k, S::kEnableCache, EnableCache);
    PB_Style = S::ReadInteger(k, S::kPB_Style, PB_Style);
    S::ReadBytes(k, S::kPB_Symbol, PB_Symbol, sizeof(PB_Symbol));
}

STDMETHODIMP FolderSize::GetItemData(LPCSHCOLUMNID pscid, LPCSHCOLUMNDATA pscd, VARIANT* pvarData) {
    if (pscid == nullptr || pscd == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsEqualGUID(pscid->fmtid, kClsidFolderSize)) {
        return S_FALSE;
    }
    ReadSettings();
    if (ViewStyle == static_cast<int64_t>(tvn::ViewStyle::Nothing)) {
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
        FormatBarText(item.size, item.parentSize, PB_Style, PB_Symbol[0], text, std::size(text));
    } else if (!item.ok) {
        if (item.code == 0) {
            return S_FALSE;
        }
        FormatErrorText(item.code, text);
    } else {
        if (pid == SizeColumn) {
            // A unit outside the known ones leaves the text empty.
            FormatSizeText(item.size, ViewMetric, DecimalDigits, Separator, text, std::size(text));
        } else {
            FormatSortText(item.size, text, std::size(text));
        }
        if (padForPlainSort && wcslen(text) < kPlainSortWidth) {
            PadForPlainSort(text, std::size(text));
        }
    }

    BSTR value = SysAllocString(text);
    if (value == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (pvarData == nullptr) {
        SysFreeString(value);
        return S_OK;
    }
    VariantClear(pvarData);
    V_VT(pvarData) = VT_BSTR;
    V_BSTR(pvarData) = value;
    return S_OK;
}

// --- sizes --------------------------------------------------------------------------------

// Size of a folder from the cache server or, with the cache off, by walking it. False only
// when the cache server object cannot be created; `code` is then its HRESULT plus four.
bool FolderSize::FolderSizeOf(const wchar_t* folder, uint64_t& size, uint32_t& code) const {
    size = 0;
    if (EnableCache != 1) {
        size = ScanFolderSize(folder);
        return true;
    }
    FolderSizeCacheClient* cache = nullptr;
    HRESULT hr = CoCreateInstance(kClsidFolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                  kIidFolderSizeCache, reinterpret_cast<void**>(&cache));
    if (FAILED(hr) || cache == nullptr) {
        code = static_cast<uint32_t>(hr) + 4;
        return false;
    }
    // A copy that cannot be allocated goes as a null string; the server answers that itself.
    BSTR copy = SysAllocString(folder);
    unsigned __int64 answer = 0;
    cache->GetFolderSize(copy, &answer);  // an error leaves what the server wrote, or 0
    cache->Release();
    SysFreeString(copy);
    size = answer;
    return true;
}

ItemSize FolderSize::GetItemSize(const wchar_t* path, DWORD attributes, bool wantParent) const {
    ItemSize result;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (ViewStyle == static_cast<int64_t>(tvn::ViewStyle::FilesOnly)) {
            return result;
        }
        if (!FolderSizeOf(path, result.size, result.code)) {
            return result;
        }
    } else {
        if (ViewStyle == static_cast<int64_t>(tvn::ViewStyle::FoldersOnly)) {
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

// --- IDispatch ----------------------------------------------------------------------------

HRESULT FolderSize::LoadTypeInfo() {
    if (typeInfo_ != nullptr) {
        return S_OK;
    }
    ITypeLib* library = nullptr;
    HRESULT hr = LoadRegTypeLib(kLibidTVNLib, 1, 0, LOCALE_NEUTRAL, &library);
    if (FAILED(hr)) {
        return hr;
    }
    hr = library->GetTypeInfoOfGuid(kIidFolderSize, &typeInfo_);
    library->Release();
    return hr;
}

STDMETHODIMP FolderSize::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) {
        return E_POINTER;
    }
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP FolderSize::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo == nullptr) {
        return E_POINTER;
    }
    *ppTInfo = nullptr;
    if (iTInfo != 0) {
        return DISP_E_BADINDEX;
    }
    HRESULT hr = LoadTypeInfo();
    if (FAILED(hr)) {
        return hr;
    }
    typeInfo_->AddRef();
    *ppTInfo = typeInfo_;
    return S_OK;
}

STDMETHODIMP FolderSize::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                                       DISPID* rgDispId) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    HRESULT hr = LoadTypeInfo();
    if (FAILED(hr)) {
        return hr;
    }
    return typeInfo_->GetIDsOfNames(rgszNames, cNames, rgDispId);
}

STDMETHODIMP FolderSize::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                                DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                UINT* puArgErr) {
    if (!IsEqualIID(riid, IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    HRESULT hr = LoadTypeInfo();
    if (FAILED(hr)) {
        return hr;
    }
    return typeInfo_->Invoke(static_cast<IFolderSize*>(this), dispIdMember, wFlags, pDispParams,
                             pVarResult, pExcepInfo, puArgErr);
}

}  // namespace tvn
