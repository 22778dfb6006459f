// The owner-drawn menu: loading (root menu, icon table, conversion of the popups' items) and
// the measuring and drawing of one item. Every GDI object made here is owned by a RAII holder
// and every selection is undone by a SelectedObject before its object goes.
#include "acl_menu.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "gdi_scope.h"

namespace {

constexpr int kSeparatorHeight = 5;

// The NONCLIENTMETRICSW of every Windows version: the XP-era layout, without the
// iPaddedBorderWidth that Vista added (and that earlier systems refuse).
constexpr UINT kMetricsSize = 500;
static_assert(sizeof(NONCLIENTMETRICSW) == kMetricsSize);

// GetLastError(), or `fallback` when the failing call left none: a failure is never 0.
DWORD LastErrorOr(DWORD fallback) noexcept {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// 179 + 3 x (c / 10) per component: a light tint of the system highlight colour.
COLORREF Light(COLORREF c) noexcept {
    auto tint = [](BYTE v) { return static_cast<BYTE>(179 + 3 * (v / 10)); };
    return RGB(tint(GetRValue(c)), tint(GetGValue(c)), tint(GetBValue(c)));
}

void ToComponents(COLORREF c, COLOR16 out[3]) noexcept {
    out[0] = static_cast<COLOR16>(GetRValue(c) << 8);
    out[1] = static_cast<COLOR16>(GetGValue(c) << 8);
    out[2] = static_cast<COLOR16>(GetBValue(c) << 8);
}

COLORREF FromComponents(const COLOR16 c[3]) noexcept {
    return RGB(c[0] >> 8, c[1] >> 8, c[2] >> 8);
}

// The menu font of the non-client metrics; null with *error set when it cannot be had.
tvn::UniqueFont MakeMenuFont(DWORD* error) noexcept {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = kMetricsSize;
    SetLastError(ERROR_SUCCESS);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kMetricsSize, &metrics, 0)) {
        *error = LastErrorOr(ERROR_INVALID_FUNCTION);
        return {};
    }
    tvn::UniqueFont font(CreateFontIndirectW(&metrics.lfMenuFont));
    if (!font) {
        *error = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    return font;
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color) noexcept {
    tvn::UniqueBrush brush(CreateSolidBrush(color));
    if (brush) {
        FillRect(dc, &rect, brush.get());
    }
}

void FrameSolid(HDC dc, const RECT& rect, COLORREF color) noexcept {
    tvn::UniqueBrush brush(CreateSolidBrush(color));
    if (brush) {
        FrameRect(dc, &rect, brush.get());
    }
}

// A straight line from (x0, y0) up to, not including, (x1, y1).
void Line(HDC dc, int x0, int y0, int x1, int y1, int width, COLORREF color) noexcept {
    tvn::UniquePen pen(CreatePen(PS_SOLID, width, color));
    if (!pen) {
        return;
    }
    tvn::SelectedObject selected(dc, pen.get());
    POINT previous;
    MoveToEx(dc, x0, y0, &previous);
    LineTo(dc, x1, y1);
    MoveToEx(dc, previous.x, previous.y, nullptr);
}

// Text colour and background mode of a DC, put back when the scope ends.
class TextStateScope {
  public:
    explicit TextStateScope(HDC dc) noexcept
        : dc_(dc), color_(GetTextColor(dc)), mode_(GetBkMode(dc)) {}
    ~TextStateScope() {
        SetTextColor(dc_, color_);
        SetBkMode(dc_, mode_);
    }
    TextStateScope(const TextStateScope&) = delete;
    TextStateScope& operator=(const TextStateScope&) = delete;

  private:
    HDC dc_;
    COLORREF color_;
    int mode_;
};

// The size of a bitmap, 0 x 0 when it is not one.
SIZE BitmapSize(HBITMAP bitmap) noexcept {
    BITMAP info{};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof(info), &info) == 0) {
        return {0, 0};
    }
    return {info.bmWidth, info.bmHeight};
}

