// What setup and the uninstaller leave in a Wine prefix, read from inside it: the installed
// files, every registration entry with its exact data, the Add/Remove Programs entry, the Run
// entry, the shortcut, the user's settings and whether a cache server runs. installer-test.sh
// runs this program between its steps, choosing the state to check with --gtest_filter:
//   Installed.*        after a successful install (also after an install over an old one)
//   Uninstalled.*      nothing of the product is left (after uninstalling or a failed setup)
//   SettingsKept.*     the settings the script wrote are still there
//   SettingsRemoved.*  the settings key is gone
//   HeldLibraries.*    what happens to libraries a running host holds (one case per step)
//   Server.Runs / Server.DoesNotRun
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cache_client.h"
#include "programs.h"
#include "registration_entries.h"
#include "registry.h"

namespace tvn::test {
namespace {

constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Tolvane";
constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tolvane";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Quorlen\\Tolvane\\Settings";

std::wstring Installed(const wchar_t* name) {
    return std::wstring(kInstallDir) + L"\\" + name;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += c < 128 ? char(c) : '?';
    }
    return out;
}

std::string Describe(const ExpectedEntry& entry) {
    return Narrow(entry.key) + " " + (entry.name ? Narrow(entry.name) : "(default)");
}

// Every registration entry of the three servers, as installed.
std::vector<ExpectedEntry> AllEntries() {
    std::vector<ExpectedEntry> all = CacheServerEntries(Installed(L"TVN Cache.exe"));
    for (auto& entry : ColumnEntries(Installed(L"TVN.dll"))) {
        all.push_back(entry);
    }
    for (auto& entry : BandEntries(Installed(L"TVN Bar.dll"))) {
        all.push_back(entry);
    }
    return all;
}

std::optional<DWORD> DwordValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    DWORD data = 0;
    DWORD bytes = sizeof(data);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &data, &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return data;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ShortcutPath() {
    wchar_t programs[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, programs))) {
        return L"";
    }
    return std::wstring(programs) + L"\\Tolvane Properties.lnk";
}

// The files setup ships, with whether this build has them.
std::vector<std::wstring> ShippedFiles() {
    std::vector<std::wstring> files = {L"TVN Cache.exe",       L"TVN.dll",
                                       L"TVN Bar.dll",         L"Tolvane.chm",
                                       L"TVN Stop Server.exe", L"Uninstall.exe"};
#if TVN_SETUP_HAS_PROPERTIES
    files.push_back(L"TVN Properties.exe");
#endif
    return files;
}

TEST(Installed, EveryFileIsInTheProgramFolder) {
    for (const std::wstring& name : ShippedFiles()) {
        EXPECT_TRUE(FileExists(Installed(name.c_str()))) << Narrow(name);
    }
}

// No library was held while setup ran, so none was moved aside.
TEST(Installed, NothingMovedAside) {
    EXPECT_FALSE(FileExists(Installed(L"TVN.dll.old")));
    EXPECT_FALSE(FileExists(Installed(L"TVN Bar.dll.old")));
}

// The version of the product, in the version block of every shipped program and library.
TEST(Installed, EveryBinaryCarriesTheProductVersion) {
    std::vector<const wchar_t*> binaries = {L"TVN Cache.exe", L"TVN.dll", L"TVN Bar.dll"};
#if TVN_SETUP_HAS_PROPERTIES
    binaries.push_back(L"TVN Properties.exe");
#endif
    for (const wchar_t* name : binaries) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring path = Installed(name);
        DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
        ASSERT_GT(size, 0u);
        std::vector<BYTE> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), TVN_EXPECTED_MAJOR);
        EXPECT_EQ(LOWORD(fixed->dwProductVersionMS), TVN_EXPECTED_MINOR);
        EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), TVN_EXPECTED_MAJOR);
        wchar_t* text = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                                   reinterpret_cast<void**>(&text), &length));
        EXPECT_EQ(Narrow(text), Narrow(TVN_EXPECTED_VERSION));
    }
}

