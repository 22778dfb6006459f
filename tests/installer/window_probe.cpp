// Finds a top-level window by its title for the screenshot script and, if asked, presses one
// of its buttons, as a user would (BM_CLICK).
//
//   window_probe TITLE READY_FILE [BUTTON_ID]
//
// Waits up to 20 s for a visible window whose title begins with TITLE, presses the button BUTTON_ID
// in it when given, then writes the window's rectangle ("left top right bottom") into READY_FILE,
// followed by the texts of its visible child windows, one a line (UTF-8).
// Exit code 0, or 1 for bad arguments, 2 when no such window came up, 3 when it has no such
// button.
#include <windows.h>

#include <cstdio>
#include <cwchar>

struct Search {
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK WriteText(HWND child, LPARAM param) {
    wchar_t text[2048] = {};
    if (IsWindowVisible(child) && GetWindowTextW(child, text, 2048) > 0) {
        char utf8[8192] = {};
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
        fprintf(reinterpret_cast<FILE*>(param), "%s\n", utf8);
    }
    return TRUE;
}

BOOL CALLBACK MatchTitle(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    if (IsWindowVisible(window) && wcsncmp(text, search->title, wcslen(search->title)) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 4) {
        fwprintf(stderr, L"usage: window_probe TITLE READY_FILE [BUTTON_ID]\n");
        return 1;
    }
    HWND window = nullptr;
    for (int i = 0; i < 200 && window == nullptr; ++i) {
        Search search{argv[1], nullptr};
        EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
        window = search.found;
        if (window == nullptr) {
            Sleep(100);
        }
    }
    if (window == nullptr) {
        return 2;
    }
    if (argc == 4) {
        HWND button = GetDlgItem(window, _wtoi(argv[3]));
        if (button == nullptr) {
            return 3;
        }
        SendMessageW(button, BM_CLICK, 0, 0);
        Sleep(500);  // the next page is laid out by the window's own thread
    }
    RECT rect{};
    GetWindowRect(window, &rect);
    FILE* ready = _wfopen(argv[2], L"w");
    if (ready == nullptr) {
        return 1;
    }
    fprintf(ready, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    EnumChildWindows(window, WriteText, reinterpret_cast<LPARAM>(ready));
    fclose(ready);
    return 0;
}
