// The owner-drawn menu set up and loaded from the real menu resources of the toolbar (linked
// into this program) and of the properties program (acl_menu_properties.dll): default sizes
// and colours, the icon tables, failed and repeated loads, the conversion of every popup, and
// the check image's ownership.
#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "acl_menu.h"
#include "acl_menu_fixture.h"
#include "acl_menu_support.h"
#include "resource.h"

namespace tvn::test {
namespace {

TEST(AclMenuSetup, StartsWithTheDefaultSizesAndColours) {
    ACL_Menu menu;
    EXPECT_EQ(menu.IconWidth(), 16);
    EXPECT_EQ(menu.IconHeight(), 16);
    EXPECT_EQ(menu.IconMarginX(), 3);
    EXPECT_EQ(menu.IconMarginY(), 2);
    EXPECT_EQ(menu.IconColumnWidth(), 22);
    EXPECT_EQ(menu.MinimumItemHeight(), 20);
    EXPECT_EQ(menu.TextGap(), 10);
    EXPECT_EQ(menu.TextMargin(), 2);
    EXPECT_EQ(menu.RootMenu(), nullptr);
    EXPECT_EQ(menu.CheckImage(), nullptr);

    COLORREF hl = GetSysColor(COLOR_HIGHLIGHT);
    auto light = [](int c) { return 179 + 3 * (c / 10); };
    ACL_Menu::Colors c = menu.GetColors();
    EXPECT_EQ(Hex(c.selectedBackground),
              Hex(RGB(light(GetRValue(hl)), light(GetGValue(hl)), light(GetBValue(hl)))));
    const COLORREF expected[] = {0xF1F4F4, 0xF1F4F4, 0xF5C4A6, 0x000000, 0x000000,
                                 0x99A8AC, 0xC56A31, 0x99A8AC, 0x000000};
    const COLORREF actual[] = {c.background, c.gradientLeft,  c.gradientRight,
                               c.text,       c.selectedText,  c.disabledText,
                               c.frame,      c.separatorLine, c.checkMarkLines};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(Hex(actual[i]), Hex(expected[i])) << i;
    }
    EXPECT_EQ(Hex(menu.ShadowColor()), Hex(GetSysColor(COLOR_BTNSHADOW)));
}

TEST(AclMenuSetup, SettingsTakeEffectAndRecomputeTheColumn) {
    ACL_Menu menu;
    menu.SetColors(kMenuColors);
    ACL_Menu::Colors c = menu.GetColors();
    EXPECT_EQ(Hex(c.gradientRight), Hex(RGB(0x94, 0xB0, 0xE0)));
    EXPECT_EQ(Hex(c.selectedBackground), Hex(0xE0B094));
    EXPECT_EQ(Hex(c.selectedText), Hex(0xFFFFFF));
    EXPECT_EQ(Hex(menu.ShadowColor()), Hex(GetSysColor(COLOR_BTNSHADOW)));

    struct Case {
        int width, height, column, minimum;
    };
    for (const Case& k : {Case{14, 14, 20, 18}, Case{16, 16, 22, 20}, Case{24, 10, 30, 14}}) {
        menu.SetIconSize(k.width, k.height);
        EXPECT_EQ(menu.IconColumnWidth(), k.column) << k.width;
        EXPECT_EQ(menu.MinimumItemHeight(), k.minimum) << k.height;
    }
}

TEST(AclMenuLoad, IconSizeFromTheStrip) {
    OwnerWindow owner(nullptr);
    ACL_Menu menu;
    menu.SetIconSize(-1, -1);
    ASSERT_EQ(menu.Load(Self(), IDR_SETTINGS_MENU, IDR_MENU_ICONS, IDB_MENU_ICONS, owner.get()),
              0u);
    EXPECT_EQ(menu.IconWidth(), 14);
    EXPECT_EQ(menu.IconHeight(), 14);
    EXPECT_EQ(menu.IconColumnWidth(), 20);
    EXPECT_EQ(menu.MinimumItemHeight(), 18);
}

TEST(AclMenuLoad, IconTablesNameTheirCommandsAndTransparentColours) {
    UniqueModule properties(LoadLibraryW(PropertiesResourceLibrary()));
    ASSERT_TRUE(properties);
    OwnerWindow owner(nullptr);
    struct Case {
        const char* name;
        HINSTANCE module;
        DWORD (*setUp)(ACL_Menu&, HINSTANCE, HWND);
        std::vector<UINT> ids;
        int size;
    };
    const Case cases[] = {
        {"toolbar", Self(), SetUpToolbarMenu, {ID_MENU_RESETCACHE, ID_MENU_TVNPROPERTIES}, 14},
        {"properties",
         properties.get(),
         SetUpPropertiesMenu,
         {kPropertiesHelp, kPropertiesAbout},
         16},
    };
    for (const Case& c : cases) {
        ACL_Menu menu;
        ASSERT_EQ(c.setUp(menu, c.module, owner.get()), 0u) << c.name;
        ASSERT_EQ(menu.IconCount(), c.ids.size()) << c.name;
        for (size_t i = 0; i < c.ids.size(); ++i) {
            const ACL_Menu::IconEntry* icon = menu.Icon(i);
            EXPECT_EQ(icon->commandId, c.ids[i]) << c.name << i;
            EXPECT_EQ(Hex(icon->transparentColor), Hex(kKey)) << c.name << i;
            BITMAP info{};
            ASSERT_TRUE(GetObjectW(icon->image.get(), sizeof(info), &info));
            EXPECT_EQ(info.bmWidth, c.size) << c.name;
            EXPECT_EQ(info.bmHeight, c.size) << c.name;
            // Each image is its own part of the strip, not a copy of the first.
            auto pixels = Pixels(icon->image.get());
            int opaque = 0;
            for (const auto& row : pixels) {
                for (COLORREF p : row) {
                    opaque += p != kKey;
                }
            }
            EXPECT_GT(opaque, c.size * c.size / 4) << c.name << i;
        }
        EXPECT_NE(Pixels(menu.Icon(0)->image.get()), Pixels(menu.Icon(1)->image.get()));
    }
}

TEST(AclMenuLoad, SecondLoadReturnsAlreadyExistsAndChangesNothing) {
    UniqueModule properties(LoadLibraryW(PropertiesResourceLibrary()));
    ASSERT_TRUE(properties);
    OwnerWindow owner(nullptr), other(nullptr);
    ACL_Menu menu;
    ASSERT_EQ(SetUpToolbarMenu(menu, Self(), owner.get()), 0u);
    HMENU root = menu.RootMenu();
    size_t items = menu.ItemCount(), icons = menu.IconCount();
    const ACL_Menu::IconEntry* first = menu.Icon(0);

    EXPECT_EQ(menu.Load(properties.get(), kPropertiesMenu, kPropertiesIconMenu,
                        kPropertiesIconStrip, other.get()),
              static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(menu.RootMenu(), root);
    EXPECT_TRUE(IsMenu(root));
    EXPECT_EQ(menu.ItemCount(), items);
    EXPECT_EQ(menu.IconCount(), icons);
    EXPECT_EQ(menu.Icon(0), first);
    EXPECT_EQ(menu.Module(), Self());
    EXPECT_EQ(menu.Owner(), owner.get());
    EXPECT_EQ(Record(GetSubMenu(root, 0), kProperties)->icon, menu.Icon(1));
}

TEST(AclMenuLoad, FailuresAreReportedAndLeaveAUsableState) {
    OwnerWindow owner(nullptr);
    struct Case {
        const char* name;
        UINT menuId, iconMenuId, bitmapId;
        DWORD expected;  // 0: any failure code
        bool menuLoaded;
    };
    const Case cases[] = {
        {"missing menu", 999, IDR_MENU_ICONS, IDB_MENU_ICONS, 0, false},
        {"missing icon menu", IDR_SETTINGS_MENU, 998, IDB_MENU_ICONS, 0, true},
        {"missing strip", IDR_SETTINGS_MENU, IDR_MENU_ICONS, 997, 0, true},
        {"icon menu without items", IDR_SETTINGS_MENU, 302, IDB_MENU_ICONS, ERROR_INVALID_DATA,
         true},
    };
    for (const Case& c : cases) {
        ACL_Menu menu;
        DWORD result = menu.Load(Self(), c.menuId, c.iconMenuId, c.bitmapId, owner.get());
        EXPECT_NE(result, 0u) << c.name;
        if (c.expected != 0) {
            EXPECT_EQ(result, c.expected) << c.name;
        }
        EXPECT_EQ(menu.IconCount(), 0u) << c.name;
        EXPECT_EQ(menu.RootMenu() != nullptr, c.menuLoaded) << c.name;
        if (c.menuLoaded) {
            // Without icons the menu is still fully owner-drawn.
            EXPECT_EQ(menu.ItemCount(), 29u) << c.name;
            EXPECT_EQ(Record(GetSubMenu(menu.RootMenu(), 0), kProperties)->icon, nullptr);
        } else {
            EXPECT_EQ(menu.ItemCount(), 0u) << c.name;
        }
    }
}

struct ExpectedItem {
    const wchar_t* text;
    UINT id;  // 0xFFFFFFFF: opens a submenu; 0: separator
    UINT flags;
    UINT icon;  // command of the item's icon, 0: none
};

void ExpectItems(HMENU menu, const std::vector<ExpectedItem>& items) {
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        const ExpectedItem& e = items[i];
        MENUITEMINFOW info = ItemInfo(menu, static_cast<int>(i));
        EXPECT_TRUE(info.fType & MFT_OWNERDRAW) << i;
        auto* record = reinterpret_cast<const ACL_Menu::ItemRecord*>(info.dwItemData);
        ASSERT_NE(record, nullptr) << i;
        EXPECT_EQ(record->text, e.text) << i;
        EXPECT_EQ(record->textLength, static_cast<int>(wcslen(e.text))) << i;
        EXPECT_EQ(GetMenuItemID(menu, static_cast<int>(i)), e.id) << i;
        // A separator may report itself grayed as well; other items exactly as made.
        UINT mask = e.flags == MF_SEPARATOR ? MF_SEPARATOR : MF_SEPARATOR | MF_GRAYED | MF_POPUP;
        EXPECT_EQ(record->state & mask, e.flags) << i;
        EXPECT_EQ(record->icon != nullptr ? record->icon->commandId : 0u, e.icon) << i;
    }
}

TEST_F(AclMenuToolbar, EveryItemOfEveryPopupIsOwnerDrawnWithItsRecord) {
    constexpr UINT kPopup = 0xFFFFFFFF;
    ExpectItems(shown_, {
                            {L"Size units", 32768, MF_GRAYED, 0},
                            {L"&Auto", 32774, 0, 0},
                            {L"&GBytes", 32780, 0, 0},
                            {L"&MBytes", 32779, 0, 0},
                            {L"&KBytes", 32777, 0, 0},
                            {L"&Bytes", 32778, 0, 0},
                            {L"", 0, MF_SEPARATOR, 0},
                            {L"View style", 32781, MF_GRAYED, 0},
                            {L"&Files and Folders", 32803, 0, 0},
                            {L"F&iles only", 32804, 0, 0},
                            {L"F&olders only", 32805, 0, 0},
                            {L"&Nothing (turn off)", 32806, 0, 0},
                            {L"", 0, MF_SEPARATOR, 0},
                            {L"&Digit grouping", kPopup, MF_POPUP, 0},
                            {L"&Decimal digits", kPopup, MF_POPUP, 0},
                            {L"", 0, MF_SEPARATOR, 0},
                            {L"&Properties\u2026", 32827, 0, 32827},
                        });
    ExpectItems(GetSubMenu(shown_, kDigitGrouping), {
                                                        {L"&Don't use", 32823, 0, 0},
                                                        {L"Space [&  ]", 32809, 0, 0},
                                                        {L"Dot [&.]", 32808, 0, 0},
                                                        {L"Comma [&,]", 32811, 0, 0},
                                                        {L"Apostrophe [&\u0060]", 32812, 0, 0},
                                                        {L"Quote [']", 32813, 0, 0},
                                                    });
    ExpectItems(GetSubMenu(shown_, kDecimalDigits), {
                                                        {L"&0 (Don't show)", 32814, 0, 0},
                                                        {L"1", 32815, 0, 0},
                                                        {L"2", 32816, 0, 0},
                                                        {L"3", 32817, 0, 0},
                                                        {L"4", 32818, 0, 0},
                                                        {L"5", 32819, 0, 0},
                                                    });
    EXPECT_EQ(menu_.ItemCount(), 29u);

    // The root menu's own item, the popup that is never shown, stays as it was.
    MENUITEMINFOW root = ItemInfo(menu_.RootMenu(), 0);
    EXPECT_FALSE(root.fType & MFT_OWNERDRAW);
    EXPECT_EQ(root.dwItemData, 0u);
    wchar_t title[64];
    GetMenuStringW(menu_.RootMenu(), 0, title, 64, MF_BYPOSITION);
    EXPECT_STREQ(title, L"TVN Settings menu");
}

TEST(AclMenuLoad, PropertiesHelpMenuIsOwnerDrawnWithItsIcons) {
    UniqueModule properties(LoadLibraryW(PropertiesResourceLibrary()));
    ASSERT_TRUE(properties);
    OwnerWindow owner(nullptr);
    ACL_Menu menu;
    ASSERT_EQ(SetUpPropertiesMenu(menu, properties.get(), owner.get()), 0u);
    wchar_t title[32];
    GetMenuStringW(menu.RootMenu(), 0, title, 32, MF_BYPOSITION);
    EXPECT_STREQ(title, L"&Help");
    ExpectItems(GetSubMenu(menu.RootMenu(), 0), {
                                                    {L"&Help index", 32778, 0, 32778},
                                                    {L"", 0, MF_SEPARATOR, 0},
                                                    {L"&About", 32777, 0, 32777},
                                                });
}

TEST(AclMenuLoad, APopupOfEightItemsIsNotASeparator) {
    // GetMenuState puts a popup's item count in the high byte: 8 reads as MF_SEPARATOR.
    ACL_Menu menu;
    OwnerWindow owner(&menu);
    ASSERT_EQ(menu.Load(Self(), 301, 0, 0, owner.get()), 0u);
    HMENU popup = GetSubMenu(menu.RootMenu(), 0);
    ASSERT_EQ(GetMenuState(popup, 0, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR))
        << "the resource no longer probes the high byte";
    const ACL_Menu::ItemRecord* record = Record(popup, 0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->state & MF_SEPARATOR, 0u);
    EXPECT_TRUE(record->state & MF_POPUP);

    MEASUREITEMSTRUCT measure{};
    measure.CtlType = ODT_MENU;
    measure.itemData = reinterpret_cast<ULONG_PTR>(record);
    ASSERT_EQ(menu.MeasureItem(&measure), 0u);
    EXPECT_GE(measure.itemHeight, static_cast<UINT>(menu.MinimumItemHeight()));
    EXPECT_EQ(menu.ItemCount(), 10u);  // the popup item, its eight items and "&After"
}

TEST(AclMenuCheckImage, ReplacingKeepingAndBorrowing) {
    OwnerWindow owner(nullptr);
    ACL_Menu menu;
    ASSERT_EQ(SetUpToolbarMenu(menu, Self(), owner.get()), 0u);
    HBITMAP first = menu.CheckImage();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Hex(menu.CheckImageTransparentColor()), Hex(kKey));

