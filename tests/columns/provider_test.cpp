// The column provider through real COM: TVN.dll registered with regsvr32, FolderSize created
// with CoCreateInstance, cells asked as Explorer asks them, settings in the real key.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "cache_client.h"
#include "column_support.h"
#include "folder_size.h"
#include "settings_store.h"
#include "size_format.h"
#include "test_tree.h"

namespace tvn::test {
namespace {

constexpr wchar_t kBullet = L'\x2022';

std::wstring Bullets(size_t count, wchar_t symbol = kBullet) {
    return std::wstring(count, symbol);
}

class ColumnProvider : public ::testing::Test {
  protected:
    // A failure here would only skip the cases; SetUp reports it in every case instead.
    static void SetUpTestSuite() {
        installed_ = InstallBuilt() && RunProgram(L"regsvr32 /s " + Quoted(kDllPath)) == 0 &&
                     (!CacheServerBuilt() || RunProgram(Quoted(kServerPath) + L" /RegServer") == 0);
    }
    static void TearDownTestSuite() {
        StopCacheServer();
        ClearSettings();
    }

    void SetUp() override {
        ASSERT_TRUE(installed_) << "TVN.dll (or TVN Cache.exe) could not be installed";
        ClearSettings();
        // Size and sorting texts right-aligned whatever version the system reports to this
        // program; the policy itself is tested in plain_sort_test.cpp.
        SetPlainSortPolicy(1);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(CoCreateInstance(CLSID_FolderSize, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IColumnProvider, reinterpret_cast<void**>(&provider_)),
                  S_OK);
    }
    void TearDown() override {
        if (provider_ != nullptr) {
            provider_->Release();
        }
        ClearSettings();
        SetPlainSortPolicy(std::nullopt);
        CoUninitialize();
    }

    static void SetPlainSortPolicy(std::optional<DWORD> value) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER,
                        L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        if (value) {
            RegSetValueExW(key, L"NoStrCmpLogical", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&*value), sizeof(DWORD));
        } else {
            RegDeleteValueW(key, L"NoStrCmpLogical");
        }
        RegCloseKey(key);
    }

    Cell Ask(DWORD pid, const std::wstring& path, bool folder) {
        return AskCell(provider_, pid, path, folder);
    }

    IColumnProvider* provider_ = nullptr;
    static inline bool installed_ = false;
};

TEST_F(ColumnProvider, ColumnInfoFollowsTheTitleSetting) {
    const std::wstring longest(79, L'T');
    struct Case {
        const wchar_t* name;
        const std::wstring* stored;  // nullptr: no ColumnTitle value
        std::wstring size, sort, bar;
    };
    const std::wstring size = L"Size", hundred(100, L'x'), seventy(70, L'y');
    const Case cases[] = {
        {L"default", nullptr, L"VudaZe", L"VudaZe sorting column", L"VudaZe %"},
        {L"Size", &size, L"Size", L"Size sorting column", L"Size %"},
        {L"too long to read", &hundred, L"VudaZe", L"VudaZe sorting column", L"VudaZe %"},
        {L"cut for the suffix", &seventy, seventy, std::wstring(64, L'y') + L" sorting column",
         seventy + L" %"},
        {L"fills the field", &longest, longest, std::wstring(64, L'T') + L" sorting column",
         std::wstring(77, L'T') + L" %"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name);
        ClearSettings();
        if (c.stored != nullptr) {
            SetText(SettingsStore::kColumnTitle, *c.stored);
        }
        const std::wstring* titles[] = {&c.size, &c.sort, &c.bar};
        for (DWORD index = 0; index < 3; ++index) {
            SHCOLUMNINFO info{};
            ASSERT_EQ(provider_->GetColumnInfo(index, &info), S_OK);
            EXPECT_EQ(std::wstring(info.wszTitle), *titles[index]);
        }
    }
}

TEST_F(ColumnProvider, ColumnRows) {
    struct Row {
        DWORD pid, fmt;
        UINT chars;
        const wchar_t* description;
    };
    const Row rows[] = {{2, LVCFMT_RIGHT, 22, L"Shows file and folder sizes."},
                        {3, LVCFMT_RIGHT, 22, L"Allows all-mode sorting."},
                        {4, LVCFMT_LEFT, 52, L"View disk space as a diagram."}};
    ASSERT_EQ(provider_->Initialize(nullptr), S_OK);
    for (DWORD index = 0; index < 3; ++index) {
        SHCOLUMNINFO info{};
        ASSERT_EQ(provider_->GetColumnInfo(index, &info), S_OK);
        EXPECT_TRUE(IsEqualGUID(info.scid.fmtid, CLSID_FolderSize));
        EXPECT_EQ(info.scid.pid, rows[index].pid);
        EXPECT_EQ(info.vt, VT_BSTR);
        EXPECT_EQ(info.fmt, rows[index].fmt);
        EXPECT_EQ(info.cChars, rows[index].chars);
        EXPECT_EQ(info.csFlags, 0x31u);
        EXPECT_EQ(std::wstring(info.wszDescription), rows[index].description);
    }
    // Past the last column: S_FALSE and the record untouched.
    SHCOLUMNINFO untouched;
    memset(&untouched, 0xA5, sizeof(untouched));
    SHCOLUMNINFO info = untouched;
    EXPECT_EQ(provider_->GetColumnInfo(3, &info), S_FALSE);
    EXPECT_EQ(memcmp(&info, &untouched, sizeof(info)), 0);
}

