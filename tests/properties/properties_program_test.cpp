// TVN Properties.exe end to end: the real program started in the test prefix and driven from
// this process through its windows, the settings it stores read back from the registry.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "program_driver.h"
#include "programs.h"
#include "resource.h"
#include "settings_store.h"
#include "test_tree.h"

namespace tvn {
namespace {

namespace Store = SettingsStore;
using test::Narrow;
using test::PropertiesProgram;

constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Tolvane Properties";
constexpr wchar_t kProgram[] = L"C:\\Program Files\\Tolvane Properties\\TVN Properties.exe";
constexpr wchar_t kHelpLog[] = L"C:\\tvn-htmlhelp.log";
constexpr wchar_t kHelpClassKey[] =
    L"Software\\Classes\\CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

using Bytes = std::vector<BYTE>;

// A path the file functions take whatever its length.
std::wstring LongForm(const std::wstring& path) {
    return path.size() >= MAX_PATH - 12 && path.rfind(L"\\\\?\\", 0) != 0 ? L"\\\\?\\" + path
                                                                          : path;
}

bool CopyBuilt(const wchar_t* relative, const std::wstring& target) {
    return CopyFileW(test::BuiltFile(relative).c_str(), LongForm(target).c_str(), FALSE) != FALSE;
}

// The program and its help file where a setup would put them.
void InstallProgram(const std::wstring& folder) {
    test::CreateFolders(folder);
    ASSERT_TRUE(CopyBuilt(L"properties\\TVN Properties.exe", folder + L"\\TVN Properties.exe"))
        << GetLastError();
    ASSERT_TRUE(CopyBuilt(L"properties\\Tolvane.chm", folder + L"\\Tolvane.chm"));
}

Bytes Integer(int64_t value) {
    Bytes bytes(8);
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}
Bytes Character(wchar_t value) {
    Bytes bytes(2);
    std::memcpy(bytes.data(), &value, 2);
    return bytes;
}
Bytes Text(const std::wstring& text) {
    Bytes bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.c_str(), text.size() * 2);
    return bytes;
}

// A stored settings value as raw bytes; nothing when it is missing.
std::optional<Bytes> Stored(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Store::kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    Bytes data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << Narrow(name);
    data.resize(size);
    return data;
}

void Put(const wchar_t* name, const Bytes& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Store::kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_BINARY, data.data(), DWORD(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::optional<std::wstring> RunEntry() {
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - 2;
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, Store::kRunKeyPath, Store::kRunValueName, RRF_RT_ANY, &type,
                     data, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    return std::wstring(data);
}

void ClearSettings() {
    RegDeleteTreeW(HKEY_CURRENT_USER, Store::kKeyPath);
    Store::RemoveAutostart();
}

RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

bool ProcessNamed(const wchar_t* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        found = _wcsicmp(entry.szExeFile, name) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

class PropertiesProgramTest : public testing::Test {
  protected:
    // The program's windows are unmanaged while these cases run: without a window manager
    // on the test display, Wine would wait two seconds for each activated managed window to
    // be withdrawn when it goes.
    static void SetUpTestSuite() {
        InstallProgram(kInstallDir);
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kX11DriverKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            DWORD size = sizeof(oldManaged_);
            hadManaged_ =
                RegQueryValueExW(key, L"Managed", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(oldManaged_), &size) == ERROR_SUCCESS;
            RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 4);
            RegCloseKey(key);
        }
    }
    static void TearDownTestSuite() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kX11DriverKey, 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            if (hadManaged_) {
                RegSetValueExW(key, L"Managed", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(oldManaged_),
                               DWORD((wcslen(oldManaged_) + 1) * 2));
            } else {
                RegDeleteValueW(key, L"Managed");
            }
            RegCloseKey(key);
        }
    }
    static constexpr const wchar_t* kX11DriverKey = L"Software\\Wine\\X11 Driver";
    static inline bool hadManaged_ = false;
    static inline wchar_t oldManaged_[16] = {};
    void SetUp() override { ClearSettings(); }
    void TearDown() override { ClearSettings(); }

    // Starts the installed program and waits for its dialog.
    void Start(PropertiesProgram& program, const wchar_t* path = kProgram) {
        ASSERT_TRUE(program.Start(path)) << "the dialog did not show";
    }
};