    // (HBITMAP)-1 keeps the image, and the same image again is not deleted.
    EXPECT_EQ(menu.SetCheckImage(reinterpret_cast<HBITMAP>(-1), true), 0u);
    EXPECT_EQ(menu.CheckImage(), first);
    EXPECT_FALSE(menu.CheckImageBorrowed());
    EXPECT_EQ(menu.SetCheckImage(first, false), 0u);
    EXPECT_EQ(GetObjectType(first), static_cast<DWORD>(OBJ_BITMAP));

    // A borrowed image survives its replacement; an owned one does not.
    HBITMAP borrowed = LoadBitmapW(Self(), MAKEINTRESOURCEW(IDB_CHECKMARK));
    EXPECT_EQ(menu.SetCheckImage(borrowed, true), 0u);
    EXPECT_EQ(GetObjectType(first), 0u) << "the owned image was not deleted";
    EXPECT_TRUE(menu.CheckImageBorrowed());
    EXPECT_EQ(menu.SetCheckImage(nullptr, false), 0u);
    EXPECT_EQ(menu.CheckImage(), nullptr);
    EXPECT_EQ(GetObjectType(borrowed), static_cast<DWORD>(OBJ_BITMAP));

    // Taking over a borrowed image: the object deletes it when it goes.
    EXPECT_EQ(menu.SetCheckImage(borrowed, false), 0u);
    menu.Destroy();
    EXPECT_EQ(GetObjectType(borrowed), 0u);
}

}  // namespace
}  // namespace tvn::test