TEST_F(ColumnProvider, DefaultSettingsWithTheCacheServer) {
    if (!CacheServerBuilt()) {
        GTEST_SKIP() << "TVN Cache.exe is not built in this tree";
    }
    TestTree tree;
    tree.File(L"data\\a.bin", 1234567);
    tree.File(L"other.bin", 765433);
    const std::wstring folder = tree.Path(L"data");
    EXPECT_EQ(Ask(SizeColumn, folder, true).text, Padded(L"1 206 KB"));
    EXPECT_EQ(Ask(SortColumn, folder, true).text, Padded(L"1234567"));
    EXPECT_EQ(Ask(BarColumn, folder, true).text, Bullets(30) + L" 61.73 %");
    EXPECT_EQ(Ask(BarColumn, tree.Path(L"other.bin"), false).text, Bullets(19) + L" 38.27 %");
}

TEST_F(ColumnProvider, FolderCellsScanWhenTheCacheIsOff) {
    TestTree tree;
    tree.File(L"data\\a.bin", 1234567);
    tree.File(L"data\\deeper\\b.bin", 1000);
    tree.Folder(L"empty");
    tree.File(L"zero\\z1.bin", 0);
    tree.File(L"zero\\z2.bin", 0);
    struct Case {
        int64_t enableCache;
        bool dword;
    };
    for (Case c : {Case{0, false}, Case{0, true}, Case{7, false}}) {
        SCOPED_TRACE(testing::Message() << "EnableCache " << c.enableCache);
        c.dword ? SetDword(SettingsStore::kEnableCache, static_cast<DWORD>(c.enableCache))
                : SetInteger(SettingsStore::kEnableCache, c.enableCache);
        EXPECT_EQ(Ask(SortColumn, tree.Path(L"data"), true).text, Padded(L"1235567"));
        EXPECT_EQ(Ask(SizeColumn, tree.Path(L"empty"), true).text, Padded(L"0 KB"));
        EXPECT_EQ(Ask(BarColumn, tree.Path(L"data"), true).text, Bullets(50) + L" 100.00 %");
        // An item of a folder whose files are all empty: an empty bar text, still a value.
        Cell bar = Ask(BarColumn, tree.Path(L"zero\\z1.bin"), false);
        EXPECT_EQ(bar.hr, S_OK);
        EXPECT_EQ(bar.text, L"");
    }
}

TEST_F(ColumnProvider, ViewStyleChoosesTheItems) {
    TestTree tree;
    tree.File(L"dir\\f.bin", 2048);
    SetInteger(SettingsStore::kEnableCache, 0);
    struct Case {
        int64_t style;
        bool dword;
        bool folders, files;
    };
    const Case cases[] = {{0, false, true, true},  {1, false, false, true},
                          {2, false, true, false}, {3, false, false, false},
                          {9, false, true, true},  {2, true, true, false},
                          {3, true, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "ViewStyle " << c.style << (c.dword ? " dword" : ""));
        c.dword ? SetDword(SettingsStore::kViewStyle, static_cast<DWORD>(c.style))
                : SetInteger(SettingsStore::kViewStyle, c.style);
        for (DWORD pid : {SizeColumn, SortColumn, BarColumn}) {
            Cell folder = Ask(pid, tree.Path(L"dir"), true);
            Cell file = Ask(pid, tree.Path(L"dir\\f.bin"), false);
            EXPECT_EQ(folder.hr, c.folders ? S_OK : S_FALSE) << pid;
            EXPECT_EQ(file.hr, c.files ? S_OK : S_FALSE) << pid;
        }
        if (c.files) {
            EXPECT_EQ(Ask(SizeColumn, tree.Path(L"dir\\f.bin"), false).text, Padded(L"2 KB"));
        }
    }
}