// First start: every default shown, and OK stores all eleven values with their exact bytes.
TEST_F(PropertiesProgramTest, FirstStartShowsTheDefaultsAndOkStoresEveryValue) {
    PropertiesProgram program;
    Start(program);
    HWND dialog = program.Dialog();
    EXPECT_EQ(test::WindowText(dialog), test::kDialogTitle);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    struct Shown {
        int control;
        int selection;
        const wchar_t* text;
    };
    const Shown shown[] = {
        {IDC_VIEW_STYLE, 0, L"Folders and Files"}, {IDC_SIZE_UNITS, 1, L"KBytes"},
        {IDC_DECIMAL_DIGITS, 0, L"Don't show"},    {IDC_BAR_STYLE, 0, L"Value and Bar"},
        {IDC_DIGIT_GROUPING, -2, L"Space"},        {IDC_BAR_SYMBOL, -2, L"\x2022"},
    };
    for (const Shown& s : shown) {
        if (s.selection != -2) {
            EXPECT_EQ(program.Selection(s.control), s.selection) << s.control;
        }
        EXPECT_EQ(program.Text(s.control), s.text) << s.control;
    }
    EXPECT_EQ(program.Text(IDC_COLUMN_TITLE), L"VudaZe");
    EXPECT_TRUE(program.Checked(IDC_ENABLE_CACHE));
    EXPECT_FALSE(program.Checked(IDC_CACHE_ALL));
    EXPECT_TRUE(program.Checked(IDC_ALWAYS_ON_TOP));
    EXPECT_FALSE(program.Checked(IDC_START_WITH_WINDOWS));
    EXPECT_TRUE(program.Enabled(IDC_RESET_CACHE));
    EXPECT_FALSE(IsWindowVisible(program.Control(IDC_ENABLE_SPLASH)));
    EXPECT_FALSE(program.Enabled(IDC_ENABLE_SPLASH));  // Cache all is off

    program.PostCommand(IDOK);
    EXPECT_EQ(program.WaitForExit(), 1u);

    struct Value {
        const wchar_t* name;
        Bytes bytes;
    };
    const Value values[] = {
        {Store::kViewStyle, Integer(0)},        {Store::kViewMetric, Integer(1)},
        {Store::kEnableCache, Integer(1)},      {Store::kAlwaysOnTop, Integer(1)},
        {Store::kCacheAll, Integer(0)},         {Store::kEnableUpdSplash, Integer(1)},
        {Store::kPB_Style, Integer(0)},         {Store::kPB_Symbol, Character(L'\x2022')},
        {Store::kColumnTitle, Text(L"VudaZe")}, {Store::kSeparator, Character(L' ')},
        {Store::kDecimalDigits, Integer(0)},
    };
    for (const Value& value : values) {
        std::optional<Bytes> stored = Stored(value.name);
        ASSERT_TRUE(stored.has_value()) << Narrow(value.name);
        EXPECT_EQ(*stored, value.bytes) << Narrow(value.name);
    }
    std::optional<Bytes> position = Stored(Store::kWindowSubPos);
    ASSERT_TRUE(position.has_value());
    EXPECT_EQ(position->size(), 12u);
    EXPECT_FALSE(RunEntry().has_value());
}

