// Start-up of TVN Properties.exe: crash reporter, single instance, COM, common controls, the
// dialog and its message loop. Returns the program's exit code: 1 after OK or when a running
// instance was brought forward, 2 after Cancel or the close box, 0 when the dialog could not
// be created.
#pragma once

#include <windows.h>

namespace tvn {

inline constexpr const wchar_t* kPropertiesStartupMutex = L"Tolvane.PropertiesStartupMutex";
inline constexpr const wchar_t* kPropertiesDumpFile = L"TVN Properties.dmp";

int RunPropertiesProgram(HINSTANCE instance, int showCommand);

}  // namespace tvn
