// The registration engine applied to a scratch key, and the thread-locale guard.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "programs.h"
#include "registration.h"
#include "unique_handle.h"

namespace reg = tvn::Registration;
using reg::KeyRule;

namespace {

// The same shape as a local server's script: shared kept parents, a class key replaced
// whole with an empty replaced-whole subkey, and replacements in key names and data.
constexpr reg::Row kTable[] = {
    {L"AppID", KeyRule::Kept},
    {L"AppID\\%APPID%", KeyRule::Owned, L"", L"Server"},
    {L"AppID\\Server.EXE", KeyRule::Owned, L"AppID", L"%APPID%"},
    {L"Test.Class.1", KeyRule::Owned, L"", L"Test Class"},
    {L"Test.Class.1\\CLSID", KeyRule::Owned, L"", L"{C1A55000-0000-0000-0000-000000000001}"},
    {L"CLSID", KeyRule::Kept},
    {L"CLSID\\{C1A55000-0000-0000-0000-000000000001}", KeyRule::ReplacedWhole, L"", L"Test Class"},
    {L"CLSID\\{C1A55000-0000-0000-0000-000000000001}", KeyRule::Owned, L"AppID", L"%APPID%"},
    {L"CLSID\\{C1A55000-0000-0000-0000-000000000001}\\Programmable", KeyRule::ReplacedWhole},
    {L"CLSID\\{C1A55000-0000-0000-0000-000000000001}\\LocalServer32", KeyRule::Owned, L"",
     L"\"%MODULE%\""},
    {L"Shared\\Approved", KeyRule::Kept, L"{C1A55000-0000-0000-0000-000000000001}", L"100%%"},
};

constexpr reg::Replacement kReplacements[] = {
    {L"MODULE", L"C:\\Program Files\\Tolvane\\Server %1.exe"},
    {L"APPID", L"{A9910000-0000-0000-0000-000000000002}"},
};

// Every key and value of the table once written, as Snapshot lists them.
const std::vector<std::wstring> kWritten = {
    L"AppID",
    L"AppID\\Server.EXE",
    L"AppID\\Server.EXE|AppID={A9910000-0000-0000-0000-000000000002}",
    L"AppID\\{A9910000-0000-0000-0000-000000000002}",
    L"AppID\\{A9910000-0000-0000-0000-000000000002}|=Server",
    L"CLSID",
    L"CLSID\\{C1A55000-0000-0000-0000-000000000001}",
    L"CLSID\\{C1A55000-0000-0000-0000-000000000001}\\LocalServer32",
    L"CLSID\\{C1A55000-0000-0000-0000-000000000001}\\LocalServer32|=\"C:\\Program "
    L"Files\\Tolvane\\Server %1.exe\"",
    L"CLSID\\{C1A55000-0000-0000-0000-000000000001}\\Programmable",
    L"CLSID\\{C1A55000-0000-0000-0000-000000000001}|=Test Class",
    L"CLSID\\{C1A55000-0000-0000-0000-000000000001}|AppID={A9910000-0000-0000-0000-000000000002}",
    L"Shared",
    L"Shared\\Approved",
    L"Shared\\Approved|{C1A55000-0000-0000-0000-000000000001}=100%",
    L"Test.Class.1",
    L"Test.Class.1\\CLSID",
    L"Test.Class.1\\CLSID|={C1A55000-0000-0000-0000-000000000001}",
    L"Test.Class.1|=Test Class",
};

// A scratch key to register tables below, with a snapshot of everything in it.
class ScratchRoot : public tvn::test::ScratchKey {
  public:
    void Put(const std::wstring& key, const wchar_t* name, const std::wstring& data) const {
        tvn::UniqueHKey handle;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(get(), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, handle.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(handle.get(), name, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
    }

    // Every key below the root as "path" and every value as "path|name=data", sorted.
    std::vector<std::wstring> Snapshot() const {
        std::vector<std::wstring> lines;
        Walk(get(), L"", lines);
        std::sort(lines.begin(), lines.end());
        return lines;
    }

  private:
    static void Walk(HKEY key, const std::wstring& path, std::vector<std::wstring>& lines) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            wchar_t data[1024];
            DWORD nameLength = 256;
            DWORD size = sizeof(data);
            DWORD type = 0;
            if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                              reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
                break;
            }
            lines.push_back(path + L"|" + name + L"=" + std::wstring(data, size / 2 - 1));
        }
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD nameLength = 256;
            if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            std::wstring child = path.empty() ? std::wstring(name) : path + L"\\" + name;
            lines.push_back(child);
            tvn::UniqueHKey sub;
            if (RegOpenKeyExW(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS) {
                Walk(sub.get(), child, lines);
            }
        }
    }
};

}  // namespace

