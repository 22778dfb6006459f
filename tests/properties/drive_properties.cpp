// Works a running TVN Properties.exe for the demo's screenshots, one step per start:
//   drive_properties wait      waits for the dialog; prints its rectangle WxH+X+Y
//   drive_properties menu      opens the Menu button's popup and selects "Help index"
//   drive_properties escape    closes the open popup
//   drive_properties about     opens the about box; prints its rectangle
//   drive_properties close     closes the about box, then the dialog with Cancel
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "program_driver.h"

namespace {

void PrintRect(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
}

HWND OpenPopup() {
    HWND found = nullptr;
    for (int i = 0; i < 500 && found == nullptr; ++i) {
        found = FindWindowW(L"#32768", nullptr);
        if (found == nullptr || !IsWindowVisible(found)) {
            found = nullptr;
            Sleep(10);
        }
    }
    return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    using tvn::test::PropertiesProgram;
    if (argc < 2) {
        return 2;
    }
    PropertiesProgram program;
    if (!program.Attach()) {
        std::fprintf(stderr, "no properties dialog\n");
        return 1;
    }
    const wchar_t* step = argv[1];
    if (std::wcscmp(step, L"wait") == 0) {
        PrintRect(program.Dialog());
    } else if (std::wcscmp(step, L"menu") == 0) {
        HWND menu = program.OpenMenu();
        if (menu == nullptr) {
            return 1;
        }
        PropertiesProgram::MenuKey(menu, VK_DOWN);
        Sleep(200);
        PrintRect(menu);
    } else if (std::wcscmp(step, L"escape") == 0) {
        if (HWND menu = OpenPopup()) {
            PropertiesProgram::MenuKey(menu, VK_ESCAPE);
            PropertiesProgram::WaitGone(menu);
        }
    } else if (std::wcscmp(step, L"about") == 0) {
        HWND menu = program.OpenMenu();
        if (menu == nullptr) {
            return 1;
        }
        PropertiesProgram::MenuKey(menu, VK_DOWN);
        PropertiesProgram::MenuKey(menu, VK_DOWN);
        PropertiesProgram::MenuKey(menu, VK_RETURN);
        HWND about = program.WaitForWindow(L"#32770", program.Dialog());
        if (about == nullptr) {
            return 1;
        }
        PrintRect(about);
    } else if (std::wcscmp(step, L"close") == 0) {
        if (HWND about = program.WaitForWindow(L"#32770", program.Dialog(), 200)) {
            PostMessageW(about, WM_COMMAND, IDOK, 0);
            PropertiesProgram::WaitGone(about);
        }
        program.PostCommand(IDCANCEL);
    } else {
        return 2;
    }
    return 0;
}
