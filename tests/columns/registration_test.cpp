// TVN.dll's registration through regsvr32 and its exports called directly: the keys it writes
// and removes, and when the library may be unloaded (the thread locale around registration is
// the shared registration sequence's, proved by its own tests).
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "column_support.h"
#include "folder_size.h"
#include "registration_entries.h"

namespace tvn::test {
namespace {

std::vector<ExpectedEntry> Entries() {
    return ColumnEntries(kDllPath);
}

class ColumnRegistration : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { installed_ = InstallBuilt(); }
    void SetUp() override { ASSERT_TRUE(installed_) << "TVN.dll could not be installed"; }
    static inline bool installed_ = false;
    static void TearDownTestSuite() { RunProgram(L"regsvr32 /s " + Quoted(kDllPath)); }
};

TEST_F(ColumnRegistration, RegisterWritesEveryEntryAndUnregisterRemovesThem) {
    ASSERT_EQ(RunProgram(L"regsvr32 /s " + Quoted(kDllPath)), 0u);
    for (const ExpectedEntry& entry : Entries()) {
        SCOPED_TRACE(testing::Message() << entry.key << " " << (entry.name ? entry.name : L"@"));
        auto value = StringValue(entry.root, entry.key, entry.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_TRUE(_wcsicmp(value->c_str(), entry.data.c_str()) == 0) << *value;
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" TVN_COLUMNS_CLSID "\\Programmable"));
    EXPECT_TRUE(
        KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\{F52B8A72-1D8A-4A66-89DC-5DA85F1744D0}\\1.0"));

    ASSERT_EQ(RunProgram(L"regsvr32 /s /u " + Quoted(kDllPath)), 0u);
    for (const wchar_t* gone :
         {L"TVN.FolderSize", L"TVN.FolderSize.1", L"CLSID\\" TVN_COLUMNS_CLSID,
          L"Folder\\Shellex\\ColumnHandlers\\" TVN_COLUMNS_CLSID, L"AppID\\" TVN_COLUMNS_APPID,
          L"AppID\\TVN.DLL", L"TypeLib\\{F52B8A72-1D8A-4A66-89DC-5DA85F1744D0}",
          L"CLSID\\" TVN_COLUMNS_IID}) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    }
    EXPECT_FALSE(StringValue(HKEY_LOCAL_MACHINE, kApprovedKey, TVN_COLUMNS_CLSID).has_value());
    for (const wchar_t* kept : {L"CLSID", L"AppID", L"Folder\\Shellex\\ColumnHandlers"}) {
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kept)) << kept;
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kApprovedKey));
    // Unregistering what is already gone succeeds.
    EXPECT_EQ(RunProgram(L"regsvr32 /s /u " + Quoted(kDllPath)), 0u);
}

TEST_F(ColumnRegistration, RegisteringTwiceLeavesOneSet) {
    ASSERT_EQ(RunProgram(L"regsvr32 /s " + Quoted(kDllPath)), 0u);
    const std::wstring clsid = L"CLSID\\" TVN_COLUMNS_CLSID;
    const std::wstring handler = L"Folder\\Shellex\\ColumnHandlers\\" TVN_COLUMNS_CLSID;
    // Leftovers of an older version below the keys that are replaced whole.
    HKEY stray = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, (clsid + L"\\Stale").c_str(), &stray), 0);
    RegCloseKey(stray);
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, (handler + L"\\Stale").c_str(), &stray), 0);
    RegCloseKey(stray);

    ASSERT_EQ(RunProgram(L"regsvr32 /s " + Quoted(kDllPath)), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsid + L"\\Stale"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, handler + L"\\Stale"));
    // ProgID, VersionIndependentProgID, Programmable, InprocServer32, TypeLib.
    EXPECT_EQ(CountKey(HKEY_CLASSES_ROOT, clsid).subkeys, 5u);
    EXPECT_EQ(CountKey(HKEY_CLASSES_ROOT, handler).subkeys, 0u);
    for (const ExpectedEntry& entry : Entries()) {
        EXPECT_TRUE(StringValue(entry.root, entry.key, entry.name).has_value()) << entry.key;
    }
}

// The exports called in this process: when the library may be unloaded.
class ColumnExports : public ColumnRegistration {
  protected:
    void SetUp() override {
        ColumnRegistration::SetUp();
        module_ = LoadLibraryW(kDllPath);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    template <typename Function>
    Function Export(const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    HMODULE module_ = nullptr;
};

TEST_F(ColumnExports, CanUnloadOnlyWhenNothingIsAlive) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(WINAPI*)();
    auto getClassObject = Export<GetClassObject>("DllGetClassObject");
    auto canUnloadNow = Export<CanUnloadNow>("DllCanUnloadNow");
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(canUnloadNow(), S_OK);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        getClassObject(CLSID_FolderSize, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);
    IColumnProvider* provider = nullptr;
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IColumnProvider, reinterpret_cast<void**>(&provider)),
        S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    provider->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_OK);
    // The factory refuses to be aggregated except for IUnknown, and other classes.
    IUnknown* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IDispatch,
                                      reinterpret_cast<void**>(&object)),
              CLASS_E_NOAGGREGATION);
    factory->Release();
    IClassFactory* none = nullptr;
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, reinterpret_cast<void**>(&none)),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(canUnloadNow(), S_OK);
    CoUninitialize();
}

}  // namespace
}  // namespace tvn::test