TEST(Registration, WritesExactlyTheTable) {
    ScratchRoot root;
    ASSERT_EQ(S_OK, reg::Register(root.get(), kTable, kReplacements));
    EXPECT_EQ(kWritten, root.Snapshot());
}

TEST(Registration, ReplacedWholeKeysAreClearedAndRegisteringTwiceLeavesOneSet) {
    ScratchRoot root;
    const std::wstring classKey = L"CLSID\\{C1A55000-0000-0000-0000-000000000001}";
    root.Put(classKey + L"\\InprocServer32", L"", L"stale.dll");
    root.Put(classKey, L"Stale", L"old");
    root.Put(classKey + L"\\Programmable\\Inner", L"", L"old");

    ASSERT_EQ(S_OK, reg::Register(root.get(), kTable, kReplacements));
    EXPECT_EQ(kWritten, root.Snapshot());
    ASSERT_EQ(S_OK, reg::Register(root.get(), kTable, kReplacements));
    EXPECT_EQ(kWritten, root.Snapshot());
}

TEST(Registration, UnregisterKeepsKeptKeysAndOthersEntries) {
    ScratchRoot root;
    ASSERT_EQ(S_OK, reg::Register(root.get(), kTable, kReplacements));
    // Entries of other programs under keys the table names.
    root.Put(L"CLSID\\{0E0E0000-0000-0000-0000-000000000003}", L"", L"Other");
    root.Put(L"Shared\\Approved", L"{0E0E0000-0000-0000-0000-000000000003}", L"Other");
    root.Put(L"Test.Class.1\\Foreign", L"", L"Other");

    const std::vector<std::wstring> remaining = {
        L"AppID",
        L"CLSID",
        L"CLSID\\{0E0E0000-0000-0000-0000-000000000003}",
        L"CLSID\\{0E0E0000-0000-0000-0000-000000000003}|=Other",
        L"Shared",
        L"Shared\\Approved",
        L"Shared\\Approved|{0E0E0000-0000-0000-0000-000000000003}=Other",
        L"Test.Class.1",
        L"Test.Class.1\\Foreign",
        L"Test.Class.1\\Foreign|=Other",
    };
    ASSERT_EQ(S_OK, reg::Unregister(root.get(), kTable, kReplacements));
    EXPECT_EQ(remaining, root.Snapshot());
    EXPECT_EQ(S_OK, reg::Unregister(root.get(), kTable, kReplacements));  // nothing left to do
    EXPECT_EQ(remaining, root.Snapshot());
}

TEST(Registration, UnregisterOnEmptyRootSucceeds) {
    ScratchRoot root;
    EXPECT_EQ(S_OK, reg::Unregister(root.get(), kTable, kReplacements));
    EXPECT_TRUE(root.Snapshot().empty());
}

