// The owner-drawn menu with the real menu resources of the toolbar (linked into this program)
// and of the properties program (acl_menu_properties.dll): loading, the icon table, the
// conversion of every popup, measuring, drawing checked against pixels, a real
// TrackPopupMenu, and that destroying frees every GDI and USER object.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "acl_menu.h"
#include "acl_menu_support.h"
#include "gdi_scope.h"
#include "resource.h"

namespace tvn::test {
namespace {

constexpr COLORREF kKey = RGB(255, 0, 255);
constexpr COLORREF kSentinel = RGB(1, 2, 3);

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

// A 32-bit DIB section in a memory DC: what is drawn can be read back exactly.
class Surface {
  public:
    Surface(int width, int height) : width_(width), height_(height) {
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
    ~Surface() { selected_.reset(); }
    void Clear() {
        RECT all = {0, 0, width_, height_};
        UniqueBrush brush(CreateSolidBrush(kSentinel));
        FillRect(dc_.get(), &all, brush.get());
    }
    HDC dc() const { return dc_.get(); }
    COLORREF At(int x, int y) const { return GetPixel(dc_.get(), x, y); }

  private:
    int width_, height_;
    UniqueBitmap bitmap_;
    UniqueMemoryDc dc_;
    std::unique_ptr<SelectedObject> selected_;
};

// The pixels of a bitmap, row by row.
std::vector<std::vector<COLORREF>> Pixels(HBITMAP bitmap) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    SelectedObject selected(dc.get(), bitmap);
    std::vector<std::vector<COLORREF>> rows(info.bmHeight, std::vector<COLORREF>(info.bmWidth));
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

// The toolbar's menu loaded as the toolbar loads it, with a hidden owner window.
class AclMenuToolbar : public testing::Test {
  protected:
    void SetUp() override {
        owner_ = std::make_unique<OwnerWindow>(&menu_);
        ASSERT_NE(owner_->get(), nullptr);
        ASSERT_EQ(SetUpToolbarMenu(menu_, Self(), owner_->get()), 0u);
        shown_ = GetSubMenu(menu_.RootMenu(), 0);
        ASSERT_NE(shown_, nullptr);
    }

