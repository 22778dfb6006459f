// The crash reporter in a real failing process (crash_victim.exe beside this test): the dump
// in the documents folder, the message box answered from here, and the exit code.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <optional>
#include <string>

#include "crash_reporter.h"
#include "programs.h"
#include "registration.h"
#include "unique_handle.h"

namespace {

constexpr DWORD kReporterExitCode = 0xFFFF;
constexpr DWORD kAccessViolation = 0xC0000005;

std::wstring DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path));
    return path;
}

std::wstring VictimPath() {
    std::wstring path = tvn::Registration::ModulePath(nullptr);
    return path.substr(0, path.rfind(L'\\') + 1) + L"crash_victim.exe";
}

// Disables dbghelp for crash_victim.exe while it lives, as if the library were missing. Wine
// takes a child's WINEDLLOVERRIDES from its own environment, not from the environment block
// given to CreateProcessW, so the per-program override key is used instead.
class DbghelpDisabled {
  public:
    DbghelpDisabled() {
        RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(),
                        nullptr);
        RegSetValueExW(key_.get(), L"dbghelp", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                       sizeof(wchar_t));
    }
    ~DbghelpDisabled() {
        key_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\crash_victim.exe");
    }

  private:
    static constexpr const wchar_t* kKey =
        L"Software\\Wine\\AppDefaults\\crash_victim.exe\\DllOverrides";
    tvn::UniqueHKey key_;
};

struct Outcome {
    bool started = false;
    bool ended = false;
    bool messageBoxShown = false;
    DWORD exitCode = 0;
};

// Starts the victim with `arguments`, answers its message box (found by `caption`) and waits
// for its end.
Outcome RunVictim(const std::wstring& arguments, const std::wstring& caption,
                  bool dbghelpDisabled) {
    Outcome outcome;
    std::wstring commandLine = L"\"" + VictimPath() + L"\" " + arguments;
    std::optional<DbghelpDisabled> noDbghelp;
    if (dbghelpDisabled) {
        noDbghelp.emplace();
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return outcome;
    }
    outcome.started = true;
    tvn::UniqueHandleObj processHandle(process.hProcess);
    tvn::UniqueHandleObj threadHandle(process.hThread);

    // Writing the dump takes seconds under Wine; the deadline only bounds a hung victim.
    const ULONGLONG deadline = GetTickCount64() + 120000;
    while (GetTickCount64() < deadline) {
        HWND box = FindWindowW(L"#32770", caption.c_str());
        if (box != nullptr) {
            outcome.messageBoxShown = true;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        if (WaitForSingleObject(processHandle.get(), 100) == WAIT_OBJECT_0) {
            outcome.ended = true;
            break;
        }
    }
    if (!outcome.ended) {
        TerminateProcess(processHandle.get(), 1);
        WaitForSingleObject(processHandle.get(), 5000);
        return outcome;
    }
    GetExitCodeProcess(processHandle.get(), &outcome.exitCode);
    return outcome;
}

// The first bytes of a file, or nothing when it does not exist.
std::string ReadHead(const std::wstring& path, uint64_t* size) {
    *size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::string();
    }
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    tvn::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    char head[4] = {};
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), head, sizeof(head), &read, nullptr)) {
        return std::string();
    }
    return std::string(head, read);
}

void WriteStaleFile(const std::wstring& path) {
    tvn::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), "stale", 5, &written, nullptr));
}

// When the reporter steps aside, Wine's unhandled-exception path starts its debugger, which
// by default waits on a crash dialog. For the time of a test it only ends the process, as
// Windows does without a debugger.
class NoCrashDialog {
  public:
    NoCrashDialog() {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineDbg", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, key_.put(), nullptr);
        DWORD size = sizeof(previous_);
        hadValue_ = RegQueryValueExW(key_.get(), kName, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&previous_), &size) == ERROR_SUCCESS;
        DWORD off = 0;
        RegSetValueExW(key_.get(), kName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off),
                       sizeof(off));
    }
    ~NoCrashDialog() {
        if (hadValue_) {
            RegSetValueExW(key_.get(), kName, 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&previous_), sizeof(previous_));
        } else {
            RegDeleteValueW(key_.get(), kName);
        }
    }

  private:
    static constexpr const wchar_t* kName = L"ShowCrashDialog";
    tvn::UniqueHKey key_;
    DWORD previous_ = 0;
    bool hadValue_ = false;
};

}  // namespace

