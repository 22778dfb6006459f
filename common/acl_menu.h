// ACL_Menu: an ordinary Win32 menu, loaded from a menu resource, drawn in a style of its own.
// The items of every popup become owner-drawn: a gradient icon column on the left, icons cut
// from a bitmap strip, a raised icon with a shadow on the selected item, gray icons for
// grayed items, a check-mark image, a flat framed selection and thin separators that start
// right of the icon column. The menu stays a plain HMENU shown with TrackPopupMenu.
//
// Owner window contract. The window passed to Load owns the menu while it is shown
// (TrackPopupMenu's hWnd) and forwards the owner-draw messages of menu items:
//
//     case WM_MEASUREITEM: {
//         auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
//         if (measure->CtlType == ODT_MENU) { menu.MeasureItem(measure); return TRUE; }
//         break;
//     }
//     case WM_DRAWITEM: {
//         auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
//         if (draw->CtlType == ODT_MENU) { menu.DrawItem(draw); return TRUE; }
//         break;
//     }
//     case WM_MENUCHAR:  // optional: mnemonics of the owner-drawn items
//         if (LRESULT r = menu.MenuChar(wParam, lParam)) return r;
//         break;
//
// Only CtlType ODT_MENU belongs here; buttons, list boxes and other owner-drawn controls of
// the same window keep their own handling. An item whose itemData is not a record of this
// object (another menu's item, a system menu) is refused with ERROR_INVALID_PARAMETER and
// left untouched, so forwarding every ODT_MENU message is safe.
//
// Lifetime. The object owns the root menu and everything reachable from it, the item records
// (each item's itemData points at one), the icon images and, unless it was handed over as
// borrowed, the check image. Destroy (and the destructor) frees all of them; the menu must
// not be shown then, and HMENUs taken from RootMenu() are invalid afterwards. A borrowed
// check image must outlive the object or be replaced before it goes.
//
// Threading: single-threaded. Every call comes from the thread that owns the owner window.
//
// Errors: Win32 error codes, 0 for success. No operation throws; allocation failure is
// ERROR_OUTOFMEMORY (14). A failing system call that leaves no last error is reported with a
// fallback code rather than 0, so a failure never reads as success.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "unique_handle.h"

class ACL_Menu {
  public:
    // One image of the icon table, cut from the bitmap strip at loading.
    struct IconEntry {
        UINT commandId = 0;
        COLORREF transparentColor = 0;  // the image's top-left pixel
        tvn::UniqueBitmap image;        // width x height, compatible with the owner's display
        int width = 0;
        int height = 0;
    };

    // One owner-drawn item; its address is the item's itemData.
    struct ItemRecord {
        std::wstring text;  // as GetMenuStringW returns it, "&" mnemonics included
        int textLength = 0;
        const IconEntry* icon = nullptr;  // first entry with the item's command id, or none
        UINT state = 0;                   // GetMenuState by position at conversion time
    };

    // The ten settable colours, COLORREF 0x00BBGGRR each.
    struct Colors {
        COLORREF background;
        COLORREF selectedBackground;
        COLORREF gradientLeft;
        COLORREF gradientRight;
        COLORREF text;
        COLORREF selectedText;
        COLORREF disabledText;
        COLORREF frame;
        COLORREF separatorLine;
        COLORREF checkMarkLines;
    };

    ACL_Menu() noexcept;
    virtual ~ACL_Menu();
    ACL_Menu(const ACL_Menu&) = delete;
    ACL_Menu& operator=(const ACL_Menu&) = delete;

    // WM_MEASUREITEM of one of this object's items. Separators are 5 pixels high; other items
    // are as wide as the icon column, two text gaps and the text, and at least the minimum
    // item height. A device-context failure sets width and height to 0.
    virtual DWORD MeasureItem(MEASUREITEMSTRUCT* measure) noexcept;
    // WM_DRAWITEM of one of this object's items, drawn into draw->hDC within rcItem. The DC's
    // selected objects, text colour and background mode are as before when it returns.
    virtual DWORD DrawItem(const DRAWITEMSTRUCT* draw) noexcept;

    // Sets the ten colours and takes the shadow colour (COLOR_BTNSHADOW) again.
    void SetColors(const Colors& colors) noexcept;
    Colors GetColors() const noexcept;
    COLORREF ShadowColor() const noexcept { return shadow_; }

    // Size of one icon; -1 for a dimension takes it from the next strip loaded. Recomputes the
    // icon column width and the minimum item height. Icons already cut keep their size.
    void SetIconSize(int width, int height) noexcept;