// Stored numbers that name no item show no selection, and OK stores -1 for them; checks other
// than 1 show unchecked.
TEST_F(PropertiesProgramTest, StoredIndexOutsideItsListShowsNoSelectionAndOkStoresMinusOne) {
    Put(Store::kViewStyle, Integer(4));
    Put(Store::kViewMetric, Integer(-1));
    Put(Store::kDecimalDigits, Integer(int64_t(1) << 32));  // would wrap onto item 0
    Put(Store::kPB_Style, Integer(2));
    Put(Store::kAlwaysOnTop, Integer(0));
    Put(Store::kCacheAll, Integer(2));
    PropertiesProgram program;
    Start(program);
    EXPECT_EQ(program.Selection(IDC_VIEW_STYLE), -1);
    EXPECT_EQ(program.Selection(IDC_SIZE_UNITS), -1);
    EXPECT_EQ(program.Selection(IDC_DECIMAL_DIGITS), -1);
    EXPECT_EQ(program.Selection(IDC_BAR_STYLE), 2);
    EXPECT_FALSE(GetWindowLongW(program.Dialog(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(program.Checked(IDC_CACHE_ALL));
    program.PostCommand(IDOK);
    EXPECT_EQ(program.WaitForExit(), 1u);
    EXPECT_EQ(Stored(Store::kViewStyle), Integer(-1));
    EXPECT_EQ(Stored(Store::kViewMetric), Integer(-1));
    EXPECT_EQ(Stored(Store::kDecimalDigits), Integer(-1));
    EXPECT_EQ(Stored(Store::kPB_Style), Integer(2));
    EXPECT_EQ(Stored(Store::kAlwaysOnTop), Integer(0));
    EXPECT_EQ(Stored(Store::kCacheAll), Integer(0));
}

// The two one-character fields: choices from their lists, typed texts cut to one character,
// and empty fields.
TEST_F(PropertiesProgramTest, OneCharacterFieldsStoreWhatTheirTextMeans) {
    struct Edit {
        int select;            // item to choose, or -1
        const wchar_t* typed;  // text to type, when no item is chosen
        const wchar_t* shown;  // the field's text afterwards
    };
    struct Case {
        Edit separator;
        Edit symbol;
        wchar_t storedSeparator;
        wchar_t storedSymbol;
    };
    const Case cases[] = {
        {{0, nullptr, L"Don't use"}, {1, nullptr, L"\x00B7"}, L'\0', L'\x00B7'},
        {{1, nullptr, L"Space"}, {-1, L"ab", L"a"}, L' ', L'a'},
        {{-1, L"dON'T USE", L"d"}, {-1, L"", L""}, L'd', L'\0'},
        {{-1, L"", L""}, {4, nullptr, L"\x2014"}, L'\0', L'\x2014'},
        {{3, nullptr, L","}, {0, nullptr, L"|"}, L',', L'|'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.separator.shown) + " / " + Narrow(c.symbol.shown));
        ClearSettings();
        PropertiesProgram program;
        Start(program);
        for (auto [id, edit] :
             {std::pair{IDC_DIGIT_GROUPING, c.separator}, std::pair{IDC_BAR_SYMBOL, c.symbol}}) {
            if (edit.select >= 0) {
                program.Select(id, edit.select);
            } else {
                program.Type(id, edit.typed);
            }
            EXPECT_EQ(program.Text(id), edit.shown);
        }
        program.PostCommand(IDOK);
        EXPECT_EQ(program.WaitForExit(), 1u);
        EXPECT_EQ(Stored(Store::kSeparator), Character(c.storedSeparator));
        EXPECT_EQ(Stored(Store::kPB_Symbol), Character(c.storedSymbol));
    }
}

// Unchecking Enable cache asks first: No takes it back, Yes disables Reset cache and OK
// stores 0.
TEST_F(PropertiesProgramTest, DisablingTheCacheAsksAndNoTakesItBack) {
    PropertiesProgram program;
    Start(program);
    program.PostClick(IDC_ENABLE_CACHE);
    HWND box = program.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(test::WindowText(box), test::kDialogTitle);
    EXPECT_EQ(PropertiesProgram::MessageBoxText(box),
              L"Disabling cache will reduce the application\x2019s performance.\n"
              L"Are you certain you want to disable cache?");
    PropertiesProgram::Answer(box, IDNO);
    ASSERT_TRUE(PropertiesProgram::WaitGone(box));
    EXPECT_TRUE(program.Checked(IDC_ENABLE_CACHE));
    EXPECT_TRUE(program.Enabled(IDC_RESET_CACHE));

    program.PostClick(IDC_ENABLE_CACHE);
    box = program.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    PropertiesProgram::Answer(box, IDYES);
    ASSERT_TRUE(PropertiesProgram::WaitGone(box));
    EXPECT_FALSE(program.Checked(IDC_ENABLE_CACHE));
    EXPECT_FALSE(program.Enabled(IDC_RESET_CACHE));

    // Checking it again asks nothing and enables Reset cache.
    program.Click(IDC_ENABLE_CACHE);
    EXPECT_TRUE(program.Enabled(IDC_RESET_CACHE));
    program.PostClick(IDC_ENABLE_CACHE);
    box = program.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    PropertiesProgram::Answer(box, IDYES);
    ASSERT_TRUE(PropertiesProgram::WaitGone(box));

    // Cache all enables the (hidden) splash box and leaves its check as it was.
    program.Click(IDC_CACHE_ALL);
    EXPECT_TRUE(program.Enabled(IDC_ENABLE_SPLASH));
    EXPECT_TRUE(program.Checked(IDC_ENABLE_SPLASH));
    program.PostCommand(IDOK);
    EXPECT_EQ(program.WaitForExit(), 1u);
    EXPECT_EQ(Stored(Store::kEnableCache), Integer(0));
    EXPECT_EQ(Stored(Store::kCacheAll), Integer(1));
    EXPECT_EQ(Stored(Store::kEnableUpdSplash), Integer(1));
}

// Start cache with Windows mirrors the Run entry; OK writes or deletes it, Cancel neither.
TEST_F(PropertiesProgramTest, StartWithWindowsWritesOrDeletesTheRunEntryOnOkOnly) {
    const std::wstring server = L"\"" + std::wstring(kInstallDir) + L"\\TVN Cache.exe\"";
    struct Case {
        const wchar_t* before;  // Run entry before the start, or none
        bool click;
        int close;
        std::optional<std::wstring> after;
    };
    const Case cases[] = {
        {nullptr, true, IDOK, server},
        {L"C:\\elsewhere\\TVN Cache.exe", true, IDOK, std::nullopt},
        {L"C:\\elsewhere\\TVN Cache.exe", true, IDCANCEL, L"\"C:\\elsewhere\\TVN Cache.exe\""},
        {nullptr, true, IDCANCEL, std::nullopt},
        {L"x", false, IDOK, server},  // an entry of any content counts as checked
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.before ? c.before : L"(none)") + " close " + std::to_string(c.close));
        ClearSettings();
        if (c.before != nullptr) {
            ASSERT_EQ(Store::SetAutostart(c.before), ERROR_SUCCESS);
        }
        PropertiesProgram program;
        Start(program);
        EXPECT_EQ(program.Checked(IDC_START_WITH_WINDOWS), c.before != nullptr);
        if (c.click) {
            program.Click(IDC_START_WITH_WINDOWS);
        }
        program.PostCommand(c.close);
        EXPECT_EQ(program.WaitForExit(), c.close == IDOK ? 1u : 2u);
        EXPECT_EQ(RunEntry(), c.after);
    }
}

