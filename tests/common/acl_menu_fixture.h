// What the menu tests share: a surface to draw on and read back, pixel readers, the item
// records of a menu, and the toolbar's menu loaded as the toolbar loads it, drawn item by item
// into a surface. The set-ups themselves and the owner window are in acl_menu_support.h, which
// the screenshot host uses too.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "acl_menu.h"
#include "acl_menu_support.h"
#include "gdi_scope.h"

namespace tvn::test {

// The transparent colour of every menu image, and what a surface holds before anything is
// drawn on it.
inline constexpr COLORREF kKey = RGB(255, 0, 255);
inline constexpr COLORREF kSentinel = RGB(1, 2, 3);

// This program, which carries the toolbar's menu resources.
HINSTANCE Self();
// Each channel of `a` within `tolerance` of `b`'s.
bool Near(COLORREF a, COLORREF b, int tolerance);
// A colour as 0xBBGGRR, so that a failing comparison reads as colours.
std::string Hex(COLORREF c);
// The gray a disabled image shows for a colour.
COLORREF Gray(COLORREF c);

// A 32-bit DIB section in a memory DC: what is drawn can be read back exactly.
class Surface {
  public:
    Surface(int width, int height);
    ~Surface();
    // Fills the whole surface with kSentinel.
    void Clear();
    HDC dc() const { return dc_.get(); }
    COLORREF At(int x, int y) const { return GetPixel(dc_.get(), x, y); }

  private:
    int width_, height_;
    UniqueBitmap bitmap_;
    UniqueMemoryDc dc_;
    std::unique_ptr<SelectedObject> selected_;
};

using PixelRows = std::vector<std::vector<COLORREF>>;
// The pixels of a bitmap, row by row.
PixelRows Pixels(HBITMAP bitmap);

// The item at `position` of `menu` (type, data, id, state, submenu); a failure is reported
// against the test that asked.
MENUITEMINFOW ItemInfo(HMENU menu, int position);
// The menu's own record of the item at `position`: its item data.
const ACL_Menu::ItemRecord* Record(HMENU menu, int position);

// Positions in the shown toolbar menu.
enum Position {
    kSizeUnits = 0,
    kAuto = 1,
    kKBytes = 4,
    kFirstSeparator = 6,
    kNothing = 11,
    kDigitGrouping = 13,
    kDecimalDigits = 14,
    kProperties = 16,
};

// Where the fixture draws an item, and the icon column of its 14-pixel icons.
inline constexpr RECT kItem = {10, 10, 170, 32};  // 160 x 22
inline constexpr int kColumn = 20;

// The toolbar's menu loaded as the toolbar loads it, with a hidden owner window.
class AclMenuToolbar : public testing::Test {
  protected:
    void SetUp() override;

    // Draws the item at `position` (of `menu`, the shown menu by default) into the surface
    // at `rect` with the given owner-draw state.
    DWORD Draw(int position, UINT state, RECT rect, HMENU menu = nullptr);

    // Every pixel of `image` that is not its transparent colour is at (x0, y0) + its place.
    void ExpectImageAt(const PixelRows& image, COLORREF transparent, int x0, int y0,
                       bool gray = false);

    // The selected look: the image one pixel up and left of its place, its shadow one pixel
    // down and right of it wherever the image itself does not cover the shadow.
    void ExpectLiftedImage(const PixelRows& image, COLORREF transparent, int x0, int y0);

    ACL_Menu menu_;
    std::unique_ptr<OwnerWindow> owner_;
    HMENU shown_ = nullptr;
    Surface surface_{200, 60};
};

}  // namespace tvn::test
