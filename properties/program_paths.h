// Paths of files that lie beside the running program: the cache server for the Run entry and
// the help file. They are used as ordinary Windows paths, so they must fit MAX_PATH; a folder
// too long for that gives no path at all, never a cut one.
#pragma once

#include <windows.h>

#include <string>

namespace tvn {

// `programPath` up to its last backslash, then `tail` (which starts with a backslash).
// Empty when there is no backslash or the result would not fit MAX_PATH with its zero.
std::wstring PathBeside(const std::wstring& programPath, const wchar_t* tail);

// The full path of the running program (whatever its length); empty on failure.
std::wstring RunningProgramPath();

}  // namespace tvn