// Reset cache with no server running: the question, the button disabled meanwhile, and no
// server started for it.
TEST_F(PropertiesProgramTest, ResetCacheWithoutAServerStartsNone) {
    ASSERT_FALSE(ProcessNamed(L"TVN Cache.exe"));
    PropertiesProgram program;
    Start(program);
    for (int answer : {IDNO, IDYES}) {
        program.PostClick(IDC_RESET_CACHE);
        HWND box = program.WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(PropertiesProgram::MessageBoxText(box),
                  L"Resetting cache will temporarily reduce the application\x2019s performance.\n"
                  L"Please only follow this procedure if you are sure the program displays an "
                  L"incorrect folder size.\nContinue?");
        EXPECT_FALSE(program.Enabled(IDC_RESET_CACHE));
        PropertiesProgram::Answer(box, answer);
        ASSERT_TRUE(PropertiesProgram::WaitGone(box));
        SendMessageW(program.Dialog(), WM_NULL, 0, 0);
        EXPECT_TRUE(program.Enabled(IDC_RESET_CACHE));
    }
    EXPECT_FALSE(ProcessNamed(L"TVN Cache.exe"));
    HANDLE mutex =
        OpenMutexW(SYNCHRONIZE, FALSE, L"TVNCacheServer.{3677DD7F-E6BF-4081-B50D-39D336FD1089}");
    EXPECT_EQ(mutex, nullptr);
    if (mutex != nullptr) {
        CloseHandle(mutex);
    }
    program.PostCommand(IDCANCEL);
    EXPECT_EQ(program.WaitForExit(), 2u);
}

// A title of 200 characters is stored whole and shown whole at the next start.
TEST_F(PropertiesProgramTest, LongTitleIsStoredAndShownWhole) {
    std::wstring title;
    for (int i = 0; i < 200; ++i) {
        title += wchar_t(L'A' + i % 26);
    }
    {
        PropertiesProgram program;
        Start(program);
        program.SetText(IDC_COLUMN_TITLE, title);
        program.PostCommand(IDOK);
        EXPECT_EQ(program.WaitForExit(), 1u);
    }
    EXPECT_EQ(Stored(Store::kColumnTitle), Text(title));
    PropertiesProgram again;
    Start(again);
    EXPECT_EQ(again.Text(IDC_COLUMN_TITLE), title);
    again.PostCommand(IDCANCEL);
    EXPECT_EQ(again.WaitForExit(), 2u);
}