TEST_F(ColumnProvider, BarStyleAndSettingsReadPerCell) {
    TestTree tree;
    tree.File(L"a.bin", 1000);
    tree.File(L"b.bin", 3000);
    const std::wstring file = tree.Path(L"a.bin");
    SetInteger(SettingsStore::kEnableCache, 0);
    const struct {
        int64_t style;
        std::wstring text;  // 1000 of 4000 bytes: 12.5 of 50 symbols
    } styles[] = {
        {0, Bullets(12) + L" 25.00 %"},
        {1, L" 25.00 %"},
        {2, Bullets(12)},
        {5, Bullets(12) + L" 25.00 %"},  // a style no release offers shows both
    };
    for (const auto& c : styles) {
        SCOPED_TRACE(testing::Message() << "PB_Style " << c.style);
        SetInteger(SettingsStore::kPB_Style, c.style);
        EXPECT_EQ(Ask(BarColumn, file, false).text, c.text);
    }
    SetCharacter(SettingsStore::kPB_Symbol, L'#');
    SetInteger(SettingsStore::kPB_Style, 0);
    EXPECT_EQ(Ask(BarColumn, file, false).text, L"############ 25.00 %");

    // Unit, decimals and grouping apply from the next cell on; a deleted value keeps the
    // last one read.
    tree.File(L"big.bin", 1234567);
    SetInteger(SettingsStore::kViewMetric, 2);
    SetInteger(SettingsStore::kDecimalDigits, 2);
    EXPECT_EQ(Ask(SizeColumn, tree.Path(L"big.bin"), false).text, Padded(L"1.18 MB"));
    SetInteger(SettingsStore::kViewMetric, 0);
    SetCharacter(SettingsStore::kSeparator, L',');
    EXPECT_EQ(Ask(SizeColumn, tree.Path(L"big.bin"), false).text, Padded(L"1,234,567"));
    ClearSettings();
    EXPECT_EQ(Ask(SizeColumn, tree.Path(L"big.bin"), false).text, Padded(L"1,234,567"));
    // A unit no release offers leaves the cell empty.
    SetInteger(SettingsStore::kViewMetric, 7);
    Cell odd = Ask(SizeColumn, tree.Path(L"big.bin"), false);
    EXPECT_EQ(odd.hr, S_OK);
    EXPECT_EQ(odd.text, Padded(L""));
}

TEST_F(ColumnProvider, ItemInADriveRootAsksForTheDrive) {
    const std::wstring file = std::wstring(kSecondFixedDrive) + L"\\tvn-root-item.bin";
    {
        TestTree tree(kSecondFixedDrive);  // makes sure the drive holds a folder too
        tree.File(L"inner.bin", 5000);
        HANDLE handle =
            CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size{};
        size.QuadPart = 3000;
        SetFilePointerEx(handle, size, nullptr, FILE_BEGIN);
        SetEndOfFile(handle);
        CloseHandle(handle);

        // The drive holds this item and the tree only: 3000 of 8000 bytes.
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((std::wstring(kSecondFixedDrive) + L"\\*").c_str(), &data);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        do {
            if (data.cFileName[0] != L'.') {
                names.push_back(Lower(data.cFileName));
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names,
                  (std::vector<std::wstring>{Lower(tree.Root().substr(3)), L"tvn-root-item.bin"}));
        const std::wstring expected = Bullets(18) + L" 37.50 %";
        SetInteger(SettingsStore::kEnableCache, 0);
        EXPECT_EQ(Ask(BarColumn, file, false).text, expected);
        if (CacheServerBuilt()) {
            SetInteger(SettingsStore::kEnableCache, 1);
            EXPECT_EQ(Ask(BarColumn, file, false).text, expected);
        }
    }
    DeleteFileW(file.c_str());
}

TEST_F(ColumnProvider, ErrorsAndEmptyCells) {
    TestTree tree;
    tree.File(L"f.bin", 10);
    const std::wstring missing = tree.Path(L"no such file.bin");
    EXPECT_EQ(Ask(SizeColumn, missing, false).text, L"Error code: 0x2");
    EXPECT_EQ(Ask(SortColumn, missing, false).text, L"Error code: 0x2");
    EXPECT_EQ(Ask(BarColumn, missing, false).hr, S_FALSE);

    SHCOLUMNDATA data{};
    lstrcpynW(data.wszFile, tree.Path(L"f.bin").c_str(), MAX_PATH);
    SHCOLUMNID other{IID_IUnknown, SizeColumn};
    SHCOLUMNID unknownPid{CLSID_FolderSize, 5};
    SHCOLUMNID size{CLSID_FolderSize, SizeColumn};
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(provider_->GetItemData(&other, &data, &value), S_FALSE);
    EXPECT_EQ(provider_->GetItemData(&unknownPid, &data, &value), S_FALSE);
    EXPECT_EQ(V_VT(&value), VT_EMPTY);
    EXPECT_EQ(provider_->GetItemData(&size, &data, nullptr), S_OK);  // text discarded
    EXPECT_EQ(provider_->GetItemData(nullptr, &data, &value), E_INVALIDARG);
    EXPECT_EQ(provider_->GetItemData(&size, nullptr, &value), E_INVALIDARG);
    // A path with no terminator inside its 260 units is refused, not read past.
    std::fill(std::begin(data.wszFile), std::end(data.wszFile), L'a');
    EXPECT_EQ(provider_->GetItemData(&size, &data, &value), E_INVALIDARG);
    // A VARIANT that holds a text is cleared before the new one goes in.
    lstrcpynW(data.wszFile, tree.Path(L"f.bin").c_str(), MAX_PATH);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"old");
    EXPECT_EQ(provider_->GetItemData(&size, &data, &value), S_OK);
    EXPECT_EQ(std::wstring(V_BSTR(&value)), Padded(L"0 KB"));
    VariantClear(&value);
}

