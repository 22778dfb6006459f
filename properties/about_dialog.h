// The about box: a modal dialog owned by the properties dialog and centred on it, with the
// program's icon, its version, and three links to the maker's pages.
#pragma once

#include <windows.h>

#include "control_color_map.h"
#include "hyperlink.h"

namespace tvn {

class AboutDialog {
  public:
    // The link targets.
    static constexpr const wchar_t* kWebSite = L"https://www.example.com/tolvane/";
    static constexpr const wchar_t* kSupportPage = L"https://www.example.com/tolvane/support/";
    static constexpr const wchar_t* kContactPage = L"https://www.example.com/tolvane/contact/";

    explicit AboutDialog(HINSTANCE instance) noexcept : instance_(instance) {}
    AboutDialog(const AboutDialog&) = delete;
    AboutDialog& operator=(const AboutDialog&) = delete;

    // Shows the box and returns when it is closed (OK, Cancel, Escape or the close box).
    void Run(HWND owner) noexcept;

  private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    void Initialise(HWND window) noexcept;

    HINSTANCE instance_;
    HWND owner_ = nullptr;
    ControlColorMap colors_;
    // The style outlives the links that use it.
    acl::HyperlinkStyle linkStyle_;
    acl::Hyperlink webLink_;
    acl::Hyperlink supportLink_;
    acl::Hyperlink contactLink_;
};

// Centres `window` on `owner` and keeps it inside the work area of the owner's monitor.
void CenterOnOwner(HWND window, HWND owner) noexcept;

}  // namespace tvn