    // Draws the item at `position` (of `menu`, the shown menu by default) into the surface
    // at `rect` with the given owner-draw state.
    DWORD Draw(int position, UINT state, RECT rect, HMENU menu = nullptr) {
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

    // Every pixel of `image` that is not its transparent colour is at (x0, y0) + its place.
    void ExpectImageAt(const std::vector<std::vector<COLORREF>>& image, COLORREF transparent,
                       int x0, int y0, bool gray = false) {
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

    // The selected look: the image one pixel up and left of its place, its shadow one pixel
    // down and right of it wherever the image itself does not cover the shadow.
    void ExpectLiftedImage(const std::vector<std::vector<COLORREF>>& image, COLORREF transparent,
                           int x0, int y0) {
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

    ACL_Menu menu_;
    std::unique_ptr<OwnerWindow> owner_;
    HMENU shown_ = nullptr;
    Surface surface_{200, 60};
};

const RECT kItem = {10, 10, 170, 32};  // 160 x 22
constexpr int kColumn = 20;            // icon column of 14-pixel icons

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

TEST_F(AclMenuToolbar, MeasuresSeparatorsAndTextItems) {
    MEASUREITEMSTRUCT separator{};
    separator.CtlType = ODT_MENU;
    separator.itemData = ItemInfo(shown_, kFirstSeparator).dwItemData;
    ASSERT_EQ(menu_.MeasureItem(&separator), 0u);
    EXPECT_EQ(separator.itemWidth, static_cast<UINT>(kColumn + 2 * 10 + 1));
    EXPECT_EQ(separator.itemHeight, 5u);

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0));
    UniqueFont font(CreateFontIndirectW(&metrics.lfMenuFont));
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    SelectedObject selected(dc.get(), font.get());

    UINT previousWidth = 0;
    for (int position : {kAuto, kNothing, kDigitGrouping, kProperties}) {
        const auto* record = Record(shown_, position);
        RECT text{};
        DrawTextW(dc.get(), record->text.c_str(), record->textLength, &text,
                  DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS | DT_VCENTER);
        MEASUREITEMSTRUCT measure{};
        measure.CtlType = ODT_MENU;
        measure.itemData = reinterpret_cast<ULONG_PTR>(record);
        ASSERT_EQ(menu_.MeasureItem(&measure), 0u) << position;
        EXPECT_GT(text.right, 0) << position;
        EXPECT_EQ(measure.itemWidth, static_cast<UINT>(kColumn + 2 * 10 + text.right)) << position;
        EXPECT_EQ(measure.itemHeight,
                  static_cast<UINT>(std::max<LONG>(18, text.bottom - text.top + 2 * 2)))
            << position;
        if (position == kNothing) {
            EXPECT_GT(measure.itemWidth, previousWidth) << "a longer text is wider";
        }
        previousWidth = measure.itemWidth;
    }
}

TEST_F(AclMenuToolbar, RefusesItemsThatAreNotItsOwn) {
    ACL_Menu::ItemRecord foreign;
    struct Case {
        const char* name;
        UINT type;
        ULONG_PTR data;
    };
    const Case cases[] = {
        {"no item data", ODT_MENU, 0},
        {"another menu's record", ODT_MENU, reinterpret_cast<ULONG_PTR>(&foreign)},
        {"a button", ODT_BUTTON, ItemInfo(shown_, kAuto).dwItemData},
    };
    for (const Case& c : cases) {
        MEASUREITEMSTRUCT measure{};
        measure.CtlType = c.type;
        measure.itemData = c.data;
        measure.itemWidth = 777;
        measure.itemHeight = 777;
        EXPECT_EQ(menu_.MeasureItem(&measure), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
            << c.name;
        EXPECT_EQ(measure.itemWidth, 777u) << c.name;
        EXPECT_EQ(measure.itemHeight, 777u) << c.name;

        DRAWITEMSTRUCT draw{};
        draw.CtlType = c.type;
        draw.itemData = c.data;
        draw.hDC = surface_.dc();
        draw.rcItem = kItem;
        EXPECT_EQ(menu_.DrawItem(&draw), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << c.name;
        EXPECT_EQ(Hex(surface_.At(kItem.left, kItem.top)), Hex(kSentinel)) << c.name;
    }
    EXPECT_EQ(menu_.MeasureItem(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(menu_.DrawItem(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(AclMenuToolbar, BackgroundSelectionAndFrameByState) {
    const COLORREF white = RGB(255, 255, 255);
    const COLORREF right = RGB(0x94, 0xB0, 0xE0);
    struct Case {
        const char* name;
        int position;
        UINT state;
        bool selectedLook;
    };
    const Case cases[] = {
        {"plain", kAuto, 0, false},
        {"selected", kAuto, ODS_SELECTED, true},
        {"grayed", kSizeUnits, ODS_GRAYED, false},
        {"grayed and selected", kSizeUnits, ODS_GRAYED | ODS_SELECTED, false},
        {"grayed, selected and checked", kSizeUnits, ODS_GRAYED | ODS_SELECTED | ODS_CHECKED,
         false},
        {"popup selected", kDigitGrouping, ODS_SELECTED, true},
    };
    const int l = kItem.left, t = kItem.top, r = kItem.right, b = kItem.bottom;
    for (const Case& c : cases) {
        surface_.Clear();
        ASSERT_EQ(Draw(c.position, c.state, kItem), 0u) << c.name;
        if (c.selectedLook) {
            for (POINT p : {POINT{l, t}, POINT{r - 1, t}, POINT{l, b - 1}, POINT{r - 1, b - 1},
                            POINT{l + kColumn, t}, POINT{l + 5, b - 1}}) {
                EXPECT_EQ(Hex(surface_.At(p.x, p.y)), Hex(0x000000)) << c.name << " frame";
            }
            EXPECT_EQ(Hex(surface_.At(l + 1, t + 1)), Hex(0xE0B094)) << c.name;
            EXPECT_EQ(Hex(surface_.At(r - 2, b - 2)), Hex(0xE0B094)) << c.name;
        } else {
            // The gradient column from its left colour to (nearly) its right one; the item
            // background beside it; no frame.
            for (int y : {t, t + 1, b - 1}) {
                EXPECT_EQ(Hex(surface_.At(l, y)), Hex(white)) << c.name << " y " << y;
                EXPECT_TRUE(Near(surface_.At(l + kColumn - 1, y), right, 8))
                    << c.name << " " << Hex(surface_.At(l + kColumn - 1, y));
            }
            EXPECT_FALSE(Near(surface_.At(l + kColumn / 2, t), white, 8)) << c.name;
            EXPECT_FALSE(Near(surface_.At(l + kColumn / 2, t), right, 8)) << c.name;
            EXPECT_EQ(Hex(surface_.At(l + kColumn, t)), Hex(0xFFFAFA)) << c.name;
            EXPECT_EQ(Hex(surface_.At(r - 1, t)), Hex(0xFFFAFA)) << c.name;
            EXPECT_EQ(Hex(surface_.At(r - 1, b - 1)), Hex(0xFFFAFA)) << c.name;
        }
        // Nothing outside the item's rectangle.
        for (POINT p : {POINT{l - 1, t}, POINT{r, t}, POINT{l, t - 1}, POINT{l, b}}) {
            EXPECT_EQ(Hex(surface_.At(p.x, p.y)), Hex(kSentinel)) << c.name;
        }
    }
}

TEST_F(AclMenuToolbar, ImagesByState) {
    auto check = Pixels(menu_.CheckImage());
    const ACL_Menu::IconEntry* icon = menu_.Icon(1);
    ASSERT_EQ(icon->commandId, static_cast<UINT>(ID_MENU_TVNPROPERTIES));
    auto properties = Pixels(icon->image.get());
    const int x0 = kItem.left + 3, y0 = kItem.top + 2;

    enum Look { kAsIs, kLifted, kGray };
    struct Case {
        const char* name;
        int position;
        UINT state;
        const std::vector<std::vector<COLORREF>>* image;
        Look look;
    };
    const Case cases[] = {
        {"checked", kKBytes, ODS_CHECKED, &check, kAsIs},
        {"checked and selected", kKBytes, ODS_CHECKED | ODS_SELECTED, &check, kLifted},
        {"icon", kProperties, 0, &properties, kAsIs},
        {"icon selected", kProperties, ODS_SELECTED, &properties, kLifted},
        {"icon grayed", kProperties, ODS_GRAYED, &properties, kGray},
        {"icon grayed and selected", kProperties, ODS_GRAYED | ODS_SELECTED, &properties, kGray},
        {"checked item with an icon shows the check", kProperties, ODS_CHECKED, &check, kAsIs},
        {"checked, grayed and selected: not lifted", kKBytes,
         ODS_CHECKED | ODS_GRAYED | ODS_SELECTED, &check, kAsIs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        surface_.Clear();
        ASSERT_EQ(Draw(c.position, c.state, kItem), 0u);
        if (c.look == kLifted) {
            ExpectLiftedImage(*c.image, kKey, x0, y0);
        } else {
            ExpectImageAt(*c.image, kKey, x0, y0, c.look == kGray);
        }
        if (c.look != kLifted) {
            // Where the image is transparent the gradient shows: the colour of its column in
            // the top row, which no image reaches.
            for (int y = 0; y < 14; ++y) {
                for (int x = 0; x < 14; ++x) {
                    if ((*c.image)[y][x] == kKey) {
                        ASSERT_EQ(Hex(surface_.At(x0 + x, y0 + y)),
                                  Hex(surface_.At(x0 + x, kItem.top)))
                            << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST_F(AclMenuToolbar, AnItemWithoutIconShowsOnlyTheGradient) {
    ASSERT_EQ(Draw(kAuto, 0, kItem), 0u);
    for (int y = kItem.top; y < kItem.bottom; ++y) {
        for (int x = kItem.left; x < kItem.left + kColumn; ++x) {
            ASSERT_EQ(Hex(surface_.At(x, y)), Hex(surface_.At(x, kItem.top))) << x << "," << y;
        }
    }
}

TEST_F(AclMenuToolbar, CheckedWithoutImageDrawsAFramedCheckMark) {
    ACL_Menu::Colors colors = kMenuColors;
    colors.frame = RGB(0, 0, 200);
    colors.checkMarkLines = RGB(200, 0, 0);
    menu_.SetColors(colors);
    ASSERT_EQ(menu_.SetCheckImage(nullptr, false), 0u);
    ASSERT_EQ(Draw(kKBytes, ODS_CHECKED, kItem), 0u);
    const int l = kItem.left, t = kItem.top, b = kItem.bottom;
    for (POINT p :
         {POINT{l, t}, POINT{l + kColumn - 1, t}, POINT{l, b - 1}, POINT{l + kColumn - 1, b - 1}}) {
        EXPECT_EQ(Hex(surface_.At(p.x, p.y)), Hex(RGB(0, 0, 200))) << p.x << "," << p.y;
    }
    const int cx = l + kColumn / 2, cy = t + 2 * (b - t) / 3;
    EXPECT_EQ(Hex(surface_.At(cx, cy)), Hex(RGB(200, 0, 0)));
    EXPECT_EQ(Hex(surface_.At(cx - 3, cy - 4)), Hex(RGB(200, 0, 0)));
    int lines = 0;
    for (int y = t; y < b; ++y) {
        for (int x = l; x < l + kColumn; ++x) {
            lines += surface_.At(x, y) == RGB(200, 0, 0);
        }
    }
    EXPECT_GE(lines, 12) << "two strokes, the first two pixels wide";
    EXPECT_EQ(Hex(surface_.At(l + kColumn, t)), Hex(0xFFFAFA)) << "the frame is the column's";
}

TEST_F(AclMenuToolbar, SeparatorIsAGradientStubAndALine) {
    ACL_Menu::Colors colors = kMenuColors;
    colors.separatorLine = RGB(0, 160, 0);
    menu_.SetColors(colors);
    const RECT rect = {10, 10, 170, 19};  // 9 high: the line lies at 10 + 9 / 2
    ASSERT_EQ(Draw(kFirstSeparator, 0, rect), 0u);
    const int l = rect.left, t = rect.top, line = t + 4;
    for (int y = t; y < t + 5; ++y) {
        EXPECT_EQ(Hex(surface_.At(l, y)), Hex(RGB(255, 255, 255))) << y;
    }
    for (int y = t + 5; y < rect.bottom; ++y) {
        EXPECT_EQ(Hex(surface_.At(l, y)), Hex(0xFFFAFA)) << "gradient only 5 high, y " << y;
    }
    for (int x = l + kColumn + 10; x < rect.right; ++x) {
        ASSERT_EQ(Hex(surface_.At(x, line)), Hex(RGB(0, 160, 0))) << x;
    }
    EXPECT_EQ(Hex(surface_.At(l + kColumn + 9, line)), Hex(0xFFFAFA));
    EXPECT_EQ(Hex(surface_.At(l + kColumn + 20, line - 1)), Hex(0xFFFAFA));
    EXPECT_EQ(Hex(surface_.At(l + kColumn + 20, line + 1)), Hex(0xFFFAFA));
    EXPECT_EQ(Hex(surface_.At(rect.right, line)), Hex(kSentinel));
}

// The darkest and the lightest pixel of the text area.
struct TextInk {
    COLORREF darkest = RGB(255, 255, 255), lightest = RGB(0, 0, 0);
};
TextInk InkOf(const Surface& surface, const RECT& area) {
    TextInk ink;
    auto level = [](COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); };
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            COLORREF c = surface.At(x, y);
            if (level(c) < level(ink.darkest)) {
                ink.darkest = c;
            }
            if (level(c) > level(ink.lightest)) {
                ink.lightest = c;
            }
        }
    }
    return ink;
}

TEST_F(AclMenuToolbar, TextInItsColourAndTheDcAsItWas) {
    const RECT text = {kItem.left + kColumn + 10, kItem.top, kItem.right - 1, kItem.bottom - 1};
    const COLORREF grayText = GetSysColor(COLOR_GRAYTEXT);

    SetTextColor(surface_.dc(), RGB(9, 9, 9));
    SetBkMode(surface_.dc(), OPAQUE);
    HGDIOBJ font = GetCurrentObject(surface_.dc(), OBJ_FONT);
    HGDIOBJ pen = GetCurrentObject(surface_.dc(), OBJ_PEN);
    HGDIOBJ brush = GetCurrentObject(surface_.dc(), OBJ_BRUSH);
    HGDIOBJ bitmap = GetCurrentObject(surface_.dc(), OBJ_BITMAP);

    ASSERT_EQ(Draw(kAuto, 0, kItem), 0u);
    TextInk plain = InkOf(surface_, text);
    EXPECT_TRUE(Near(plain.darkest, RGB(0, 0, 0), 40)) << Hex(plain.darkest);

    surface_.Clear();
    ASSERT_EQ(Draw(kAuto, ODS_SELECTED, kItem), 0u);
    TextInk selected = InkOf(surface_, text);
    EXPECT_TRUE(Near(selected.lightest, RGB(255, 255, 255), 40)) << Hex(selected.lightest);

    surface_.Clear();
    ASSERT_EQ(Draw(kSizeUnits, ODS_GRAYED | ODS_SELECTED, kItem), 0u);
    TextInk grayed = InkOf(surface_, text);
    EXPECT_TRUE(Near(grayed.darkest, grayText, 40)) << Hex(grayed.darkest);
    EXPECT_FALSE(Near(grayed.darkest, RGB(0, 0, 0), 30)) << Hex(grayed.darkest);

    EXPECT_EQ(GetTextColor(surface_.dc()), RGB(9, 9, 9));
    EXPECT_EQ(GetBkMode(surface_.dc()), OPAQUE);
    EXPECT_EQ(GetCurrentObject(surface_.dc(), OBJ_FONT), font);
    EXPECT_EQ(GetCurrentObject(surface_.dc(), OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(surface_.dc(), OBJ_BRUSH), brush);
    EXPECT_EQ(GetCurrentObject(surface_.dc(), OBJ_BITMAP), bitmap);
}

TEST_F(AclMenuToolbar, ACheckImageSmallerThanTheIconsIsDrawnWhole) {
    // The properties program's 16-pixel icons with the toolbar's 14-pixel check image.
    menu_.SetIconSize(16, 16);
    auto check = Pixels(menu_.CheckImage());
    ASSERT_EQ(Draw(kKBytes, ODS_CHECKED, kItem), 0u);
    ExpectImageAt(check, kKey, kItem.left + 3, kItem.top + 2);
}

TEST_F(AclMenuToolbar, MnemonicsChooseTheirItems) {
    HMENU digits = GetSubMenu(shown_, kDigitGrouping);
    struct Case {
        const char* name;
        HMENU menu;
        wchar_t key;
        LRESULT expected;
    };
    const Case cases[] = {
        {"unique", shown_, L'k', MAKELRESULT(kKBytes, MNC_EXECUTE)},
        {"upper case", shown_, L'P', MAKELRESULT(kProperties, MNC_EXECUTE)},
        {"two items share D", shown_, L'd', MAKELRESULT(kDigitGrouping, MNC_SELECT)},
        {"submenu", digits, L'.', MAKELRESULT(2, MNC_EXECUTE)},
        {"grave accent", digits, L'`', MAKELRESULT(4, MNC_EXECUTE)},
        {"blank", digits, L' ', MAKELRESULT(1, MNC_EXECUTE)},
        {"no mnemonic", digits, L'\'', 0},
        {"no such mnemonic", shown_, L'z', 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(menu_.MenuChar(MAKEWPARAM(c.key, MF_POPUP), reinterpret_cast<LPARAM>(c.menu)),
                  c.expected)
            << c.name;
    }
    // A menu that is not this object's, and a grayed item, have no mnemonics for it.
    UniqueMenu plain(CreatePopupMenu());
    AppendMenuW(plain.get(), MF_STRING, 1, L"&Kilo");
    EXPECT_EQ(menu_.MenuChar(MAKEWPARAM(L'k', MF_POPUP), reinterpret_cast<LPARAM>(plain.get())), 0);
    EnableMenuItem(shown_, kAuto, MF_BYPOSITION | MF_GRAYED);
    EXPECT_EQ(menu_.MenuChar(MAKEWPARAM(L'a', MF_POPUP), reinterpret_cast<LPARAM>(shown_)), 0);

    // With "&Digit grouping" highlighted, "d" moves on to "&Decimal digits".
    MENUITEMINFOW hilite{};
    hilite.cbSize = sizeof(hilite);
    hilite.fMask = MIIM_STATE;
    hilite.fState = MFS_HILITE;
    SetMenuItemInfoW(shown_, kDigitGrouping, TRUE, &hilite);
    EXPECT_EQ(menu_.MenuChar(MAKEWPARAM(L'd', MF_POPUP), reinterpret_cast<LPARAM>(shown_)),
              MAKELRESULT(kDecimalDigits, MNC_SELECT));
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
