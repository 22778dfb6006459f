// The shared pieces of the menu tests; see acl_menu_fixture.h.
#include "acl_menu_fixture.h"

#include <cstdio>
#include <cstdlib>

namespace tvn::test {

HINSTANCE Self() {
    return GetModuleHandleW(nullptr);
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

std::string Hex(COLORREF c) {
    char text[16];
    snprintf(text, sizeof(text), "0x%06lX", static_cast<unsigned long>(c));
    return text;
}

COLORREF Gray(COLORREF c) {
    BYTE g = static_cast<BYTE>((77 * GetRValue(c) + 150 * GetGValue(c) + 29 * GetBValue(c)) / 256);
    return RGB(g, g, g);
}

Surface::Surface(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    dc_.reset(CreateCompatibleDC(nullptr));
    selected_ = std::make_unique<SelectedObject>(dc_.get(), bitmap_.get());
    Clear();
}

// The bitmap leaves the DC before either is deleted.
Surface::~Surface() {
    selected_.reset();
}

void Surface::Clear() {
    RECT all = {0, 0, width_, height_};
    UniqueBrush brush(CreateSolidBrush(kSentinel));
    FillRect(dc_.get(), &all, brush.get());
}

PixelRows Pixels(HBITMAP bitmap) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    SelectedObject selected(dc.get(), bitmap);
    PixelRows rows(info.bmHeight, std::vector<COLORREF>(info.bmWidth));
    for (int y = 0; y < info.bmHeight; ++y) {
        for (int x = 0; x < info.bmWidth; ++x) {
            rows[y][x] = GetPixel(dc.get(), x, y);
        }
    }
    return rows;
}

MENUITEMINFOW ItemInfo(HMENU menu, int position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_DATA | MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
    EXPECT_TRUE(GetMenuItemInfoW(menu, position, TRUE, &info)) << position;
    return info;
}

const ACL_Menu::ItemRecord* Record(HMENU menu, int position) {
    return reinterpret_cast<const ACL_Menu::ItemRecord*>(ItemInfo(menu, position).dwItemData);
}

void AclMenuToolbar::SetUp() {
    owner_ = std::make_unique<OwnerWindow>(&menu_);
    ASSERT_NE(owner_->get(), nullptr);
    ASSERT_EQ(SetUpToolbarMenu(menu_, Self(), owner_->get()), 0u);
    shown_ = GetSubMenu(menu_.RootMenu(), 0);
    ASSERT_NE(shown_, nullptr);
}

DWORD AclMenuToolbar::Draw(int position, UINT state, RECT rect, HMENU menu) {
    menu = menu != nullptr ? menu : shown_;
    DRAWITEMSTRUCT draw{};
    draw.CtlType = ODT_MENU;
    draw.itemID = GetMenuItemID(menu, position);
    draw.itemAction = ODA_DRAWENTIRE;
    draw.itemState = state;
    draw.hwndItem = reinterpret_cast<HWND>(menu);
    draw.hDC = surface_.dc();
    draw.rcItem = rect;
    draw.itemData = ItemInfo(menu, position).dwItemData;
    return menu_.DrawItem(&draw);
}

void AclMenuToolbar::ExpectImageAt(const PixelRows& image, COLORREF transparent, int x0, int y0,
                                   bool gray) {
    for (size_t y = 0; y < image.size(); ++y) {
        for (size_t x = 0; x < image[y].size(); ++x) {
            if (image[y][x] == transparent) {
                continue;
            }
            COLORREF expected = gray ? Gray(image[y][x]) : image[y][x];
            ASSERT_EQ(Hex(surface_.At(x0 + x, y0 + y)), Hex(expected)) << x << "," << y;
        }
    }
}

void AclMenuToolbar::ExpectLiftedImage(const PixelRows& image, COLORREF transparent, int x0,
                                       int y0) {
    ExpectImageAt(image, transparent, x0 - 1, y0 - 1);
    int shadows = 0;
    for (size_t y = 0; y < image.size(); ++y) {
        for (size_t x = 0; x < image[y].size(); ++x) {
            if (image[y][x] == transparent) {
                continue;
            }
            size_t cx = x + 2, cy = y + 2;  // the image pixel that lands on this shadow
            bool covered =
                cy < image.size() && cx < image[cy].size() && image[cy][cx] != transparent;
            if (!covered) {
                ASSERT_EQ(Hex(surface_.At(x0 + 1 + x, y0 + 1 + y)), Hex(menu_.ShadowColor()))
                    << x << "," << y;
                ++shadows;
            }
        }
    }
    EXPECT_GT(shadows, 0);
}

}  // namespace tvn::test
