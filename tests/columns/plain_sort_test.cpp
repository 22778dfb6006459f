// Right-alignment for plain text sorting: taken from the Explorer policy "NoStrCmpLogical" on
// systems that report 5.1 or later, the current user's value first. The Windows version is
// set for the helper program alone (Wine's per-program AppDefaults; with none, this Wine
// reports Windows 7, 6.1), and each case runs in a process of its own because the provider
// reads the policy once, when it is created.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "column_support.h"
#include "test_tree.h"

namespace tvn::test {
namespace {

constexpr wchar_t kPolicy[] = L"Software\\Microsoft\\Windows\\Currentversion\\Policies\\Explorer";
constexpr wchar_t kHelperDefaults[] = L"Software\\Wine\\AppDefaults\\column_cell.exe";

void SetPolicy(HKEY root, std::optional<DWORD> value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, kPolicy, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (value) {
        RegSetValueExW(key, L"NoStrCmpLogical", 0, REG_DWORD, reinterpret_cast<BYTE*>(&*value),
                       sizeof(DWORD));
    } else {
        RegDeleteValueW(key, L"NoStrCmpLogical");
    }
    RegCloseKey(key);
}

void SetHelperVersion(const wchar_t* version) {
    if (version == nullptr) {
        RegDeleteKeyW(HKEY_CURRENT_USER, kHelperDefaults);
        return;
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kHelperDefaults, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

class PlainSortAlignment : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        installed_ = InstallBuilt() && RunProgram(L"regsvr32 /s " + Quoted(kDllPath)) == 0;
    }
    void SetUp() override { ASSERT_TRUE(installed_) << "TVN.dll could not be installed"; }
    static inline bool installed_ = false;
    void TearDown() override {
        SetPolicy(HKEY_CURRENT_USER, std::nullopt);
        SetPolicy(HKEY_LOCAL_MACHINE, std::nullopt);
        SetHelperVersion(nullptr);
    }

    // The helper's sorting text of a 1234-byte file.
    std::string SortText() {
        tree_.File(L"f.bin", 1234);
        std::wstring output = tree_.Path(L"out.txt");
        DWORD code = RunProgram(Quoted(TestProgramDir() + L"\\column_cell.exe") + L" " +
                                Quoted(output) + L" " + Quoted(tree_.Path(L"f.bin")));
        EXPECT_EQ(code, 0u);
        std::ifstream in(std::string(output.begin(), output.end()));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TestTree tree_;
};

const std::string kAligned = "[" + std::string(16, ' ') + "1234]";
const std::string kPlain = "[1234]";

TEST_F(PlainSortAlignment, PolicyOnSystemsThatHaveIt) {
    struct Case {
        const wchar_t* name;
        std::optional<DWORD> user, machine;
        const std::string& expected;
    };
    const Case cases[] = {
        {L"machine 1 only", std::nullopt, 1, kAligned},
        {L"user 0 before machine 1", 0, 1, kPlain},
        {L"user 1 before machine 0", 1, 0, kAligned},
        {L"neither", std::nullopt, std::nullopt, kPlain},
    };
    // Windows XP x64 (5.2), Windows 7 (6.1), and whatever the prefix reports (6.1 in the
    // suite's first run, 5.2 in its Server 2003 run).
    for (const wchar_t* version : {L"winxp64", L"win7", static_cast<const wchar_t*>(nullptr)}) {
        SetHelperVersion(version);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << (version ? version : L"the prefix's") << ": " << c.name);
            SetPolicy(HKEY_CURRENT_USER, c.user);
            SetPolicy(HKEY_LOCAL_MACHINE, c.machine);
            EXPECT_EQ(SortText(), c.expected);
        }
    }
}

TEST_F(PlainSortAlignment, SystemsWithoutThePolicyReadingAlign) {
    // 10.0, 6.0 and 5.0 each fail one of the two version tests: aligned, whatever the policy.
    SetPolicy(HKEY_CURRENT_USER, 0);
    for (const wchar_t* version : {L"win10", L"vista", L"win2k"}) {
        SCOPED_TRACE(testing::Message() << version);
        SetHelperVersion(version);
        EXPECT_EQ(SortText(), kAligned);
    }
}

}  // namespace
}  // namespace tvn::test
