// Programs, files of the build tree and registry keys for tests: one copy of each helper.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "unique_handle.h"

namespace tvn::test {

// Exit codes RunProgram gives when the program could not be started or did not end in time.
inline constexpr DWORD kNotStarted = 0xBAD;
inline constexpr DWORD kTimedOut = 0xDEAD;

std::wstring Quoted(const std::wstring& path);
// The low byte of every unit: for messages of paths that are plain ASCII.
std::string Narrow(const std::wstring& text);

// Starts a command line with its standard handles on the file `output` (created or emptied;
// the standard input reads it too). A server must never inherit a test's own output: the
// harness reads it through a pipe until every writer has gone, and Wine hands a process with
// a NUL handle the parent's Unix descriptors. Returns the process handle, or null.
HANDLE StartProgram(const std::wstring& commandLine,
                    const std::wstring& output = L"C:\\tvn-program-output.txt",
                    const wchar_t* directory = L"C:\\");
// Runs a command line as StartProgram does and returns its exit code, kTimedOut when it did
// not end within `timeoutMs`, kNotStarted when it could not be started. Without `output` the
// program writes to a file of its own, deleted afterwards.
DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 60000,
                 const std::wstring& output = L"");
// The whole content of a file read as bytes (ASCII output of a helper program).
std::string ReadFileText(const std::wstring& path);

// Folder of the running test program (the build tree's tests\<area>), as the file functions
// reach it (a folder no drive maps is named "unix\..." by Wine and reached as "\\?\unix\...").
std::wstring TestProgramDir();
// Top of the build tree: two folders above the test program.
std::wstring BuildTop();
// A file of the build tree: BuildTop() + "\" + relative.
std::wstring BuiltFile(const std::wstring& relative);

// Where the tests install the built files, as setup would, and the cache server there.
inline constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Tolvane";
inline constexpr wchar_t kServerPath[] = L"C:\\Program Files\\Tolvane\\TVN Cache.exe";

bool KeyExists(HKEY root, const std::wstring& path);
// A REG_SZ value, or nothing when it is missing or of another type.
std::optional<std::wstring> StringValue(HKEY root, const std::wstring& path, const wchar_t* name);
struct KeyCounts {
    DWORD subkeys = 0;
    DWORD values = 0;
};
// The subkeys and values of a key (none when it cannot be opened).
KeyCounts CountKey(HKEY root, const std::wstring& path);

// A key of its own below HKCU\Software\TolvaneTest (named after `name`, or the running test
// when empty), emptied at the start and deleted with everything in it at the end.
class ScratchKey {
  public:
    explicit ScratchKey(const std::wstring& name = L"");
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    HKEY get() const { return key_.get(); }
    const std::wstring& Path() const { return path_; }  // below HKEY_CURRENT_USER

  private:
    std::wstring path_;
    UniqueHKey key_;
};

}  // namespace tvn::test
