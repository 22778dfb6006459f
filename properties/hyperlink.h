// A static text control turned into a clickable link. The dialog keeps one HyperlinkStyle for
// all its links and one Hyperlink object per link control, both members of the dialog object
// (the style must outlive the links that use it). Typical use in WM_INITDIALOG:
//
//     style_.underlineWhenHot = true;
//     style_.cursor = LoadCursorW(instance, MAKEINTRESOURCEW(132));
//     site_.Create(acl::Hyperlink::kOpenNoOwner, GetDlgItem(dialog, 1000), dialog,
//                  L"https://...", 0, &style_);
#pragma once

#include <windows.h>

#include <memory>

#include "subclass_control.h"

namespace acl {

// Colours, font and cursor of the links of one dialog.
struct HyperlinkStyle {
    HyperlinkStyle() noexcept;
    // Deletes `font` when `ownsFont` is set.
    ~HyperlinkStyle();
    HyperlinkStyle(const HyperlinkStyle&) = delete;
    HyperlinkStyle& operator=(const HyperlinkStyle&) = delete;

    bool underlineWhenHot = false;  // underline the text while the mouse is over it
    bool ownsFont = false;          // the style deletes `font` when it goes
    COLORREF background;            // fill of the whole client area; COLOR_BTNFACE
    COLORREF normalColor = RGB(0, 0, 200);
    COLORREF hotColor = RGB(0, 0, 255);
    HCURSOR cursor = nullptr;  // shown over the link; not owned (a loaded resource cursor)
    HFONT font = nullptr;      // none: the control's own font (WM_GETFONT)
};

class Hyperlink : public SubclassControlBase {
  public:
    // Click actions, any combination.
    enum Action : unsigned {
        kOpenNoOwner = 1u << 0,    // ShellExecuteW "open" of the target, no owner window
        kOpenWithOwner = 1u << 1,  // the same with the owner window as parent
        kSendCommand = 1u << 2,    // WM_COMMAND (wParam = command id, lParam = control)
    };

    Hyperlink() noexcept = default;
    ~Hyperlink() override;

    // Subclasses `control` (adding SS_NOTIFY so that the static gets mouse clicks) and sets
    // what a click does. `target` is copied and needed when an open action is chosen;
    // `commandId` is sent when kSendCommand is chosen. A null `style` uses the defaults.
    // Returns 0; the error of Attach (then nothing is subclassed); ERROR_INVALID_PARAMETER
    // when no action is chosen or an open action has no target (the control is subclassed
    // all the same and paints as a link); ERROR_OUTOFMEMORY when the target cannot be
    // copied.
    DWORD Create(unsigned actions, HWND control, HWND owner, const wchar_t* target, UINT commandId,
                 const HyperlinkStyle* style) noexcept;

    // Cancels the mouse tracking, then detaches.
    DWORD Detach() noexcept override;

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    bool IsHot() const noexcept { return hot_; }

  private:
    void Paint(HWND window) noexcept;
    LRESULT Click(HWND window) noexcept;
    const HyperlinkStyle& Style() const noexcept;

    unsigned actions_ = 0;
    HWND owner_ = nullptr;
    std::unique_ptr<wchar_t[]> target_;
    UINT commandId_ = 0;
    const HyperlinkStyle* style_ = nullptr;
    bool hot_ = false;
    TRACKMOUSEEVENT tracking_{};
    // Set while a click runs: the owner may delete this object from its WM_COMMAND handler.
    bool* alive_ = nullptr;
};

}  // namespace acl
