// Scoped GDI state that is given back rather than closed: a window's device context, a paint
// cycle, an object selected into a device context, and the owner of an image list. Code that
// draws never releases, ends or reselects by hand.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "unique_handle.h"

namespace tvn {

struct ImageListTraits {
    using pointer = HIMAGELIST;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { ImageList_Destroy(h); }
};
using UniqueImageList = UniqueHandle<ImageListTraits>;

// GetDC / ReleaseDC of one window (null: the screen).
class WindowDc {
  public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_ != nullptr) {
            ReleaseDC(window_, dc_);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

  private:
    HWND window_;
    HDC dc_;
};

// BeginPaint / EndPaint of one WM_PAINT.
class PaintScope {
  public:
    explicit PaintScope(HWND window) noexcept : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() {
        if (dc_ != nullptr) {
            EndPaint(window_, &paint_);
        }
    }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC get() const noexcept { return dc_; }
    const PAINTSTRUCT& paint() const noexcept { return paint_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// Selects an object into a device context and puts the previous one back when the scope
// ends, so the selected object can be deleted afterwards. Declare it after the owner of the
// object, so that it is restored before the object goes.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc),
          previous_(dc != nullptr && object != nullptr ? SelectObject(dc, object) : nullptr) {}
    ~SelectedObject() { restore(); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

    void restore() noexcept {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            SelectObject(dc_, std::exchange(previous_, nullptr));
        }
    }

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A bold font like `font` (a dialog's own, say); empty when `font` is null or unreadable.
inline UniqueFont BoldCopyOf(HFONT font) {
    LOGFONTW description{};
    if (font == nullptr || GetObjectW(font, sizeof(description), &description) == 0) {
        return UniqueFont();
    }
    description.lfWeight = FW_BOLD;
    return UniqueFont(CreateFontIndirectW(&description));
}

}  // namespace tvn
