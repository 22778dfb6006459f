// TVN Properties.exe end to end, its settings: the real program started in the test prefix and
// driven from this process through its dialog, the values it stores read back from the
// registry: defaults, stored values out of range, the one-character fields, the cache
// switches and their questions, the Run entry, and reloading on the settings-changed message.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "program_driver.h"
#include "programs.h"
#include "properties_program_fixture.h"
#include "resource.h"

namespace tvn {
namespace {

using test::Narrow;
using test::PropertiesProgram;

// Whether a process started from a file of this name is running, whatever its folder.
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

}  // namespace
}  // namespace tvn
