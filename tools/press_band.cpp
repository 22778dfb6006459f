// press_band: works the toolbar band of a running details_view window from another process,
// as a user would with mouse and keyboard, so that the demo can show and photograph the band's
// menu and the view after a choice.
//
//   press_band wait          waits until a details_view window shows its band and prints
//                            its place on the screen, WIDTHxHEIGHT+LEFT+TOP
//   press_band open [KEY...] clicks the band's settings button, waits for its menu and plays
//                            the keys on it
//   press_band keys KEY...   plays keys on the open menu
//   press_band close         closes the details_view window
//
// KEY is down, up, right, left, return, escape, or char:X (the character X, for a mnemonic),
// each given 300 ms to be followed. Exit code 0 on success, 1 for bad arguments, 2 when the
// window, its band or the menu did not come.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>
#include <vector>

#include "menu_windows.h"

namespace {

constexpr ULONGLONG kTimeoutMs = 20000;

struct Target {
    HWND view = nullptr;     // the details_view window
    HWND toolbar = nullptr;  // the band's toolbar control
    DWORD thread = 0;
};

bool Find(Target& target) {
    target.view = FindWindowW(L"TolvaneDetailsView", nullptr);
    if (target.view == nullptr || !IsWindowVisible(target.view)) {
        return false;
    }
    target.thread = GetWindowThreadProcessId(target.view, nullptr);
    HWND strip = FindWindowExW(target.view, nullptr, L"TolvaneBandStrip", nullptr);
    HWND band =
        strip != nullptr ? FindWindowExW(strip, nullptr, L"TolvaneBandWindow", nullptr) : nullptr;
    target.toolbar =
        band != nullptr ? FindWindowExW(band, nullptr, TOOLBARCLASSNAMEW, nullptr) : nullptr;
    return target.toolbar != nullptr;
}

template <typename Done>
bool WaitFor(Done done, ULONGLONG timeoutMs = kTimeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

bool PlayKey(const Target& target, const std::wstring& key) {
    std::vector<HWND> menus = tvn::ShownMenuWindows(target.thread);
    if (menus.empty()) {
        return false;
    }
    if (key.rfind(L"char:", 0) == 0 && key.size() == 6) {
        PostMessageW(menus.front(), WM_CHAR, key[5], 0);
    } else {
        static const struct {
            const wchar_t* name;
            WPARAM key;
        } kKeys[] = {{L"down", VK_DOWN}, {L"up", VK_UP},         {L"right", VK_RIGHT},
                     {L"left", VK_LEFT}, {L"return", VK_RETURN}, {L"escape", VK_ESCAPE}};
        WPARAM code = 0;
        for (const auto& entry : kKeys) {
            code = key == entry.name ? entry.key : code;
        }
        if (code == 0) {
            return false;
        }
        PostMessageW(menus.front(), WM_KEYDOWN, code, 0);
    }
    // The menu's items live in the other process, whose menu states this one cannot read;
    // the key is given time to be followed instead.
    Sleep(300);
    return true;
}

int Usage() {
    fwprintf(stderr, L"usage: press_band wait | open [KEY...] | keys KEY... | close\n");
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return Usage();
    }
    std::wstring command = argv[1];
    Target target;
    if (!WaitFor([&] { return Find(target); })) {
        fwprintf(stderr, L"press_band: no details_view window with the band\n");
        return 2;
    }
    if (command == L"wait") {
        RECT place{};
        GetWindowRect(target.view, &place);
        wprintf(L"%ldx%ld+%ld+%ld\n", place.right - place.left, place.bottom - place.top,
                place.left, place.top);
        return 0;
    }
    if (command == L"close") {
        PostMessageW(target.view, WM_CLOSE, 0, 0);
        return WaitFor([&] { return !IsWindow(target.view); }) ? 0 : 2;
    }
    if (command == L"open") {
        // A click on the button, as the mouse gives it to the toolbar.
        RECT button{};
        SendMessageW(target.toolbar, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&button));
        LPARAM at = MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2);
        PostMessageW(target.toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(target.toolbar, WM_LBUTTONUP, 0, at);
        if (!WaitFor([&] { return !tvn::ShownMenuWindows(target.thread).empty(); })) {
            fwprintf(stderr, L"press_band: the menu did not open\n");
            return 2;
        }
        Sleep(300);  // the menu loop takes over once the menu is painted
    } else if (command != L"keys") {
        return Usage();
    }
    for (int i = 2; i < argc; ++i) {
        if (!PlayKey(target, argv[i])) {
            fwprintf(stderr, L"press_band: the menu did not follow %ls\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