// The "&" mnemonic of a menu text, upper-cased; 0 when it has none ("&&" is a plain "&").
wchar_t Mnemonic(const std::wstring& text) noexcept {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != L'&') {
            continue;
        }
        if (text[i + 1] == L'&') {
            ++i;
            continue;
        }
        return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(
            CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(text[i + 1])))));
    }
    return 0;
}

}  // namespace

ACL_Menu::ACL_Menu() noexcept
    : background_(0xF1F4F4),
      selectedBackground_(Light(GetSysColor(COLOR_HIGHLIGHT))),
      text_(0x000000),
      selectedText_(0x000000),
      disabledText_(0x99A8AC),
      shadow_(GetSysColor(COLOR_BTNSHADOW)),
      checkMarkLines_(0x000000),
      frame_(0xC56A31),
      separatorLine_(0x99A8AC) {
    ToComponents(0xF1F4F4, gradientLeft_);
    ToComponents(0xF5C4A6, gradientRight_);
}

ACL_Menu::~ACL_Menu() {
    Destroy();
}

void ACL_Menu::SetColors(const Colors& colors) noexcept {
    background_ = colors.background;
    selectedBackground_ = colors.selectedBackground;
    ToComponents(colors.gradientLeft, gradientLeft_);
    ToComponents(colors.gradientRight, gradientRight_);
    text_ = colors.text;
    selectedText_ = colors.selectedText;
    disabledText_ = colors.disabledText;
    frame_ = colors.frame;
    separatorLine_ = colors.separatorLine;
    checkMarkLines_ = colors.checkMarkLines;
    shadow_ = GetSysColor(COLOR_BTNSHADOW);
}

ACL_Menu::Colors ACL_Menu::GetColors() const noexcept {
    return {background_,
            selectedBackground_,
            FromComponents(gradientLeft_),
            FromComponents(gradientRight_),
            text_,
            selectedText_,
            disabledText_,
            frame_,
            separatorLine_,
            checkMarkLines_};
}

ACL_Menu::Colors tvn::MenuPalette() noexcept {
    return {
        .background = RGB(250, 250, 255),
        .selectedBackground = RGB(148, 176, 224),
        .gradientLeft = RGB(255, 255, 255),
        .gradientRight = RGB(148, 176, 224),
        .text = RGB(0, 0, 0),
        .selectedText = RGB(255, 255, 255),
        .disabledText = GetSysColor(COLOR_GRAYTEXT),
        .frame = RGB(0, 0, 0),
        .separatorLine = RGB(0, 0, 0),
        .checkMarkLines = RGB(0, 0, 0),
    };
}

void ACL_Menu::SetIconSize(int width, int height) noexcept {
    iconWidth_ = width;
    iconHeight_ = height;
    iconColumnWidth_ = iconWidth_ + 2 * iconMarginX_;
    minimumItemHeight_ = iconHeight_ + 2 * iconMarginY_;
}