TEST(CrashReporter, FailingProcess) {
    NoCrashDialog noCrashDialog;
    struct Case {
        const char* what;
        const wchar_t* mode;
        bool dbghelpDisabled;
        bool expectDump;  // a dump replaces the stale file, the box shows, exit code 65535
        DWORD exitCode;
    };
    const Case cases[] = {
        {"access violation", L"fault", false, true, kReporterExitCode},
        {"no exception information", L"null", false, true, kReporterExitCode},
        {"dbghelp missing: the system handles it", L"fault", true, false, kAccessViolation},
        {"uninstalled: the earlier filter is back", L"uninstalled", false, false, kAccessViolation},
    };
    const std::wstring documents = DocumentsFolder();
    ASSERT_FALSE(documents.empty());
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ++index;
        const std::wstring name = L"TVN Victim " + std::to_wstring(index);
        const std::wstring caption = L"Tolvane\x2122 victim " + std::to_wstring(index);
        const std::wstring dumpPath = documents + L"\\" + name + L".dmp";
        if (c.expectDump) {
            WriteStaleFile(dumpPath);  // an older dump of the same name is overwritten
        } else {
            DeleteFileW(dumpPath.c_str());
        }

        Outcome outcome =
            RunVictim(std::wstring(c.mode) + L" \"" + caption + L"\" \"" + name + L".dmp\"",
                      caption, c.dbghelpDisabled);
        ASSERT_TRUE(outcome.started) << "cannot start " << testing::PrintToString(VictimPath());
        ASSERT_TRUE(outcome.ended) << "the victim did not end";
        EXPECT_EQ(c.exitCode, outcome.exitCode);
        EXPECT_EQ(c.expectDump, outcome.messageBoxShown);

        uint64_t size = 0;
        std::string head = ReadHead(dumpPath, &size);
        if (c.expectDump) {
            EXPECT_EQ("MDMP", head);
            EXPECT_GT(size, 5u);
        } else {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(dumpPath.c_str()));
        }
        DeleteFileW(dumpPath.c_str());
    }
}

TEST(CrashReporter, InstallRejectsUnusableDumpNames) {
    // A rejected install leaves the process's filter untouched.
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(before);
    const std::wstring tooLong(MAX_PATH, L'n');
    for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), L"", tooLong.c_str()}) {
        EXPECT_FALSE(tvn::CrashReporter::Install(L"caption", L"message", name));
        LPTOP_LEVEL_EXCEPTION_FILTER now = SetUnhandledExceptionFilter(before);
        EXPECT_EQ(before, now);
    }
}

TEST(CrashReporter, UninstallPutsBackThePreviousFilterOnly) {
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(before);

    ASSERT_TRUE(tvn::CrashReporter::Install(L"caption", L"message", L"test.dmp"));
    ASSERT_TRUE(tvn::CrashReporter::Install(L"caption 2", L"message", L"test.dmp"));  // again
    tvn::CrashReporter::Uninstall();
    EXPECT_EQ(before, SetUnhandledExceptionFilter(before));

    // A filter installed after the reporter's is someone else's and stays.
    auto later = [](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_CONTINUE_SEARCH; };
    ASSERT_TRUE(tvn::CrashReporter::Install(L"caption", L"message", L"test.dmp"));
    SetUnhandledExceptionFilter(later);
    tvn::CrashReporter::Uninstall();
    EXPECT_EQ(static_cast<LPTOP_LEVEL_EXCEPTION_FILTER>(later),
              SetUnhandledExceptionFilter(before));
}

// The column extension and the toolbar in one host, loaded and freed in every order, then the
// host fails: its own filter runs when both have gone, the reporter of the one left otherwise;
// never a filter whose code has gone.
TEST(CrashReporter, LibrariesComingAndGoingInAnyOrderLeaveALiveFilter) {
    NoCrashDialog noCrashDialog;
    const std::wstring documents = DocumentsFolder() + L"\\";
    // C/B load TVN.dll/TVN Bar.dll, c/b free them; the dump of the library left, or none when
    // the host's own filter is to run (crash_victim's ends with 0x600D).
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"CBcb", nullptr}, {L"CBbc", nullptr},       {L"BCcb", nullptr},
        {L"BCbc", nullptr}, {L"CBc", L"TVN Bar.dmp"}, {L"BCb", L"TVN.dmp"}};
    for (auto [steps, dump] : cases) {
        SCOPED_TRACE(tvn::test::Narrow(steps));
        if (dump != nullptr) {
            DeleteFileW((documents + dump).c_str());
        }
        Outcome outcome =
            RunVictim(std::wstring(L"hosted ") + steps + L" \"" + tvn::test::BuildTop() + L"\"",
                      L"Tolvane\x2122", false);
        EXPECT_EQ(outcome.exitCode, dump != nullptr ? kReporterExitCode : 0x600Du);
        EXPECT_EQ(outcome.messageBoxShown, dump != nullptr);
        uint64_t size = 0;
        EXPECT_TRUE(dump == nullptr || ReadHead(documents + dump, &size) == "MDMP");
    }
}
