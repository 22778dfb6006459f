// TVN Bar.dll's registration through regsvr32 and its exports called directly: the entries it
// writes and removes, the kept keys, and when the library may be unloaded (the thread locale
// around registration is the shared registration sequence's, proved by its own tests).
#include <gtest/gtest.h>

#include <windows.h>
#include <shobjidl.h>

#include <optional>
#include <string>
#include <vector>

#include "band_support.h"
#include "column_support.h"
#include "com_core.h"
#include "registration_entries.h"
#include "registry.h"
#include "tvn_bar.h"

namespace tvn::test {
namespace {

std::vector<ExpectedEntry> Entries() {
    return BandEntries(kBarDll);
}

class BandRegistration : public testing::Test {
  protected:
    static void SetUpTestSuite() { installed_ = InstallBand(); }
    void SetUp() override { ASSERT_TRUE(installed_) << "TVN Bar.dll could not be installed"; }
    static void TearDownTestSuite() { RunProgram(L"regsvr32 /s " + Quoted(kBarDll)); }
    static inline bool installed_ = false;
};

TEST_F(BandRegistration, RegisterWritesEveryEntryAndUnregisterRemovesThem) {
    ASSERT_EQ(RunProgram(L"regsvr32 /s " + Quoted(kBarDll)), 0u);
    for (const ExpectedEntry& entry : Entries()) {
        SCOPED_TRACE(testing::Message() << entry.key << " " << (entry.name ? entry.name : L"@"));
        auto value = StringValue(entry.root, entry.key, entry.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_TRUE(_wcsicmp(value->c_str(), entry.data.c_str()) == 0) << *value;
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" TVN_BAR_CLSID "\\Programmable"));
    EXPECT_EQ(CountKey(HKEY_CLASSES_ROOT, L"CLSID\\" TVN_BAR_CLSID "\\Programmable").values, 0u);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"TypeLib\\" TVN_BAR_LIBID "\\1.0"));
    EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, L"TypeLib\\" TVN_BAR_LIBID "\\1.0", nullptr),
              std::wstring(L"TVNBar 1.0 Type Library"));

    // Something of another program's under the kept toolbar key.
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kToolbarKey, L"{other}", REG_SZ, L"x", 4), 0);

    ASSERT_EQ(RunProgram(L"regsvr32 /s /u " + Quoted(kBarDll)), 0u);
    for (const wchar_t* gone :
         {L"TVNBar.TVNWinExpBar", L"TVNBar.TVNWinExpBar.1", L"CLSID\\" TVN_BAR_CLSID,
          L"AppID\\" TVN_BAR_APPID, L"AppID\\TVN Bar.DLL", L"TypeLib\\" TVN_BAR_LIBID,
          L"CLSID\\" TVN_BAR_IID, L"Interface\\" TVN_BAR_IID}) {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    }
    EXPECT_FALSE(StringValue(HKEY_LOCAL_MACHINE, kToolbarKey, TVN_BAR_CLSID).has_value());
    for (const wchar_t* kept : {L"CLSID", L"AppID"}) {
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kept)) << kept;
    }
    for (const wchar_t* kept : {L"SOFTWARE", L"SOFTWARE\\Microsoft",
                                L"SOFTWARE\\Microsoft\\Internet Explorer", kToolbarKey}) {
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kept)) << kept;
    }
    EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, kToolbarKey, L"{other}"), std::wstring(L"x"));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kToolbarKey, L"{other}");
    // Unregistering what is already gone succeeds.
    EXPECT_EQ(RunProgram(L"regsvr32 /s /u " + Quoted(kBarDll)), 0u);
}

TEST_F(BandRegistration, RegisteringTwiceLeavesOneSet) {
    ASSERT_EQ(RunProgram(L"regsvr32 /s " + Quoted(kBarDll)), 0u);
    const std::wstring clsid = L"CLSID\\" TVN_BAR_CLSID;
    // Leftovers of an older version below the keys that are replaced whole.
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CLASSES_ROOT, (clsid + L"\\Stale").c_str(), nullptr, REG_SZ, L"x", 4),
        0);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, (clsid + L"\\Programmable").c_str(), L"stale",
                              REG_SZ, L"x", 4),
              0);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, clsid.c_str(), L"stale", REG_SZ, L"x", 4), 0);

    ASSERT_EQ(RunProgram(L"regsvr32 /s " + Quoted(kBarDll)), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, clsid + L"\\Stale"));
    // ProgID, VersionIndependentProgID, Programmable, InprocServer32, TypeLib; default + AppID.
    KeyCounts counts = CountKey(HKEY_CLASSES_ROOT, clsid);
    EXPECT_EQ(counts.subkeys, 5u);
    EXPECT_EQ(counts.values, 2u);
    EXPECT_EQ(CountKey(HKEY_CLASSES_ROOT, clsid + L"\\Programmable").values, 0u);
    for (const ExpectedEntry& entry : Entries()) {
        EXPECT_TRUE(StringValue(entry.root, entry.key, entry.name).has_value()) << entry.key;
    }
}

// The exports called in this process.
class BandExports : public BandRegistration {
  protected:
    void SetUp() override {
        BandRegistration::SetUp();
        module_.reset(LoadLibraryW(kBarDll));
        ASSERT_TRUE(module_);
    }
    template <typename Function>
    Function Export(const char* name) {
        return reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    }
    UniqueModule module_;
};

TEST_F(BandExports, CanUnloadOnlyWhenNothingIsAlive) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(WINAPI*)();
    auto getClassObject = Export<GetClassObject>("DllGetClassObject");
    auto canUnloadNow = Export<CanUnloadNow>("DllCanUnloadNow");
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    com::ComInit com;
    EXPECT_EQ(canUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_TVNWinExpBar, IID_IClassFactory, factory.put_void()), S_OK);
    ComPtr<IDeskBand> band;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDeskBand, band.put_void()), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(band->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
    band.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "one interface still holds the object";
    dispatch.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_OK);
    ComPtr<IClassFactory> none;
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, none.put_void()),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

}  // namespace
}  // namespace tvn::test
