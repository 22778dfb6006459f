// TVN Properties.exe end to end, its help and its menu: F1 and Help index reach the HTML Help
// control with paths beside the program (observed through a stand-in library), a folder too
// long for such a path refuses instead of cutting it, and About opens the about box.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "program_driver.h"
#include "properties_program_fixture.h"
#include "resource.h"
#include "test_tree.h"

namespace tvn {
namespace {

using test::PropertiesProgram;

constexpr wchar_t kHelpLog[] = L"C:\\tvn-htmlhelp.log";
constexpr wchar_t kHelpClassKey[] =
    L"Software\\Classes\\CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

// The stand-in HTML Help library registered for the control's class while a test runs; the
// prefix's own registration comes back afterwards.
class RegisteredHelpStandIn {
  public:
    explicit RegisteredHelpStandIn(const std::wstring& folder) {
        const std::wstring library = folder + L"\\hh_stand_in.dll";
        EXPECT_TRUE(CopyBuilt(L"tests\\properties\\hh_stand_in.dll", library));
        wchar_t old[MAX_PATH] = {};
        DWORD size = sizeof(old);
        hadOld_ = RegGetValueW(HKEY_LOCAL_MACHINE, kHelpClassKey, nullptr, RRF_RT_REG_SZ, nullptr,
                               old, &size) == ERROR_SUCCESS;
        old_ = old;
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHelpClassKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(library.c_str()),
                       DWORD((library.size() + 1) * 2));
        RegCloseKey(key);
        DeleteFileW(kHelpLog);
        SetEnvironmentVariableW(L"TVN_HTMLHELP_LOG", kHelpLog);
    }
    ~RegisteredHelpStandIn() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHelpClassKey, 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            if (hadOld_) {
                RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                               DWORD((old_.size() + 1) * 2));
            } else {
                RegDeleteValueW(key, nullptr);
            }
            RegCloseKey(key);
        }
        SetEnvironmentVariableW(L"TVN_HTMLHELP_LOG", nullptr);
        DeleteFileW(kHelpLog);
    }

    // The calls logged so far, one line each.
    static std::vector<std::wstring> Calls() {
        std::vector<std::wstring> lines;
        FILE* file = _wfopen(kHelpLog, L"rb");
        if (file == nullptr) {
            return lines;
        }
        std::string utf8;
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof(buffer), file)) > 0;) {
            utf8.append(buffer, n);
        }
        fclose(file);
        std::wstring text(utf8.size(), L'\0');
        text.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(),
                                        int(text.size())));
        for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
             start = end + 1) {
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }
    // Waits until `count` calls are logged.
    static std::vector<std::wstring> WaitForCalls(size_t count) {
        std::vector<std::wstring> calls;
        for (int i = 0; i < 500 && (calls = Calls()).size() < count; ++i) {
            Sleep(10);
        }
        return calls;
    }

  private:
    bool hadOld_ = false;
    std::wstring old_;
};

std::wstring HelpCall(HWND caller, const std::wstring& file) {
    wchar_t head[64] = {};
    swprintf(head, 64, L"%llx|0|0|",
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(caller)));
    return head + file;
}

void PressF1(HWND control) {
    PostMessageW(control, WM_KEYDOWN, VK_F1, 0x003B0001);
    PostMessageW(control, WM_KEYUP, VK_F1, 0xC03B0001);
}

// F1 as a user presses it: keyboard input to the dialog brought to the foreground (the system
// then also posts WM_KEYF1, which posted key messages never bring).
void PressF1ForReal(HWND dialog) {
    SetForegroundWindow(dialog);
    for (int i = 0; i < 500 && GetForegroundWindow() != dialog; ++i) {
        Sleep(20);
    }
    INPUT keys[2] = {{INPUT_KEYBOARD, {.ki = {VK_F1, 0, 0, 0, 0}}},
                     {INPUT_KEYBOARD, {.ki = {VK_F1, 0, KEYEVENTF_KEYUP, 0, 0}}}};
    ASSERT_EQ(SendInput(2, keys, sizeof(INPUT)), 2u);
}

// Chooses the item `downs` steps down the Menu button's popup (the separator is skipped).
void ChooseFromMenu(PropertiesProgram& program, int downs) {
    HWND menu = program.OpenMenu();
    ASSERT_NE(menu, nullptr);
    for (int i = 0; i < downs; ++i) {
        PropertiesProgram::MenuKey(menu, VK_DOWN);
    }
    PropertiesProgram::MenuKey(menu, VK_RETURN);
    EXPECT_TRUE(PropertiesProgram::WaitGone(menu));
}

