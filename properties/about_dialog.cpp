#include "about_dialog.h"

#include "gdi_scope.h"
#include "resource.h"
#include "version.h"

namespace tvn {
namespace {

constexpr COLORREF kAboutBackground = RGB(168, 196, 244);
constexpr COLORREF kLabelText = RGB(50, 50, 50);

}  // namespace

void CenterOnOwner(HWND window, HWND owner) noexcept {
    RECT box{};
    RECT around{};
    if (!GetWindowRect(window, &box) || owner == nullptr || !GetWindowRect(owner, &around)) {
        return;
    }
    const LONG width = box.right - box.left;
    const LONG height = box.bottom - box.top;
    LONG x = around.left + ((around.right - around.left) - width) / 2;
    LONG y = around.top + ((around.bottom - around.top) - height) / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        if (x + width > work.right) {
            x = work.right - width;
        }
        if (y + height > work.bottom) {
            y = work.bottom - height;
        }
        if (x < work.left) {
            x = work.left;
        }
        if (y < work.top) {
            y = work.top;
        }
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void AboutDialog::Run(HWND owner) noexcept {
    owner_ = owner;
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUT), owner, Procedure,
                    reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK AboutDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    }
    auto* self = reinterpret_cast<AboutDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->Handle(window, message, wParam, lParam) : FALSE;
}

void AboutDialog::Initialise(HWND window) noexcept {
    SetWindowTextW(window, L"About Tolvane\u2122 x64");
    SetDlgItemTextW(window, IDC_ABOUT_VERSION, L"Version " TVN_VERSION_TEXT_W L".x64");

    static constexpr int kLabels[] = {IDC_ABOUT_WEB_LABEL, IDC_ABOUT_VERSION,
                                      IDC_ABOUT_SUPPORT_LABEL, IDC_ABOUT_CONTACT_LABEL};
    colors_.AddGroup(window, ControlColorMap::kDefaultGroup, nullptr, 0, RGB(0, 0, 0),
                     kAboutBackground, UniqueFont());
    // The labels also draw with the font themselves: a static control may select its own
    // font after asking for its colours. The group owns the font for the box's life.
    UniqueFont bold = BoldCopyOf(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
    HFONT boldFont = bold.get();
    if (colors_.AddGroup(window, L"list1", kLabels, std::size(kLabels), kLabelText,
                         kAboutBackground, std::move(bold)) == 0 &&
        boldFont != nullptr) {
        for (int id : kLabels) {
            SendDlgItemMessageW(window, id, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont), FALSE);
        }
    }
    colors_.SetDefaultFallback(true);

    linkStyle_.underlineWhenHot = true;
    linkStyle_.ownsFont = true;
    linkStyle_.background = kAboutBackground;
    linkStyle_.normalColor = RGB(0, 0, 200);
    linkStyle_.hotColor = RGB(0, 0, 255);
    linkStyle_.cursor = LoadCursorW(instance_, MAKEINTRESOURCEW(IDC_HAND_LINK));
    linkStyle_.font = nullptr;
    constexpr unsigned kOpen = acl::Hyperlink::kOpenNoOwner;
    webLink_.Create(kOpen, GetDlgItem(window, IDC_ABOUT_WEB_LINK), window, kWebSite, 0,
                    &linkStyle_);
    supportLink_.Create(kOpen, GetDlgItem(window, IDC_ABOUT_SUPPORT_LINK), window, kSupportPage, 0,
                        &linkStyle_);
    contactLink_.Create(kOpen, GetDlgItem(window, IDC_ABOUT_CONTACT_LINK), window, kContactPage, 0,
                        &linkStyle_);

    CenterOnOwner(window, owner_);
}

INT_PTR AboutDialog::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_INITDIALOG:
            Initialise(window);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    ColorAnswer answer = colors_.HandleMessage(message, wParam, lParam);
    if (answer.handled) {
        return reinterpret_cast<INT_PTR>(answer.brush);
    }
    return FALSE;
}

}  // namespace tvn
