// The owner-drawn menu shown for real by TrackPopupMenu, the artwork its programs embed, and
// that destroying the menu frees every GDI and USER object it made.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "acl_menu.h"
#include "acl_menu_fixture.h"
#include "acl_menu_support.h"
#include "resource.h"

namespace tvn::test {
namespace {

// Counts of live GDI objects and menus of this process. GetGuiResources where the system
// answers it; under Wine, which does not, the handle tables are walked: Wine accepts a
// handle by its low word, so every live object answers exactly one of them (a menu two).
int LiveObjects(DWORD kind, bool (*alive)(UINT_PTR handle)) {
    if (DWORD count = GetGuiResources(GetCurrentProcess(), kind); count != 0) {
        return static_cast<int>(count);
    }
    int count = 0;
    for (UINT_PTR handle = 1; handle <= 0xFFFF; ++handle) {
        count += alive(handle);
    }
    return count;
}
int LiveGdiObjects() {
    return LiveObjects(GR_GDIOBJECTS,
                       [](UINT_PTR h) { return GetObjectType(reinterpret_cast<HGDIOBJ>(h)) != 0; });
}
int LiveMenus() {
    return LiveObjects(GR_USEROBJECTS,
                       [](UINT_PTR h) { return IsMenu(reinterpret_cast<HMENU>(h)) != FALSE; });
}

// A real TrackPopupMenu: Windows measures and draws the items through the owner window; when
// the menu is idle, its first items' pixels are read from the menu window and a key is sent.
struct Tracking {
    HMENU shown;
    UINT keyMessage;
    WPARAM key;
    HWND menuWindow = nullptr;
    int drawnAtIdle = 0;
    COLORREF columnLeft = CLR_INVALID, background = CLR_INVALID;
};

LRESULT TrackHandler(OwnerWindow& owner, UINT message, WPARAM wParam, LPARAM lParam,
                     bool* handled) {
    auto* tracking = static_cast<Tracking*>(owner.state);
    if (message == WM_TIMER) {
        EndMenu();  // a deadline, so that a failing test cannot hang
        *handled = true;
        return 0;
    }
    if (message != WM_ENTERIDLE || wParam != MSGF_MENU || tracking->menuWindow != nullptr) {
        return 0;
    }
    tracking->menuWindow = reinterpret_cast<HWND>(lParam);
    tracking->drawnAtIdle = owner.drawn;
    RECT item;
    RECT window;
    if (GetMenuItemRect(owner.get(), tracking->shown, kAuto, &item) &&
        GetWindowRect(tracking->menuWindow, &window)) {
        // Screen coordinates on Windows; Wine gives them relative to the menu window.
        RECT common;
        if (!IntersectRect(&common, &item, &window)) {
            OffsetRect(&item, window.left, window.top);
        }
        MapWindowPoints(nullptr, tracking->menuWindow, reinterpret_cast<POINT*>(&item), 2);
        WindowDc dc(tracking->menuWindow);
        tracking->columnLeft = GetPixel(dc.get(), item.left, item.top);
        tracking->background = GetPixel(dc.get(), item.right - 1, item.top);
    }
    PostMessageW(tracking->menuWindow, tracking->keyMessage, tracking->key, 0);
    return 0;
}

TEST(AclMenuTrack, ShownForRealAndClosedByKey) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM key;
        int expected;
    };
    const Case cases[] = {
        {"escape dismisses", WM_KEYDOWN, VK_ESCAPE, 0},
        {"a mnemonic chooses", WM_CHAR, L'k', ID_MENU_KBYTES},
        {"an icon item's mnemonic", WM_CHAR, L'p', ID_MENU_TVNPROPERTIES},
    };
    for (const Case& c : cases) {
        ACL_Menu menu;
        // A hidden owner: destroying a shown window costs Wine seconds.
        OwnerWindow owner(&menu, TrackHandler);
        ASSERT_EQ(SetUpToolbarMenu(menu, Self(), owner.get()), 0u);
        HMENU shown = GetSubMenu(menu.RootMenu(), 0);
        CheckMenuItem(shown, ID_MENU_KBYTES, MF_BYCOMMAND | MF_CHECKED);
        Tracking tracking{shown, c.message, c.key};
        owner.state = &tracking;
        SetTimer(owner.get(), 1, 20000, nullptr);
        int chosen = TrackPopupMenu(shown, TPM_RETURNCMD | TPM_RIGHTBUTTON, 100, 100, 0,
                                    owner.get(), nullptr);
        KillTimer(owner.get(), 1);

        EXPECT_EQ(chosen, c.expected) << c.name;
        ASSERT_NE(tracking.menuWindow, nullptr) << c.name << ": the menu never became idle";
        EXPECT_GE(owner.measured, 17) << c.name;
        EXPECT_GE(tracking.drawnAtIdle, 17) << c.name;
        EXPECT_EQ(Hex(tracking.columnLeft), Hex(RGB(255, 255, 255))) << c.name;
        EXPECT_EQ(Hex(tracking.background), Hex(0xFFFAFA)) << c.name;
    }
}

