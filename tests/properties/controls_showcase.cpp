// Shows a small dialog built on the dialog controls as the properties program uses them: the
// colour map with a "default" group and a bold "list1" group, and two links, the second one
// hot (the mouse is put over it). For screenshots: `controls_showcase READY-FILE [SECONDS]`
// writes the dialog's screen rectangle ("left top right bottom") into READY-FILE once the
// dialog is painted, and ends after SECONDS (30 by default) or when the dialog is closed.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>

#include "control_color_map.h"
#include "controls_test_ids.h"
#include "hyperlink.h"
#include "unique_handle.h"

namespace {

constexpr COLORREF kBackground = RGB(168, 196, 244);

struct Showcase {
    tvn::ControlColorMap colors;
    acl::HyperlinkStyle linkStyle;
    acl::Hyperlink site;
    acl::Hyperlink support;
};
Showcase* g_showcase = nullptr;

tvn::UniqueFont BoldFontOf(HWND dialog) {
    LOGFONTW font{};
    auto current = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (current == nullptr || GetObjectW(current, sizeof(font), &font) == 0) {
        return tvn::UniqueFont();
    }
    font.lfWeight = FW_BOLD;
    return tvn::UniqueFont(CreateFontIndirectW(&font));
}

void Initialise(HWND dialog, Showcase& show) {
    show.colors.AddGroup(dialog, tvn::ControlColorMap::kDefaultGroup, nullptr, 0, RGB(0, 0, 0),
                         kBackground, tvn::UniqueFont());
    const int labels[] = {IDC_SHOW_TITLE, IDC_SHOW_SITE_LABEL, IDC_SHOW_SUPPORT_LABEL};
    tvn::UniqueFont bold = BoldFontOf(dialog);
    // A static control selects its own font after asking for its colours (so under Wine the
    // group's font alone does not show): the labels get the bold font as their own too.
    for (int id : labels) {
        SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(bold.get()), FALSE);
    }
    show.colors.AddGroup(dialog, L"list1", labels, 3, RGB(50, 50, 50), kBackground,
                         std::move(bold));
    show.colors.SetDefaultFallback(true);
    show.colors.SetAnsweredMessages(tvn::kColorDialog | tvn::kColorStatic | tvn::kColorButton |
                                    tvn::kColorScrollBar);

    show.linkStyle.underlineWhenHot = true;
    show.linkStyle.background = kBackground;
    show.linkStyle.cursor = LoadCursorW(nullptr, IDC_HAND);
    show.site.Create(acl::Hyperlink::kOpenNoOwner, GetDlgItem(dialog, IDC_SHOW_SITE), dialog,
                     L"https://www.example.invalid/", 0, &show.linkStyle);
    show.support.Create(acl::Hyperlink::kOpenNoOwner, GetDlgItem(dialog, IDC_SHOW_SUPPORT), dialog,
                        L"https://www.example.invalid/support", 0, &show.linkStyle);

    HWND units = GetDlgItem(dialog, IDC_SHOW_UNITS);
    for (const wchar_t* unit : {L"Bytes", L"KBytes", L"MBytes", L"GBytes", L"Auto"}) {
        SendMessageW(units, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(unit));
    }
    SendMessageW(units, CB_SETCURSEL, 1, 0);
    CheckDlgButton(dialog, IDC_SHOW_CACHE, BST_CHECKED);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Initialise(dialog, *g_showcase);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(dialog);
            }
            return TRUE;
        case WM_TIMER:
            DestroyWindow(dialog);
            return TRUE;
        case WM_DESTROY:
            PostQuitMessage(0);
            return FALSE;
        default: {
            tvn::ColorAnswer answer = g_showcase->colors.HandleMessage(message, wParam, lParam);
            return answer.handled ? reinterpret_cast<INT_PTR>(answer.brush) : FALSE;
        }
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) {
        return 2;
    }
    const std::wstring ready = argv[1];
    const UINT seconds = argc > 2 ? static_cast<UINT>(_wtoi(argv[2])) : 30;
    LocalFree(argv);

    INITCOMMONCONTROLSEX init{sizeof(init), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    Showcase show;
    g_showcase = &show;
    HWND dialog =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_SHOWCASE), nullptr, &DialogProc, 0);
    if (dialog == nullptr) {
        return 1;
    }
    SetWindowPos(dialog, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetTimer(dialog, 1, seconds * 1000, nullptr);

    // The second link is hot: the mouse rests over it, as the system would report it.
    HWND support = GetDlgItem(dialog, IDC_SHOW_SUPPORT);
    RECT link{};
    GetWindowRect(support, &link);
    SetCursorPos(link.left + 20, (link.top + link.bottom) / 2);
    SendMessageW(support, WM_MOUSEMOVE, 0, MAKELPARAM(20, 4));
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);

    RECT frame{};
    GetWindowRect(dialog, &frame);
    char text[64];
    const int length = snprintf(text, sizeof(text), "%ld %ld %ld %ld\n", frame.left, frame.top,
                                frame.right, frame.bottom);
    tvn::UniqueFile file(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) {
        WriteFile(file.get(), text, static_cast<DWORD>(length), &written, nullptr);
    }
    file.reset();

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    g_showcase = nullptr;
    return 0;
}