// The settings-changed message reloads every control at once, unsaved edits included.
TEST_F(PropertiesProgramTest, SettingsChangedMessageReloadsTheDialogAtOnce) {
    PropertiesProgram program;
    Start(program);
    program.SetText(IDC_COLUMN_TITLE, L"typed, not saved");
    Put(Store::kViewMetric, Integer(3));
    Put(Store::kSeparator, Character(L'.'));
    Put(Store::kEnableCache, Integer(0));
    Store::BroadcastConfigUpdate(Store::RegisterConfigUpdateMessage());
    EXPECT_EQ(program.Selection(IDC_SIZE_UNITS), 3);
    EXPECT_EQ(program.Text(IDC_DIGIT_GROUPING), L".");
    EXPECT_EQ(program.Text(IDC_COLUMN_TITLE), L"VudaZe");
    EXPECT_FALSE(program.Checked(IDC_ENABLE_CACHE));
    EXPECT_FALSE(program.Enabled(IDC_RESET_CACHE));
    program.PostCommand(IDCANCEL);
    EXPECT_EQ(program.WaitForExit(), 2u);
    EXPECT_EQ(Stored(Store::kViewMetric), Integer(3));  // Cancel stored nothing
}

// A second start brings the running dialog forward and ends with 1; one dialog stays.
TEST_F(PropertiesProgramTest, SecondStartBringsTheFirstForwardAndEndsWithOne) {
    PropertiesProgram first;
    Start(first);
    PropertiesProgram second;
    ASSERT_TRUE(second.Start(kProgram, SW_SHOWNORMAL, false));
    EXPECT_EQ(second.WaitForExit(), 1u);
    EXPECT_EQ(test::CountPropertiesDialogs(), 1);
    EXPECT_EQ(GetForegroundWindow(), first.Dialog());
    first.PostCommand(IDCANCEL);
    EXPECT_EQ(first.WaitForExit(), 2u);
}