TEST(AclMenuArtwork, BitmapsHaveTheirSizesAndDepths) {
    UniqueModule properties(LoadLibraryW(PropertiesResourceLibrary()));
    ASSERT_TRUE(properties);
    struct Case {
        const char* name;
        HINSTANCE module;
        UINT id;
        int width, height, bits;
        bool keyed;  // the top-left pixel is the transparent colour
    };
    const Case cases[] = {
        {"check mark", Self(), IDB_CHECKMARK, 14, 14, 4, true},
        {"toolbar menu images", Self(), IDB_MENU_ICONS, 28, 14, 8, true},
        {"toolbar button", Self(), IDB_TOOLBAR, 24, 20, 8, true},
        {"banner", properties.get(), 130, 300, 50, 8, false},
        {"properties menu images", properties.get(), 131, 32, 16, 8, true},
    };
    for (const Case& c : cases) {
        UniqueBitmap bitmap(static_cast<HBITMAP>(
            LoadImageW(c.module, MAKEINTRESOURCEW(c.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        ASSERT_TRUE(bitmap) << c.name;
        DIBSECTION section{};
        ASSERT_EQ(GetObjectW(bitmap.get(), sizeof(section), &section),
                  static_cast<int>(sizeof(section)))
            << c.name;
        EXPECT_EQ(section.dsBm.bmWidth, c.width) << c.name;
        EXPECT_EQ(section.dsBm.bmHeight, c.height) << c.name;
        EXPECT_EQ(section.dsBmih.biBitCount, c.bits) << c.name;
        auto pixels = Pixels(bitmap.get());
        EXPECT_EQ(pixels[0][0] == kKey, c.keyed) << c.name;
        // Every picture has content: the key colour is at most its background.
        int key = 0;
        for (const auto& row : pixels) {
            for (COLORREF p : row) {
                key += p == kKey;
            }
        }
        EXPECT_LT(key, c.width * c.height * 7 / 8) << c.name;
    }
}

// The images of icon 128 in its group: Windows picks one per size it asks for.
TEST(AclMenuArtwork, ProgramIconHasEverySizeWindowsAsksFor) {
    UniqueModule properties(LoadLibraryW(PropertiesResourceLibrary()));
    ASSERT_TRUE(properties);
    HRSRC group = FindResourceW(properties.get(), MAKEINTRESOURCEW(128), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(properties.get(), group)));
    ASSERT_NE(directory, nullptr);
    for (int size : {16, 24, 32, 48, 256}) {
        int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0) << size;
        HRSRC image = FindResourceW(properties.get(), MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_NE(image, nullptr) << size;
        auto* data = static_cast<const BYTE*>(LockResource(LoadResource(properties.get(), image)));
        DWORD bytes = SizeofResource(properties.get(), image);
        if (size == 256) {
            ASSERT_GT(bytes, 24u);
            EXPECT_EQ(memcmp(data, "\x89PNG", 4), 0);
            EXPECT_EQ(data[16] << 24 | data[17] << 16 | data[18] << 8 | data[19], 256);
        } else {
            auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data);
            EXPECT_EQ(header->biWidth, size);
            EXPECT_EQ(header->biHeight, 2 * size);
            EXPECT_EQ(header->biBitCount, 32);
        }
        UniqueIcon icon(static_cast<HICON>(
            LoadImageW(properties.get(), MAKEINTRESOURCEW(128), IMAGE_ICON, size, size, 0)));
        EXPECT_TRUE(icon) << size;
    }
}

TEST(AclMenuArtwork, HandCursorPointsWithItsFingertip) {
    UniqueModule properties(LoadLibraryW(PropertiesResourceLibrary()));
    ASSERT_TRUE(properties);
    HCURSOR cursor = LoadCursorW(properties.get(), MAKEINTRESOURCEW(132));
    ASSERT_NE(cursor, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    UniqueBitmap mask(info.hbmMask), color(info.hbmColor);
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 4u);
    EXPECT_EQ(info.yHotspot, 0u);
    BITMAP bitmap{};
    GetObjectW(mask.get(), sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, 32);
    // The hotspot is on the hand: the AND mask is 0 (opaque) there.
    auto pixels = Pixels(mask.get());
    EXPECT_EQ(pixels[info.yHotspot][info.xHotspot], RGB(0, 0, 0));
}

TEST(AclMenuLifetime, DestroyFreesEveryObject) {
    UniqueModule properties(LoadLibraryW(PropertiesResourceLibrary()));
    ASSERT_TRUE(properties);
    OwnerWindow owner(nullptr);
    Surface surface(200, 40);
    auto cycle = [&](HINSTANCE module, bool toolbar) {
        ACL_Menu menu;
        DWORD result = toolbar ? SetUpToolbarMenu(menu, module, owner.get())
                               : SetUpPropertiesMenu(menu, module, owner.get());
        EXPECT_EQ(result, 0u);
        HMENU shown = GetSubMenu(menu.RootMenu(), 0);
        for (int position = 0; position < GetMenuItemCount(shown); ++position) {
            MEASUREITEMSTRUCT measure{};
            measure.CtlType = ODT_MENU;
            measure.itemData = ItemInfo(shown, position).dwItemData;
            menu.MeasureItem(&measure);
            DRAWITEMSTRUCT draw{};
            draw.CtlType = ODT_MENU;
            draw.itemState = ODS_SELECTED | (position % 2 ? ODS_CHECKED : 0);
            draw.hDC = surface.dc();
            draw.rcItem = {0, 0, 180, 20};
            draw.itemData = measure.itemData;
            menu.DrawItem(&draw);
        }
    };
    // One cycle first: the system makes some objects once, on first use.
    cycle(Self(), true);
    cycle(properties.get(), false);

    int gdi = LiveGdiObjects(), menus = LiveMenus();
    {
        UniqueBrush probe(CreateSolidBrush(RGB(1, 2, 3)));
        UniqueMenu probeMenu(CreatePopupMenu());
        ASSERT_GT(LiveGdiObjects(), gdi) << "the counter does not see new GDI objects";
        ASSERT_GT(LiveMenus(), menus) << "the counter does not see new menus";
    }
    for (int i = 0; i < 200; ++i) {
        cycle(i % 2 ? properties.get() : Self(), i % 2 == 0);
    }
    EXPECT_EQ(LiveGdiObjects(), gdi);
    EXPECT_EQ(LiveMenus(), menus);
}

}  // namespace
}  // namespace tvn::test