    // Loads menu `menuId` from `module` as the root menu, the icon table from the items of
    // menu `iconMenuId` and the strip `iconBitmapId` (iconMenuId 0: no icon table), and makes
    // every item of every popup of the root menu owner-drawn, depth first; the root menu's
    // own items stay as they are. ERROR_ALREADY_EXISTS when a menu is held (nothing changes).
    // When the icon table cannot be made, the items are still converted (drawn without icons)
    // and the icon table's error is returned.
    DWORD Load(HINSTANCE module, UINT menuId, UINT iconMenuId, UINT iconBitmapId,
               HWND owner) noexcept;

    // Replaces the check-mark image; (HBITMAP)-1 changes nothing. The object deletes an image
    // that was not borrowed when it is replaced or the object is destroyed. Setting the image
    // it already holds only changes the borrowed flag. Null removes the image (checked items
    // then show a drawn check mark).
    DWORD SetCheckImage(HBITMAP image, bool borrowed) noexcept;

    // WM_MENUCHAR for a menu of this object: the item whose "&" mnemonic is the character.
    // One match is chosen (MNC_EXECUTE; a popup opens); several are selected in turn
    // (MNC_SELECT). 0 when no enabled item of this object matches, so the owner passes the
    // message on.
    LRESULT MenuChar(WPARAM wParam, LPARAM lParam) const noexcept;

    // Frees the root menu, the item records, the icons and the owned check image; the object
    // is empty again (colours and sizes stay).
    void Destroy() noexcept;

    HMENU RootMenu() const noexcept { return root_.get(); }
    HINSTANCE Module() const noexcept { return module_; }
    HWND Owner() const noexcept { return owner_; }
    int IconWidth() const noexcept { return iconWidth_; }
    int IconHeight() const noexcept { return iconHeight_; }
    int IconMarginX() const noexcept { return iconMarginX_; }
    int IconMarginY() const noexcept { return iconMarginY_; }
    int IconColumnWidth() const noexcept { return iconColumnWidth_; }
    int MinimumItemHeight() const noexcept { return minimumItemHeight_; }
    int TextGap() const noexcept { return textGap_; }
    int TextMargin() const noexcept { return textMargin_; }
    std::size_t ItemCount() const noexcept { return items_.size(); }
    std::size_t IconCount() const noexcept { return icons_.size(); }
    const IconEntry* Icon(std::size_t index) const noexcept {
        return index < icons_.size() ? icons_[index].get() : nullptr;
    }
    HBITMAP CheckImage() const noexcept { return checkImage_; }
    bool CheckImageBorrowed() const noexcept { return checkBorrowed_; }
    COLORREF CheckImageTransparentColor() const noexcept { return checkTransparent_; }

  private:
    DWORD LoadIconTable(UINT iconMenuId, UINT iconBitmapId) noexcept;
    DWORD MakeOwnerDrawn(HMENU menu) noexcept;
    const IconEntry* FindIcon(UINT commandId) const noexcept;
    const ItemRecord* FindRecord(ULONG_PTR itemData) const noexcept;
    void FillGradientColumn(HDC dc, int left, int top, int right, int bottom) const noexcept;
    void DrawImage(HDC dc, HBITMAP image, int width, int height, COLORREF transparent, int x, int y,
                   bool lifted) const noexcept;
    void DrawGrayImage(HDC dc, HBITMAP image, int width, int height, COLORREF transparent, int x,
                       int y) const noexcept;

    HINSTANCE module_ = nullptr;
    HWND owner_ = nullptr;
    tvn::UniqueMenu root_;
    std::vector<std::unique_ptr<ItemRecord>> items_;
    std::vector<std::unique_ptr<IconEntry>> icons_;
    HBITMAP checkImage_ = nullptr;
    tvn::UniqueBitmap ownedCheckImage_;  // holds checkImage_ unless it is borrowed
    COLORREF checkTransparent_ = 0;
    bool checkBorrowed_ = false;

    int iconWidth_ = 16;
    int iconHeight_ = 16;
    int iconMarginX_ = 3;
    int iconMarginY_ = 2;
    int iconColumnWidth_ = 22;
    int minimumItemHeight_ = 20;
    int textGap_ = 10;
    int textMargin_ = 2;

    COLORREF background_;
    COLORREF selectedBackground_;
    COLORREF text_;
    COLORREF selectedText_;
    COLORREF disabledText_;
    COLORREF shadow_;
    COLORREF checkMarkLines_;
    COLORREF frame_;
    COLORREF separatorLine_;
    COLOR16 gradientLeft_[3];  // red, green, blue as TRIVERTEX components (8-bit value << 8)
    COLOR16 gradientRight_[3];
};

namespace tvn {

// The colours the toolbar's menu and the properties program's menu are drawn in: pale
// background, a white-to-blue icon column, blue selection with white text, black lines, and
// the system's gray for disabled text.
ACL_Menu::Colors MenuPalette() noexcept;

}  // namespace tvn