DWORD ACL_Menu::Load(HINSTANCE module, UINT menuId, UINT iconMenuId, UINT iconBitmapId,
                     HWND owner) noexcept {
    if (root_) {
        return ERROR_ALREADY_EXISTS;
    }
    module_ = module;
    owner_ = owner;
    SetLastError(ERROR_SUCCESS);
    root_.reset(LoadMenuW(module, MAKEINTRESOURCEW(menuId)));
    if (!root_) {
        return LastErrorOr(ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    DWORD iconError = iconMenuId != 0 ? LoadIconTable(iconMenuId, iconBitmapId) : ERROR_SUCCESS;

    int count = GetMenuItemCount(root_.get());
    for (int position = 0; position < count; ++position) {
        HMENU popup = GetSubMenu(root_.get(), position);
        if (popup == nullptr) {
            continue;
        }
        if (DWORD error = MakeOwnerDrawn(popup); error != ERROR_SUCCESS) {
            return error;
        }
    }
    return iconError;
}

DWORD ACL_Menu::LoadIconTable(UINT iconMenuId, UINT iconBitmapId) noexcept {
    // Declared in the order they are made, so that they go in reverse: the selections are
    // undone, then the DCs, the strip and the icon menu are freed.
    SetLastError(ERROR_SUCCESS);
    tvn::UniqueMenu iconMenu(LoadMenuW(module_, MAKEINTRESOURCEW(iconMenuId)));
    if (!iconMenu) {
        return LastErrorOr(ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    int count = GetMenuItemCount(iconMenu.get());
    if (count <= 0) {
        return ERROR_INVALID_DATA;  // no item names an image: nothing to divide the strip by
    }
    SetLastError(ERROR_SUCCESS);
    tvn::UniqueBitmap strip(LoadBitmapW(module_, MAKEINTRESOURCEW(iconBitmapId)));
    if (!strip) {
        return LastErrorOr(ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    SIZE stripSize = BitmapSize(strip.get());
    int imageWidth = stripSize.cx / count;
    if (imageWidth <= 0 || stripSize.cy <= 0) {
        return ERROR_INVALID_DATA;  // fewer pixels than images
    }
    if (iconWidth_ == -1 || iconHeight_ == -1) {
        SetIconSize(iconWidth_ == -1 ? imageWidth : iconWidth_,
                    iconHeight_ == -1 ? stripSize.cy : iconHeight_);
    }
    if (iconWidth_ <= 0 || iconHeight_ <= 0) {
        return ERROR_INVALID_PARAMETER;
    }

    tvn::WindowDc ownerDc(owner_);
    if (!ownerDc) {
        return LastErrorOr(ERROR_DC_NOT_FOUND);
    }
    tvn::UniqueMemoryDc stripDc(CreateCompatibleDC(ownerDc.get()));
    tvn::UniqueMemoryDc iconDc(CreateCompatibleDC(ownerDc.get()));
    if (!stripDc || !iconDc) {
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    tvn::SelectedObject stripSelected(stripDc.get(), strip.get());
    try {
        icons_.reserve(icons_.size() + static_cast<std::size_t>(count));
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }

    for (int position = 0; position < count; ++position) {
        std::unique_ptr<IconEntry> entry(new (std::nothrow) IconEntry);
        if (!entry) {
            return ERROR_OUTOFMEMORY;
        }
        entry->image.reset(CreateCompatibleBitmap(ownerDc.get(), iconWidth_, iconHeight_));
        if (!entry->image) {
            return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
        }
        {
            tvn::SelectedObject iconSelected(iconDc.get(), entry->image.get());
            if (!BitBlt(iconDc.get(), 0, 0, imageWidth, stripSize.cy, stripDc.get(),
                        position * imageWidth, 0, SRCCOPY)) {
                return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
            }
            entry->transparentColor = GetPixel(iconDc.get(), 0, 0);
        }
        entry->commandId = GetMenuItemID(iconMenu.get(), position);
        entry->width = iconWidth_;
        entry->height = iconHeight_;
        icons_.push_back(std::move(entry));  // capacity reserved above: cannot throw
    }
    return ERROR_SUCCESS;
}

DWORD ACL_Menu::MakeOwnerDrawn(HMENU menu) noexcept {
    int count = GetMenuItemCount(menu);
    if (count < 0) {
        return LastErrorOr(ERROR_INVALID_MENU_HANDLE);
    }
    for (int position = 0; position < count; ++position) {
        HMENU submenu = GetSubMenu(menu, position);
        try {
            auto record = std::make_unique<ItemRecord>();
            record->state = GetMenuState(menu, position, MF_BYPOSITION);
            if (submenu != nullptr) {
                // For an item that opens a submenu the high byte is the submenu's item count,
                // not flags: 8 items would read as MF_SEPARATOR.
                record->state &= 0xFF;
            }
            int length = GetMenuStringW(menu, position, nullptr, 0, MF_BYPOSITION);
            if (length > 0) {
                record->text.resize(static_cast<std::size_t>(length) + 1);
                int copied =
                    GetMenuStringW(menu, position, record->text.data(), length + 1, MF_BYPOSITION);
                record->text.resize(static_cast<std::size_t>(std::max(copied, 0)));
            }
            record->textLength = static_cast<int>(record->text.size());
            record->icon = FindIcon(GetMenuItemID(menu, position));
            items_.push_back(std::move(record));
        } catch (...) {
            return ERROR_OUTOFMEMORY;
        }

        // The record is in the list before the menu points at it, so a failure here cannot
        // leave the menu holding a freed record.
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_TYPE;
        SetLastError(ERROR_SUCCESS);
        if (!GetMenuItemInfoW(menu, position, TRUE, &info)) {
            items_.pop_back();
            return LastErrorOr(ERROR_INVALID_MENU_HANDLE);
        }
        info.fMask = MIIM_TYPE | MIIM_DATA;
        info.fType |= MFT_OWNERDRAW;
        info.dwTypeData = nullptr;
        info.cch = 0;
        info.dwItemData = reinterpret_cast<ULONG_PTR>(items_.back().get());
        if (!SetMenuItemInfoW(menu, position, TRUE, &info)) {
            items_.pop_back();
            return LastErrorOr(ERROR_INVALID_MENU_HANDLE);
        }

        if (submenu != nullptr) {
            if (DWORD error = MakeOwnerDrawn(submenu); error != ERROR_SUCCESS) {
                return error;
            }
        }
    }
    return ERROR_SUCCESS;
}

const ACL_Menu::IconEntry* ACL_Menu::FindIcon(UINT commandId) const noexcept {
    for (const auto& icon : icons_) {
        if (icon->commandId == commandId) {
            return icon.get();
        }
    }
    return nullptr;
}

const ACL_Menu::ItemRecord* ACL_Menu::FindRecord(ULONG_PTR itemData) const noexcept {
    if (itemData == 0) {
        return nullptr;
    }
    for (const auto& item : items_) {
        if (reinterpret_cast<ULONG_PTR>(item.get()) == itemData) {
            return item.get();
        }
    }
    return nullptr;
}

DWORD ACL_Menu::SetCheckImage(HBITMAP image, bool borrowed) noexcept {
    if (image == reinterpret_cast<HBITMAP>(-1)) {
        return ERROR_SUCCESS;
    }
    if (image == checkImage_) {
        // The same image again: only who deletes it changes; it must not be deleted now.
        ownedCheckImage_.release();
    } else {
        ownedCheckImage_.reset();  // deletes the old image unless it was borrowed
    }
    checkImage_ = image;
    checkBorrowed_ = borrowed;
    if (!borrowed) {
        ownedCheckImage_.reset(image);
    }
    checkTransparent_ = 0;
    if (image == nullptr) {
        return ERROR_SUCCESS;
    }

    tvn::WindowDc ownerDc(owner_);
    if (!ownerDc) {
        return LastErrorOr(ERROR_DC_NOT_FOUND);
    }
    tvn::UniqueMemoryDc dc(CreateCompatibleDC(ownerDc.get()));
    if (!dc) {
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    tvn::SelectedObject selected(dc.get(), image);
    checkTransparent_ = GetPixel(dc.get(), 0, 0);
    return ERROR_SUCCESS;
}

DWORD ACL_Menu::MeasureItem(MEASUREITEMSTRUCT* measure) noexcept {
    if (measure == nullptr || measure->CtlType != ODT_MENU) {
        return ERROR_INVALID_PARAMETER;
    }
    const ItemRecord* item = FindRecord(measure->itemData);
    if (item == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (item->state & MF_SEPARATOR) {
        measure->itemWidth = static_cast<UINT>(iconColumnWidth_ + 2 * textGap_ + 1);
        measure->itemHeight = kSeparatorHeight;
        return ERROR_SUCCESS;
    }

    DWORD error = ERROR_SUCCESS;
    tvn::UniqueFont font = MakeMenuFont(&error);
    if (!font) {
        return error;
    }
    tvn::WindowDc ownerDc(owner_);
    tvn::UniqueMemoryDc dc(ownerDc ? CreateCompatibleDC(ownerDc.get()) : nullptr);
    if (!dc) {
        measure->itemWidth = 0;
        measure->itemHeight = 0;
        return LastErrorOr(ERROR_DC_NOT_FOUND);
    }
    tvn::SelectedObject fontSelected(dc.get(), font.get());
    RECT text{};
    DrawTextW(dc.get(), item->text.c_str(), item->textLength, &text,
              DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS | DT_VCENTER);
    measure->itemWidth =
        static_cast<UINT>(iconColumnWidth_ + 2 * textGap_ + (text.right - text.left));
    measure->itemHeight = static_cast<UINT>(
        std::max<LONG>(minimumItemHeight_, (text.bottom - text.top) + 2 * textMargin_));
    return ERROR_SUCCESS;
}

void ACL_Menu::FillGradientColumn(HDC dc, int left, int top, int right, int bottom) const noexcept {
    TRIVERTEX vertices[2] = {
        {left, top, gradientLeft_[0], gradientLeft_[1], gradientLeft_[2], 0},
        {right, bottom, gradientRight_[0], gradientRight_[1], gradientRight_[2], 0},
    };
    GRADIENT_RECT rect = {0, 1};
    GradientFill(dc, vertices, 2, &rect, 1, GRADIENT_FILL_RECT_H);
}

// The image at (x, y); when lifted, its shadow first at (x + 1, y + 1) and the image itself
// one pixel up and left. Only the part of the image that exists and fits the icon is drawn.
void ACL_Menu::DrawImage(HDC dc, HBITMAP image, int width, int height, COLORREF transparent, int x,
                         int y, bool lifted) const noexcept {
    SIZE size = BitmapSize(image);
    width = std::min<int>(width, size.cx);
    height = std::min<int>(height, size.cy);
    if (width <= 0 || height <= 0) {
        return;
    }
    tvn::UniqueMemoryDc source(CreateCompatibleDC(dc));
    if (!source) {
        return;
    }
    tvn::SelectedObject selected(source.get(), image);
    if (lifted) {
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                COLORREF pixel = GetPixel(source.get(), column, row);
                if (pixel != CLR_INVALID && pixel != transparent) {
                    SetPixel(dc, x + 1 + column, y + 1 + row, shadow_);
                }
            }
        }
        --x;
        --y;
    }
    TransparentBlt(dc, x, y, width, height, source.get(), 0, 0, width, height, transparent);
}

void ACL_Menu::DrawGrayImage(HDC dc, HBITMAP image, int width, int height, COLORREF transparent,
                             int x, int y) const noexcept {
    SIZE size = BitmapSize(image);
    width = std::min<int>(width, size.cx);
    height = std::min<int>(height, size.cy);
    tvn::UniqueMemoryDc source(CreateCompatibleDC(dc));
    if (!source || width <= 0 || height <= 0) {
        return;
    }
    tvn::SelectedObject selected(source.get(), image);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            COLORREF pixel = GetPixel(source.get(), column, row);
            if (pixel == CLR_INVALID || pixel == transparent) {
                continue;
            }
            BYTE gray = static_cast<BYTE>(
                (77 * GetRValue(pixel) + 150 * GetGValue(pixel) + 29 * GetBValue(pixel)) / 256);
            SetPixel(dc, x + column, y + row, RGB(gray, gray, gray));
        }
    }
}

DWORD ACL_Menu::DrawItem(const DRAWITEMSTRUCT* draw) noexcept {
    if (draw == nullptr || draw->CtlType != ODT_MENU || draw->hDC == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const ItemRecord* item = FindRecord(draw->itemData);
    if (item == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    HDC dc = draw->hDC;
    const RECT& r = draw->rcItem;
    const int columnRight = r.left + iconColumnWidth_;

    if (item->state & MF_SEPARATOR) {
        FillSolid(dc, r, background_);
        FillGradientColumn(dc, r.left, r.top, columnRight, r.top + kSeparatorHeight);
        int y = r.top + (r.bottom - r.top) / 2;
        Line(dc, columnRight + textGap_, y, r.right, y, 1, separatorLine_);
        return ERROR_SUCCESS;
    }

    const bool grayed = (draw->itemState & ODS_GRAYED) != 0;
    const bool checked = (draw->itemState & ODS_CHECKED) != 0;
    // A grayed item never shows that it is selected: no selection colours, no lifted image.
    const bool highlighted = (draw->itemState & ODS_SELECTED) != 0 && !grayed;
    COLORREF textColor;
    if (highlighted) {
        FillSolid(dc, r, selectedBackground_);
        FrameSolid(dc, r, frame_);
        textColor = selectedText_;
    } else {
        FillSolid(dc, r, background_);
        FillGradientColumn(dc, r.left, r.top, columnRight, r.bottom);
        textColor = grayed ? disabledText_ : text_;
    }

    const int imageX = r.left + iconMarginX_;
    const int imageY = r.top + iconMarginY_;
    if (checked && checkImage_ != nullptr) {
        DrawImage(dc, checkImage_, iconWidth_, iconHeight_, checkTransparent_, imageX, imageY,
                  highlighted);
    } else if (checked) {
        FrameSolid(dc, RECT{r.left, r.top, columnRight, r.bottom}, frame_);
        int cx = r.left + iconColumnWidth_ / 2;
        int cy = r.top + 2 * (r.bottom - r.top) / 3;
        Line(dc, cx - 3, cy - 4, cx, cy, 2, checkMarkLines_);
        Line(dc, cx, cy, cx + 7, cy - 9, 1, checkMarkLines_);
    } else if (item->icon != nullptr) {
        const IconEntry& icon = *item->icon;
        int width = std::min(iconWidth_, icon.width);
        int height = std::min(iconHeight_, icon.height);
        if (grayed) {
            DrawGrayImage(dc, icon.image.get(), width, height, icon.transparentColor, imageX,
                          imageY);
        } else {
            DrawImage(dc, icon.image.get(), width, height, icon.transparentColor, imageX, imageY,
                      highlighted);
        }
    }

    DWORD error = ERROR_SUCCESS;
    tvn::UniqueFont font = MakeMenuFont(&error);
    if (!font) {
        return error;
    }
    tvn::SelectedObject fontSelected(dc, font.get());
    TextStateScope textState(dc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, textColor);
    RECT textRect = {columnRight + textGap_, r.top + textMargin_, r.right, r.bottom};
    DrawTextW(dc, item->text.c_str(), item->textLength, &textRect,
              DT_EXPANDTABS | DT_SINGLELINE | DT_VCENTER);
    return ERROR_SUCCESS;
}

LRESULT ACL_Menu::MenuChar(WPARAM wParam, LPARAM lParam) const noexcept {
    HMENU menu = reinterpret_cast<HMENU>(lParam);
    wchar_t key = static_cast<wchar_t>(LOWORD(wParam));
    if (menu == nullptr || key == 0) {
        return 0;
    }
    key = static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(
        CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(key)))));
    int count = GetMenuItemCount(menu);
    int first = -1;
    int afterHighlight = -1;
    int matches = 0;
    bool highlightSeen = false;
    for (int position = 0; position < count; ++position) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_DATA | MIIM_STATE;
        if (!GetMenuItemInfoW(menu, position, TRUE, &info)) {
            continue;
        }
        const ItemRecord* item = FindRecord(info.dwItemData);
        bool enabled = (info.fState & (MFS_GRAYED | MFS_DISABLED)) == 0;
        if (item != nullptr && enabled && !(item->state & MF_SEPARATOR) &&
            Mnemonic(item->text) == key) {
            ++matches;
            if (first < 0) {
                first = position;
            }
            if (highlightSeen && afterHighlight < 0) {
                afterHighlight = position;
            }
        }
        if (info.fState & MFS_HILITE) {
            highlightSeen = true;
        }
    }
    if (matches == 0) {
        return 0;
    }
    if (matches == 1) {
        return MAKELRESULT(first, MNC_EXECUTE);
    }
    return MAKELRESULT(afterHighlight >= 0 ? afterHighlight : first, MNC_SELECT);
}

void ACL_Menu::Destroy() noexcept {
    // The menu goes first: while it exists its items point at the records.
    root_.reset();
    items_.clear();
    icons_.clear();
    ownedCheckImage_.reset();
    checkImage_ = nullptr;
    checkBorrowed_ = false;
    checkTransparent_ = 0;
    module_ = nullptr;
    owner_ = nullptr;
}