TEST(Registration, MalformedTablesAreRejectedBeforeAnyWrite) {
    struct Case {
        const char* what;
        reg::Row rows[2];
    };
    const Case cases[] = {
        {"unknown replacement", {{L"A", KeyRule::Owned, L"", L"ok"}, {L"B\\%NOPE%"}}},
        {"unclosed replacement", {{L"A", KeyRule::Owned, L"", L"ok"}, {L"B", {}, L"", L"%MODULE"}}},
        {"kept and replaced whole", {{L"A", KeyRule::Kept}, {L"a", KeyRule::ReplacedWhole}}},
        {"empty component", {{L"A"}, {L"B\\\\C"}}},
        {"trailing backslash", {{L"A"}, {L"B\\"}}},
        {"null key", {{L"A"}, {nullptr}}},
        {"value without data", {{L"A"}, {L"B", KeyRule::Owned, L"name", nullptr}}},
    };
    ScratchRoot root;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(E_INVALIDARG, reg::Register(root.get(), c.rows, kReplacements));
        EXPECT_EQ(E_INVALIDARG, reg::Unregister(root.get(), c.rows, kReplacements));
        EXPECT_TRUE(root.Snapshot().empty());
    }
    EXPECT_EQ(E_INVALIDARG, reg::Register(nullptr, kTable, kReplacements));
}