TEST(Installed, EveryRegistrationEntryNamesTheInstalledFiles) {
    for (const ExpectedEntry& entry : AllEntries()) {
        SCOPED_TRACE(Describe(entry));
        std::optional<std::wstring> value = StringValue(entry.root, entry.key, entry.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(_wcsicmp(value->c_str(), entry.data.c_str()), 0) << Narrow(*value);
    }
    for (const wchar_t* clsid : {TVN_CACHE_CLSID, TVN_COLUMNS_CLSID, TVN_BAR_CLSID}) {
        EXPECT_TRUE(
            KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid + L"\\Programmable"));
    }
}

// An install over an existing one leaves one set of entries: every class key holds exactly its
// own five subkeys, and the type libraries one version each.
TEST(Installed, OneSetOfEntries) {
    for (const wchar_t* clsid : {TVN_CACHE_CLSID, TVN_COLUMNS_CLSID, TVN_BAR_CLSID}) {
        EXPECT_EQ(CountKey(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + clsid).subkeys, 5u)
            << Narrow(clsid);
    }
    for (const wchar_t* libid : {TVN_CACHE_LIBID, TVN_COLUMNS_LIBID, TVN_BAR_LIBID}) {
        EXPECT_EQ(CountKey(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + libid).subkeys, 1u)
            << Narrow(libid);
    }
    EXPECT_EQ(
        CountKey(HKEY_CLASSES_ROOT, L"Folder\\Shellex\\ColumnHandlers\\" TVN_COLUMNS_CLSID).subkeys,
        0u);
}

TEST(Installed, AddRemoveProgramsEntry) {
    const std::wstring uninstaller = L"\"" + Installed(L"Uninstall.exe") + L"\"";
    const struct {
        const wchar_t* name;
        std::wstring data;
    } strings[] = {
        {L"DisplayName", L"Tolvane"},
        {L"DisplayVersion", TVN_EXPECTED_VERSION},
#if TVN_SETUP_HAS_PROPERTIES
        {L"DisplayIcon", Installed(L"TVN Properties.exe") + L",0"},
#else
        {L"DisplayIcon", Installed(L"TVN Cache.exe") + L",0"},
#endif
        {L"InstallLocation", kInstallDir},
        {L"UninstallString", uninstaller},
        {L"QuietUninstallString", uninstaller + L" /S"},
    };
    for (const auto& s : strings) {
        EXPECT_EQ(Narrow(StringValue(HKEY_LOCAL_MACHINE, kUninstallKey, s.name).value_or(L"-")),
                  Narrow(s.data))
            << Narrow(s.name);
    }
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify"), 1u);
    EXPECT_EQ(DwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair"), 1u);
    // In KB: the shipped files are at least several hundred KB and far below 100 MB.
    std::optional<DWORD> size = DwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    ASSERT_TRUE(size.has_value());
    EXPECT_GT(*size, 300u);
    EXPECT_LT(*size, 100u * 1024u);
}

// As the properties program writes it: the server beside it in double quotes, REG_SZ.
TEST(Installed, RunEntryAsThePropertiesProgramWritesIt) {
    EXPECT_EQ(Narrow(StringValue(HKEY_CURRENT_USER, kRunKey, L"TVNCache").value_or(L"-")),
              Narrow(L"\"" + Installed(L"TVN Cache.exe") + L"\""));
}

TEST(Installed, StartMenuShortcut) {
#if TVN_SETUP_HAS_PROPERTIES
    EXPECT_TRUE(FileExists(ShortcutPath())) << Narrow(ShortcutPath());
#else
    GTEST_SKIP() << "this build has no properties program";
#endif
}

TEST(Uninstalled, NoFileIsLeft) {
    for (const std::wstring& name : ShippedFiles()) {
        EXPECT_FALSE(FileExists(Installed(name.c_str()))) << Narrow(name);
    }
    EXPECT_FALSE(FileExists(kInstallDir));
    EXPECT_FALSE(FileExists(ShortcutPath()));
}

TEST(Uninstalled, NoRegistrationEntryIsLeft) {
    for (const ExpectedEntry& entry : AllEntries()) {
        EXPECT_FALSE(StringValue(entry.root, entry.key, entry.name).has_value()) << Describe(entry);
    }
    for (const RemovedKey& removed : RemovedKeys()) {
        EXPECT_FALSE(KeyExists(removed.root, removed.key)) << Narrow(removed.key);
    }
    // The shared parents stay.
    for (const wchar_t* kept : {L"CLSID", L"AppID", L"Folder\\Shellex\\ColumnHandlers"}) {
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kept)) << Narrow(kept);
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kApprovedKey));
}

