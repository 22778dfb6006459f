// Shows the toolbar's settings menu (with the "&Digit grouping" submenu open) or the
// properties program's Help menu for real, so that a screenshot can be taken:
//
//     acl_menu_host.exe toolbar|properties READY-FILE
//
// When the menu is open and painted, the program writes the screen rectangle of its menu
// windows (ImageMagick geometry, with a margin) into READY-FILE, then waits until that file
// is deleted, closes the menu and ends. It gives up after 60 seconds.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "acl_menu.h"
#include "acl_menu_support.h"
#include "resource.h"

namespace {

using tvn::test::OwnerWindow;

struct Script {
    bool toolbar = true;
    std::wstring readyFile;
    HMENU shown = nullptr;
    HWND menuWindow = nullptr;
    HMENU selectedMenu = nullptr;
    UINT selectedItem = 0;
    int step = 0;
    int ticks = 0;
    bool ready = false;
};

// The union of the visible menu windows of this thread, with a margin.
BOOL CALLBACK AddMenuWindow(HWND window, LPARAM param) {
    wchar_t name[16];
    if (IsWindowVisible(window) && GetClassNameW(window, name, 16) &&
        wcscmp(name, L"#32768") == 0) {
        RECT r;
        GetWindowRect(window, &r);
        auto* all = reinterpret_cast<RECT*>(param);
        UnionRect(all, all, &r);
    }
    return TRUE;
}

void WriteReady(const Script& script) {
    RECT all = {};
    EnumThreadWindows(GetCurrentThreadId(), AddMenuWindow, reinterpret_cast<LPARAM>(&all));
    InflateRect(&all, 12, 12);
    all.left = all.left < 0 ? 0 : all.left;
    all.top = all.top < 0 ? 0 : all.top;
    char geometry[64];
    int length = snprintf(geometry, sizeof(geometry), "%ldx%ld+%ld+%ld\n", all.right - all.left,
                          all.bottom - all.top, all.left, all.top);
    tvn::UniqueFile file(CreateFileW(script.readyFile.c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        DWORD written = 0;
        WriteFile(file.get(), geometry, static_cast<DWORD>(length), &written, nullptr);
    }
}

void Key(const Script& script, WPARAM key) {
    PostMessageW(script.menuWindow, WM_KEYDOWN, key, 0);
    PostMessageW(script.menuWindow, WM_KEYUP, key, 0);
}

// One step per timer tick, each after the menu has handled the previous key.
void Step(Script& script) {
    if (++script.ticks > 60 * 20) {
        EndMenu();
        return;
    }
    if (script.menuWindow == nullptr) {
        return;
    }
    if (script.ready) {
        if (GetFileAttributesW(script.readyFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
            EndMenu();
        }
        return;
    }
    if (script.toolbar) {
        switch (script.step) {
            case 0:  // down to "&Digit grouping"
                if (script.selectedMenu == script.shown && script.selectedItem == 13) {
                    Key(script, VK_RIGHT);
                    script.step = 1;
                } else {
                    Key(script, VK_DOWN);
                }
                return;
            case 1:  // the submenu opened on its first item; on to "Space [&  ]"
                if (script.selectedMenu == GetSubMenu(script.shown, 13)) {
                    Key(script, VK_DOWN);
                    script.step = 2;
                }
                return;
            case 2:
                if (script.selectedItem == ID_MENU_SEPARATOR_SPACE) {
                    script.step = 3;
                }
                return;
            default:
                break;
        }
    } else if (script.step == 0) {
        Key(script, VK_DOWN);  // "&Help index"
        script.step = 1;
        return;
    } else if (script.selectedItem != tvn::test::kPropertiesHelp) {
        return;
    }
    // Painted by now: the selection arrived a tick ago.
    script.ready = true;
    WriteReady(script);
}

LRESULT Handler(OwnerWindow& owner, UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    auto* script = static_cast<Script*>(owner.state);
    switch (message) {
        case WM_ENTERIDLE:
            if (wParam == MSGF_MENU && script->menuWindow == nullptr) {
                script->menuWindow = reinterpret_cast<HWND>(lParam);
            }
            break;
        case WM_MENUSELECT:
            script->selectedMenu = reinterpret_cast<HMENU>(lParam);
            script->selectedItem = LOWORD(wParam);
            break;
        case WM_TIMER:
            Step(*script);
            *handled = true;
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 3) {
        return 2;
    }
    Script script;
    script.toolbar = wcscmp(argv[1], L"toolbar") == 0;
    script.readyFile = argv[2];
    LocalFree(argv);

    ACL_Menu menu;
    OwnerWindow owner(&menu, Handler, WS_POPUP | WS_VISIBLE, {0, 0, 640, 560});
    owner.state = &script;
    tvn::UniqueModule properties;
    DWORD result;
    if (script.toolbar) {
        result = tvn::test::SetUpToolbarMenu(menu, instance, owner.get());
    } else {
        properties.reset(LoadLibraryW(tvn::test::PropertiesResourceLibrary()));
        result = tvn::test::SetUpPropertiesMenu(menu, properties.get(), owner.get());
    }
    if (result != ERROR_SUCCESS) {
        return 3;
    }
    script.shown = GetSubMenu(menu.RootMenu(), 0);
    if (script.toolbar) {
        // The items a first start checks: no settings stored.
        for (UINT id : {ID_MENU_KBYTES, ID_MENU_FILESANDFOLDERS, ID_MENU_SEPARATOR_SPACE,
                        ID_MENU_DECIMALS_0}) {
            CheckMenuItem(script.shown, id, MF_BYCOMMAND | MF_CHECKED);
        }
    }
    SetForegroundWindow(owner.get());
    SetTimer(owner.get(), 1, 50, nullptr);
    TrackPopupMenu(script.shown, TPM_RETURNCMD | TPM_RIGHTBUTTON, 40, 40, 0, owner.get(), nullptr);
    KillTimer(owner.get(), 1);
    return script.ready ? 0 : 1;
}