// Every way of closing stores the position (12 bytes: left, top, show command) and ends
// with its code; the next start is placed there.
TEST_F(PropertiesProgramTest, EveryCloseStoresThePositionWithItsExitCode) {
    struct Case {
        const char* name;
        void (*close)(PropertiesProgram&);
        DWORD code;
    };
    const Case cases[] = {
        {"OK", [](PropertiesProgram& p) { p.PostCommand(IDOK); }, 1},
        {"Cancel", [](PropertiesProgram& p) { p.PostCommand(IDCANCEL); }, 2},
        {"close box",
         [](PropertiesProgram& p) { PostMessageW(p.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }, 2},
        {"Escape",
         [](PropertiesProgram& p) {
             PostMessageW(p.Control(IDC_COLUMN_TITLE), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         },
         2},
    };
    int x = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearSettings();
        {
            PropertiesProgram program;
            Start(program);
            SetWindowPos(program.Dialog(), nullptr, x, 70, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            c.close(program);
            EXPECT_EQ(program.WaitForExit(), c.code);
        }
        std::optional<Bytes> stored = Stored(Store::kWindowSubPos);
        ASSERT_TRUE(stored.has_value());
        ASSERT_EQ(stored->size(), 12u);
        int32_t left, top;
        uint32_t show;
        std::memcpy(&left, stored->data(), 4);
        std::memcpy(&top, stored->data() + 4, 4);
        std::memcpy(&show, stored->data() + 8, 4);
        EXPECT_EQ(left, x);
        EXPECT_EQ(top, 70);
        EXPECT_EQ(show, static_cast<uint32_t>(SW_SHOWNORMAL));
        x += 30;
    }
    PropertiesProgram next;
    Start(next);
    EXPECT_EQ(WindowRect(next.Dialog()).left, x - 30);
    EXPECT_EQ(WindowRect(next.Dialog()).top, 70);
    next.PostCommand(IDCANCEL);
    EXPECT_EQ(next.WaitForExit(), 2u);
}

Bytes Position(int32_t left, int32_t top, uint32_t show) {
    Bytes bytes(12);
    std::memcpy(bytes.data(), &left, 4);
    std::memcpy(bytes.data() + 4, &top, 4);
    std::memcpy(bytes.data() + 8, &show, 4);
    return bytes;
}

Bytes Placement(RECT normal) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    placement.showCmd = SW_SHOWNORMAL;
    placement.rcNormalPosition = normal;
    Bytes bytes(sizeof(placement));
    std::memcpy(bytes.data(), &placement, sizeof(placement));
    return bytes;
}

// Stored positions are brought onto the virtual screen by their form's rule; other lengths
// are ignored.
TEST_F(PropertiesProgramTest, StoredPositionIsKeptOnTheVirtualScreen) {
    const LONG vl = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const LONG vt = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const LONG vr = vl + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const LONG vb = vt + GetSystemMetrics(SM_CYVIRTUALSCREEN);

    RECT unplaced{};
    {
        PropertiesProgram program;
        Start(program);
        unplaced = WindowRect(program.Dialog());
        program.PostCommand(IDCANCEL);
        EXPECT_EQ(program.WaitForExit(), 2u);
    }
    const LONG width = unplaced.right - unplaced.left;
    const LONG height = unplaced.bottom - unplaced.top;

    struct Case {
        const char* name;
        Bytes stored;
        LONG left;
        LONG top;
    };
    const Case cases[] = {
        {"12 bytes on the screen", Position(100, 120, SW_SHOWNORMAL), 100, 120},
        {"12 bytes right of the screen", Position(5000, 100, SW_SHOWNORMAL), vr / 2, 100},
        {"12 bytes left of and below the screen", Position(-3000, 5000, SW_SHOWNORMAL), vl, vb / 2},
        {"44 bytes above the screen", Placement({200, -500, 200 + width, -500 + height}), 200, vt},
        {"44 bytes left of the screen", Placement({-900, 50, -900 + width, 50 + height}), vl, 50},
        {"44 bytes of extremes", Placement({LONG_MAX, LONG_MIN, LONG_MIN, LONG_MAX}), vr - width,
         vt},
        {"50 bytes", Bytes(50, 0x10), unplaced.left, unplaced.top},
        {"8 bytes", Bytes(8, 0x10), unplaced.left, unplaced.top},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearSettings();
        Put(Store::kWindowSubPos, c.stored);
        PropertiesProgram program;
        Start(program);
        RECT placed = WindowRect(program.Dialog());
        EXPECT_EQ(placed.left, c.left);
        EXPECT_EQ(placed.top, c.top);
        EXPECT_EQ(placed.bottom - placed.top, height);
        EXPECT_EQ(placed.right - placed.left, width);
        program.PostCommand(IDCANCEL);
        EXPECT_EQ(program.WaitForExit(), 2u);
    }
}

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

// A program whose dialog cannot be created shows nothing and ends with 0.
TEST_F(PropertiesProgramTest, DialogThatCannotBeCreatedEndsWithZero) {
    const std::wstring folder = L"C:\\tvn-props-without-dialog";
    InstallProgram(folder);
    const std::wstring path = folder + L"\\TVN Properties.exe";
    // The dialog's language, as the resource compiler wrote it.
    WORD language = 0;
    bool found = false;
    if (HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        EnumResourceLanguagesW(
            image, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROPERTIES),
            [](HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR context) -> BOOL {
                *reinterpret_cast<WORD*>(context) = lang;
                return FALSE;
            },
            reinterpret_cast<LONG_PTR>(&language));
        found = FindResourceExW(image, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROPERTIES), language);
        FreeLibrary(image);
    }
    ASSERT_TRUE(found);
    // Dialog 129 replaced by one whose only control is of a class nobody registered: the
    // system cannot create it.
    std::vector<WORD> dialogTemplate;
    auto put32 = [&](DWORD v) {
        dialogTemplate.push_back(LOWORD(v));
        dialogTemplate.push_back(HIWORD(v));
    };
    put32(WS_POPUP | WS_CAPTION);
    put32(0);
    dialogTemplate.insert(dialogTemplate.end(),
                          {1, 0, 0, 100, 50, 0, 0, 0});  // no menu, class, title
    if (dialogTemplate.size() % 2 != 0) {
        dialogTemplate.push_back(0);
    }
    put32(WS_CHILD | WS_VISIBLE);
    put32(0);
    dialogTemplate.insert(dialogTemplate.end(), {0, 0, 50, 10, 1000});
    for (const wchar_t* c = L"NoSuchControlClass";; ++c) {
        dialogTemplate.push_back(WORD(*c));
        if (*c == 0) {
            break;
        }
    }
    dialogTemplate.insert(dialogTemplate.end(), {0, 0});  // no title, no creation data
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceW(update, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROPERTIES), language,
                                dialogTemplate.data(), DWORD(dialogTemplate.size() * 2)));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    PropertiesProgram program;
    ASSERT_TRUE(program.Start(path, SW_SHOWNORMAL, false));
    EXPECT_EQ(program.WaitForExit(), 0u);
    EXPECT_EQ(test::CountPropertiesDialogs(), 0);
    test::RemoveTree(folder);
}

}  // namespace
}  // namespace tvn