TEST_F(ColumnProvider, CacheServerNotRegistered) {
    const bool server = CacheServerBuilt();
    if (server) {
        ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /UnregServer"), 0u);
    } else {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{D6636C89-54F2-4CDB-9167-FF4B71150B25}", 0,
                          KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            GTEST_SKIP() << "a cache server of another build is registered";
        }
    }
    TestTree tree;
    tree.File(L"dir\\f.bin", 4096);
    EXPECT_EQ(Ask(SizeColumn, tree.Path(L"dir"), true).text, L"Error code: 0x80040158");
    EXPECT_EQ(Ask(SortColumn, tree.Path(L"dir"), true).text, L"Error code: 0x80040158");
    EXPECT_EQ(Ask(BarColumn, tree.Path(L"dir"), true).hr, S_FALSE);
    EXPECT_EQ(Ask(SizeColumn, tree.Path(L"dir\\f.bin"), false).text, Padded(L"4 KB"));
    EXPECT_EQ(Ask(BarColumn, tree.Path(L"dir\\f.bin"), false).hr, S_FALSE);
    if (server) {
        // The failure is not remembered: registered again, the next cell works.
        ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer"), 0u);
        EXPECT_EQ(Ask(SortColumn, tree.Path(L"dir"), true).text, Padded(L"4096"));
    }
}

TEST_F(ColumnProvider, AggregationAndDispatch) {
    IUnknown* inner = nullptr;
    IUnknown* outer = nullptr;  // any object will do as the outer one
    ASSERT_EQ(provider_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&outer)), S_OK);
    outer->Release();  // provider_ keeps it alive
    EXPECT_EQ(CoCreateInstance(CLSID_FolderSize, outer, CLSCTX_INPROC_SERVER, IID_IColumnProvider,
                               reinterpret_cast<void**>(&inner)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(inner, nullptr);
    ASSERT_EQ(CoCreateInstance(CLSID_FolderSize, outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&inner)),
              S_OK);
    IColumnProvider* aggregated = nullptr;
    EXPECT_EQ(inner->QueryInterface(IID_IColumnProvider, reinterpret_cast<void**>(&aggregated)),
              S_OK);
    // Its interfaces answer for the outer object: their IUnknown is the outer one.
    IUnknown* identity = nullptr;
    aggregated->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, outer);
    identity->Release();
    aggregated->Release();
    inner->Release();

    IDispatch* dispatch = nullptr;
    ASSERT_EQ(provider_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* type = nullptr;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &type), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(type->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IFolderSize));
    type->ReleaseTypeAttr(attributes);
    type->Release();
    dispatch->Release();
}

// IFolderSize crosses apartments through the library's own proxy and stub.
TEST_F(ColumnProvider, FolderSizeMarshalsToAnotherApartment) {
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IFolderSize, provider_, &stream), S_OK);
    struct Job {
        IStream* stream;
        HRESULT unmarshal = E_FAIL, call = E_FAIL;
        UINT count = 0;
    } job{stream};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            auto* job = static_cast<Job*>(parameter);
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            IDispatch* remote = nullptr;
            job->unmarshal = CoGetInterfaceAndReleaseStream(job->stream, IID_IFolderSize,
                                                            reinterpret_cast<void**>(&remote));
            if (SUCCEEDED(job->unmarshal)) {
                job->call = remote->GetTypeInfoCount(&job->count);
                remote->Release();
            }
            CoUninitialize();
            return 0;
        },
        &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // The call comes back to this apartment: keep its messages flowing until the thread ends.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    CloseHandle(thread);
    EXPECT_EQ(job.unmarshal, S_OK);
    EXPECT_EQ(job.call, S_OK);
    EXPECT_EQ(job.count, 1u);
}

}  // namespace
}  // namespace tvn::test
