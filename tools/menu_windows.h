// The popup-menu windows (class "#32768") that one thread shows, for the programs that drive
// the band's menu from outside: the demo's press_band and the band's tests.
#pragma once

#include <windows.h>

#include <cwchar>
#include <vector>

namespace tvn {

inline std::vector<HWND> ShownMenuWindows(DWORD thread) {
    struct Search {
        DWORD thread;
        std::vector<HWND> found;
    } search{thread, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* search = reinterpret_cast<Search*>(context);
            wchar_t name[16];
            if (GetWindowThreadProcessId(window, nullptr) == search->thread &&
                IsWindowVisible(window) && GetClassNameW(window, name, 16) &&
                wcscmp(name, L"#32768") == 0) {
                search->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace tvn