// F1 opens the dialog's topic, Help index the help file; both beside the program.
TEST_F(PropertiesProgramTest, HelpOpensTheTopicAndTheFileBesideTheProgram) {
    RegisteredHelpStandIn standIn(kInstallDir);
    PropertiesProgram program;
    Start(program);
    PressF1ForReal(program.Dialog());
    std::vector<std::wstring> calls = RegisteredHelpStandIn::WaitForCalls(1);
    ASSERT_EQ(calls.size(), 1u);
    const std::wstring folder = kInstallDir;
    EXPECT_EQ(calls[0], HelpCall(program.Dialog(), folder + L"\\Tolvane.chm::/tvn-cfgdlg.html"));
    ChooseFromMenu(program, 1);
    calls = RegisteredHelpStandIn::WaitForCalls(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], HelpCall(program.Dialog(), folder + L"\\Tolvane.chm"));
    program.PostCommand(IDCANCEL);
    EXPECT_EQ(program.WaitForExit(), 2u);
}

// A program folder too long for a path of MAX_PATH units refuses what would need a cut path:
// no Run entry, no help call; what still fits works.
TEST_F(PropertiesProgramTest, FolderTooLongForAPathRefusesInsteadOfCutting) {
    struct Case {
        size_t folderLength;
        bool topic;     // folder + "\Tolvane.chm::/tvn-cfgdlg.html" fits
        bool helpFile;  // folder + "\Tolvane.chm" fits
        bool runEntry;  // folder + "\TVN Cache.exe" fits
    };
    const Case cases[] = {
        {229, true, true, true},
        {230, false, true, true},
        {240, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folderLength);
        ClearSettings();
        std::wstring folder = L"C:\\tvn-long-";
        folder += std::wstring(120 - folder.size(), L'a') + L"\\";
        folder += std::wstring(c.folderLength - folder.size(), L'b');
        ASSERT_EQ(folder.size(), c.folderLength);
        InstallProgram(folder);
        RegisteredHelpStandIn standIn(folder);
        {
            PropertiesProgram program;
            Start(program, (folder + L"\\TVN Properties.exe").c_str());
            PressF1(program.Control(IDC_COLUMN_TITLE));
            ChooseFromMenu(program, 1);
            program.Click(IDC_START_WITH_WINDOWS);
            program.PostCommand(IDOK);
            EXPECT_EQ(program.WaitForExit(), 1u);
        }
        std::vector<std::wstring> expected;
        if (c.topic) {
            expected.push_back(L"\\Tolvane.chm::/tvn-cfgdlg.html");
        }
        if (c.helpFile) {
            expected.push_back(L"\\Tolvane.chm");
        }
        std::vector<std::wstring> calls = RegisteredHelpStandIn::Calls();
        ASSERT_EQ(calls.size(), expected.size());
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].substr(calls[i].rfind(L"|") + 1), folder + expected[i]);
        }
        EXPECT_EQ(RunEntry(),
                  c.runEntry ? std::optional(L"\"" + folder + L"\\TVN Cache.exe\"") : std::nullopt);
        test::RemoveTree(L"C:\\tvn-long-" + std::wstring(108, L'a'));
    }
}

// The Menu button's popup: nothing happens when it is dismissed; About opens the about box
// centred on the dialog with its version line, and OK closes it.
TEST_F(PropertiesProgramTest, MenuOpensTheAboutBoxCentredOnTheDialog) {
    PropertiesProgram program;
    Start(program);
    // Far enough from the screen's edges for the box to be centred without being moved in.
    SetWindowPos(program.Dialog(), nullptr, 300, 200, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    HWND menu = program.OpenMenu();
    ASSERT_NE(menu, nullptr);
    PropertiesProgram::MenuKey(menu, VK_ESCAPE);
    EXPECT_TRUE(PropertiesProgram::WaitGone(menu));
    EXPECT_EQ(program.WaitForWindow(L"#32770", program.Dialog(), 300), nullptr);

    ChooseFromMenu(program, 2);
    HWND about = program.WaitForWindow(L"#32770", program.Dialog());
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(test::WindowText(about), test::kAboutTitle);
    EXPECT_EQ(test::WindowText(GetDlgItem(about, IDC_ABOUT_VERSION)), L"Version 5.00.x64");
    EXPECT_EQ(test::WindowText(GetDlgItem(about, IDC_ABOUT_CONTACT_LINK)),
              L"Click here to contact us via our Web site.");
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(about, IDC_ABOUT_WEB_LINK), GWL_STYLE) & SS_NOTIFY);
    RECT box = WindowRect(about);
    RECT dialog = WindowRect(program.Dialog());
    EXPECT_NEAR((box.left + box.right) / 2, (dialog.left + dialog.right) / 2, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2, (dialog.top + dialog.bottom) / 2, 1);
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(PropertiesProgram::WaitGone(about));
    program.PostCommand(IDCANCEL);
    EXPECT_EQ(program.WaitForExit(), 2u);
}

}  // namespace
}  // namespace tvn
