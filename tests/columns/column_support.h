// Helpers of the column extension's tests: the installed TVN.dll and cache server, the
// settings key, and one cell asked of a real FolderSize object created through COM.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "programs.h"  // RunProgram, Quoted, BuildTop

namespace tvn::test {

inline constexpr wchar_t kDllPath[] = L"C:\\Program Files\\Tolvane\\TVN.dll";
inline constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Quorlen\\Tolvane\\Settings";

// Copies TVN.dll (and the cache server, when it was built) from the build tree into
// kInstallDir. Returns false when TVN.dll could not be copied.
bool InstallBuilt();
bool CacheServerBuilt();
// Lets a running cache server go (ReleaseServer) and waits until it has ended. A server that
// COM started from a test's program holds that program's output open, so every case that may
// start one ends with this.
void StopCacheServer();

// Settings key of the current user.
void ClearSettings();
void SetInteger(const wchar_t* name, int64_t value);          // 8-byte REG_BINARY
void SetDword(const wchar_t* name, DWORD value);              // 4-byte REG_DWORD
void SetText(const wchar_t* name, const std::wstring& text);  // REG_BINARY with terminator
void SetCharacter(const wchar_t* name, wchar_t value);        // 2-byte REG_BINARY

struct Cell {
    HRESULT hr = E_FAIL;
    std::wstring text;  // the BSTR when hr is S_OK
};

// One cell of column `pid` for `path`; a folder when `folder` is true.
Cell AskCell(IColumnProvider* provider, DWORD pid, const std::wstring& path, bool folder);

// The texts as the provider right-aligns them for plain sorting.
std::wstring Padded(const std::wstring& text);

}  // namespace tvn::test
