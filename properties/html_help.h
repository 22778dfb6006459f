// HtmlHelpW of the HTML Help control library, loaded at first use: from the path registered
// for its class, else by its file name. When neither loads, help stays unavailable for the
// rest of the run (no further attempt).
#pragma once

#include <windows.h>

namespace tvn::HtmlHelp {

inline constexpr UINT kDisplayTopic = 0;  // HH_DISPLAY_TOPIC
// The library's class; its InprocServer32 names the file.
inline constexpr const wchar_t* kControlClassKey =
    L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
inline constexpr const wchar_t* kLibraryName = L"hhctrl.ocx";
inline constexpr WORD kHtmlHelpWOrdinal = 15;

// Calls HtmlHelpW(caller, file, HH_DISPLAY_TOPIC, 0). False when the library is unavailable.
bool DisplayTopic(HWND caller, const wchar_t* file);

}  // namespace tvn::HtmlHelp