TEST(Registration, Expand) {
    struct Case {
        const wchar_t* text;
        HRESULT result;
        const wchar_t* expanded;
    };
    const Case cases[] = {
        {L"plain", S_OK, L"plain"},
        {L"\"%MODULE%\"", S_OK, L"\"C:\\Program Files\\Tolvane\\Server %1.exe\""},
        {L"%APPID%%APPID%", S_OK,
         L"{A9910000-0000-0000-0000-000000000002}{A9910000-0000-0000-0000-000000000002}"},
        {L"50%%", S_OK, L"50%"},
        {L"%module%", E_INVALIDARG, L""},  // names are exact
        {L"%APPID", E_INVALIDARG, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        std::wstring expanded;
        EXPECT_EQ(c.result, reg::Expand(c.text, kReplacements, expanded));
        if (SUCCEEDED(c.result)) {
            EXPECT_EQ(c.expanded, expanded);
        }
    }
}

TEST(Registration, ModulePathNamesTheRunningProgram) {
    std::wstring path = reg::ModulePath(nullptr);
    ASSERT_FALSE(path.empty());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

TEST(ThreadLocaleGuard, RestoresThePreviousLocaleOnEveryPath) {
    const LCID original = GetThreadLocale();
    // A locale that differs from the system default, so that a missing restore shows.
    const LCID before = GetSystemDefaultLCID() == 0x0407 ? 0x040C : 0x0407;
    ASSERT_TRUE(SetThreadLocale(before));
    ASSERT_EQ(before, GetThreadLocale());

    auto insideIsSystemDefault = [] {
        LCID inside = GetThreadLocale();
        return inside == LOCALE_SYSTEM_DEFAULT || inside == GetSystemDefaultLCID();
    };
    {
        reg::ThreadLocaleGuard guard;
        EXPECT_TRUE(insideIsSystemDefault());
        EXPECT_EQ(before, guard.Previous());
    }
    EXPECT_EQ(before, GetThreadLocale());

    auto earlyReturn = [&](bool leaveEarly) -> bool {
        reg::ThreadLocaleGuard guard;
        if (leaveEarly) {
            return insideIsSystemDefault();
        }
        return false;
    };
    EXPECT_TRUE(earlyReturn(true));
    EXPECT_EQ(before, GetThreadLocale());

    try {
        reg::ThreadLocaleGuard guard;
        throw std::runtime_error("registration step failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(before, GetThreadLocale());

    SetThreadLocale(original);
}

namespace {

// Stand-ins for a proxy/stub's registration entry points: they note the call, the thread
// locale they ran under, and answer what the test chose.
std::vector<std::wstring> g_calls;
HRESULT g_secondResult = S_OK;
LCID g_localeSeen = 0;

HRESULT STDAPICALLTYPE FirstRegister() {
    g_localeSeen = GetThreadLocale();
    g_calls.push_back(L"register 1");
    return S_OK;
}
HRESULT STDAPICALLTYPE FirstUnregister() {
    g_calls.push_back(L"unregister 1");
    return S_OK;
}
HRESULT STDAPICALLTYPE SecondRegister() {
    g_calls.push_back(L"register 2");
    return g_secondResult;
}
HRESULT STDAPICALLTYPE SecondUnregister() {
    g_calls.push_back(L"unregister 2");
    return g_secondResult;
}

constexpr reg::ProxyStubEntries kFirst{FirstRegister, FirstUnregister};
constexpr reg::ProxyStubEntries kSecond{SecondRegister, SecondUnregister};
constexpr reg::Row kTableA[] = {{L"A", KeyRule::Owned, L"", L"%MODULE%"}};
constexpr reg::Row kTableB[] = {{L"B\\%NAME%", KeyRule::Owned}};
constexpr reg::Row kTableC[] = {{L"C", KeyRule::Owned}};
constexpr reg::Replacement kNames[] = {{L"NAME", L"b"}};

}  // namespace

TEST(RegistrationSequence, StepsRunInOrderAndBackwardsAndTheFirstFailureIsReported) {
    ScratchRoot root;
    const reg::Step steps[] = {
        reg::Step::Table(root.get(), kTableA), reg::Step::ProxyStub(&kFirst),
        reg::Step::Table(root.get(), kTableB), reg::Step::ProxyStub(&kSecond),
        reg::Step::Table(root.get(), kTableC),
    };
    const reg::Script script{steps, kNames};
    const LCID before = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    // The locale the steps run under: the system default, as the system reports it once set.
    SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
    const LCID registering = GetThreadLocale();
    ASSERT_NE(registering, before);
    struct Case {
        const char* what;
        HRESULT second;
        std::vector<std::wstring> writtenAfterRegister;
        std::vector<std::wstring> callsOfRegister;
    };
    const Case cases[] = {
        {"all steps succeed",
         S_OK,
         {L"A", L"A|=m.dll", L"B", L"B\\b", L"C"},
         {L"register 1", L"register 2"}},
        {"a failing step stops registration",
         E_ACCESSDENIED,
         {L"A", L"A|=m.dll", L"B", L"B\\b"},
         {L"register 1", L"register 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_calls.clear();
        g_secondResult = c.second;
        SetThreadLocale(before);
        EXPECT_EQ(reg::RegisterModule(script, L"m.dll"), c.second);
        EXPECT_EQ(GetThreadLocale(), before) << "locale put back";
        EXPECT_EQ(g_localeSeen, registering);
        EXPECT_EQ(root.Snapshot(), c.writtenAfterRegister);
        EXPECT_EQ(g_calls, c.callsOfRegister);

        // Unregistration goes backwards, does not stop at the failure and reports it.
        g_calls.clear();
        EXPECT_EQ(reg::UnregisterModule(script, L"m.dll"), c.second);
        EXPECT_EQ(GetThreadLocale(), before);
        EXPECT_EQ(g_calls, (std::vector<std::wstring>{L"unregister 2", L"unregister 1"}));
        // B is an ancestor no row names: created when needed, never deleted.
        EXPECT_EQ(root.Snapshot(), std::vector<std::wstring>{L"B"});
    }
    SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
}

TEST(RegistrationSequence, TypeLibraryComesFromTheModuleFile) {
    ScratchRoot root;
    const reg::Step steps[] = {
        reg::Step::Table(root.get(), kTableA),
        reg::Step::TypeLibrary(reg::HelpFolder::Module),
        reg::Step::Table(root.get(), kTableC),
    };
    const reg::Script script{steps, {}};
    // This test program carries no type library: the step fails and the rest is not written.
    const std::wstring self = reg::ModulePath(nullptr);
    HRESULT hr = reg::RegisterModule(script, self.c_str());
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(root.Snapshot(), (std::vector<std::wstring>{L"A", L"A|=" + self}));
    EXPECT_EQ(reg::UnregisterModule(script, self.c_str()), hr);
    EXPECT_TRUE(root.Snapshot().empty());
    EXPECT_EQ(reg::RegisterModule(script, nullptr), E_INVALIDARG);
}