TEST(Uninstalled, NoAddRemoveOrRunEntry) {
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(StringValue(HKEY_CURRENT_USER, kRunKey, L"TVNCache").has_value());
}

// installer-test.sh writes DecimalDigits = 2 and ViewMetric = 2 (MBytes) before it reinstalls
// and uninstalls.
TEST(SettingsKept, TheValuesTheUserSaved) {
    for (const wchar_t* name : {L"DecimalDigits", L"ViewMetric"}) {
        int64_t value = -1;
        DWORD bytes = sizeof(value);
        ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_BINARY, nullptr,
                               &value, &bytes),
                  ERROR_SUCCESS)
            << Narrow(name);
        EXPECT_EQ(bytes, 8u);
        EXPECT_EQ(value, 2) << Narrow(name);
    }
}

TEST(SettingsRemoved, TheKeyIsGone) {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    // So are its parents, which held nothing else.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Quorlen"));
}

// The files to be deleted at the next restart: the sources of PendingFileRenameOperations
// (pairs of source and empty target), in upper case.
std::vector<std::wstring> PendingDeletions() {
    std::vector<std::wstring> pending;
    std::vector<wchar_t> data(64 * 1024);
    DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                     &bytes) != ERROR_SUCCESS) {
        return pending;
    }
    const wchar_t* end = data.data() + bytes / sizeof(wchar_t);
    for (const wchar_t* p = data.data(); p < end && *p;) {
        std::wstring source = p;
        p += source.size() + 1;
        std::wstring target = p < end ? p : L"";
        p += target.size() + 1;
        if (target.empty()) {
            if (source.rfind(L"\\??\\", 0) == 0) {
                source = source.substr(4);
            }
            CharUpperW(source.data());
            pending.push_back(source);
        }
    }
    return pending;
}

bool PendingDeletion(const std::wstring& path) {
    std::wstring upper = path;
    CharUpperW(upper.data());
    for (const std::wstring& pending : PendingDeletions()) {
        if (pending == upper) {
            return true;
        }
    }
    return false;
}

// Setup replaced libraries that a running host held: the new ones are in place, the held
// copies were moved aside and go at the next restart.
TEST(HeldLibraries, MovedAsideAndDeletedAtRestart) {
    for (const wchar_t* name : {L"TVN.dll.old", L"TVN Bar.dll.old"}) {
        EXPECT_TRUE(FileExists(Installed(name))) << Narrow(name);
        EXPECT_TRUE(PendingDeletion(Installed(name))) << Narrow(name);
    }
}

// The uninstaller could not delete the held libraries: they, and the folder, go at the next
// restart; everything else is gone already.
TEST(HeldLibraries, LeftForTheNextRestart) {
    for (const wchar_t* name : {L"TVN.dll", L"TVN Bar.dll"}) {
        EXPECT_TRUE(PendingDeletion(Installed(name))) << Narrow(name);
    }
    for (const wchar_t* name :
         {L"TVN Cache.exe", L"Tolvane.chm", L"TVN Stop Server.exe", L"Uninstall.exe"}) {
        EXPECT_FALSE(FileExists(Installed(name))) << Narrow(name);
    }
}

TEST(Server, Runs) {
    EXPECT_TRUE(IsCacheServerRunning());
}

TEST(Server, DoesNotRun) {
    EXPECT_FALSE(IsCacheServerRunning());
}

}  // namespace
}  // namespace tvn::test
