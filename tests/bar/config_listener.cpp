// A hidden top-level window in a process of its own that counts the registered config
// message, as the properties dialog receives it. The band's tests ask it with WM_APP
// (count since the last reset), WM_APP + 1 / + 2 (wParam / lParam of the last one) and
// WM_APP + 3 (reset); WM_CLOSE ends it. Started with "hang", it is a program that has stopped
// answering: its window is made, then its thread takes no message and ends after 60 s.
#include <windows.h>

#include "settings_store.h"

namespace {

UINT g_configMessage = 0;
LRESULT g_count = 0;
WPARAM g_lastWParam = 0;
LPARAM g_lastLParam = 0;

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_configMessage && g_configMessage != 0) {
        ++g_count;
        g_lastWParam = wParam;
        g_lastLParam = lParam;
        return 0;
    }
    switch (message) {
        case WM_APP:
            return g_count;
        case WM_APP + 1:
            return static_cast<LRESULT>(g_lastWParam);
        case WM_APP + 2:
            return g_lastLParam;
        case WM_APP + 3:
            g_count = 0;
            g_lastWParam = 0;
            g_lastLParam = 0;
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
    g_configMessage = tvn::SettingsStore::RegisterConfigUpdateMessage();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TolvaneConfigListener";
    if (!RegisterClassW(&windowClass) ||
        !CreateWindowExW(0, windowClass.lpszClassName, L"config listener", WS_POPUP, 0, 0, 10, 10,
                         nullptr, nullptr, instance, nullptr)) {
        return 1;
    }
    if (arguments != nullptr && wcsstr(arguments, L"hang") != nullptr) {
        Sleep(60000);
        return 0;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
