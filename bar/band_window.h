// The band window: a child of the toolbar host's window that holds the toolbar control with
// the one settings button, its image list and the settings menu. It belongs to the band
// object (band_object.h), which creates it when it is given a site and destroys it when it
// goes or is given another site.
//
// Threading: apartment; every call and message arrives on the thread that owns the host.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include "com_ptr.h"
#include "gdi_scope.h"
#include "settings_menu.h"

namespace tvn::bar {

// Command id of the settings button; the toolbar sends it as WM_COMMAND wParam 0x200.
inline constexpr UINT kSettingsButtonId = 512;

// The fixed size of the band and its toolbar control.
inline constexpr int kBandWidth = 32;
inline constexpr int kBandHeight = 26;

class BandWindow {
  public:
    BandWindow() noexcept;
    ~BandWindow() { Destroy(); }
    BandWindow(const BandWindow&) = delete;
    BandWindow& operator=(const BandWindow&) = delete;

    // Creates the band window as a child of `host` over its client rectangle, with the
    // toolbar and the menu (WM_CREATE), and keeps `browser` for refreshing the view. A band
    // window that already exists is destroyed first. False when no window could be made.
    bool Create(HWND host, IWebBrowser2* browser) noexcept;

    // Destroys the toolbar and the band window (each while it still is a window), the image
    // list and the settings menu, and lets go of the browser.
    void Destroy() noexcept;

    // The band object's controlling unknown, held while the menu is open so that a release
    // from inside the menu loop cannot free this object under it. Not owned.
    void SetLifetime(IUnknown* owner) noexcept { lifetime_ = owner; }

    HWND Window() const noexcept { return window_; }
    HWND Toolbar() const noexcept { return toolbar_; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    LRESULT OpenMenu();

    HWND window_ = nullptr;   // cleared when the window goes, whoever destroys it
    HWND toolbar_ = nullptr;  // likewise
    bool classHeld_ = false;  // this object counts in the window class's users
    UniqueImageList images_;
    ComPtr<IWebBrowser2> browser_;
    UINT configMessage_;
    IUnknown* lifetime_ = nullptr;
    SettingsMenu menu_;
};

}  // namespace tvn::bar
