// The owner-drawn toolbar menu measuring and drawing its items, checked against the pixels of
// a surface: background, selection and frame by state, images, check marks, separators, text
// colours and the DC left as it was; and its mnemonics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "acl_menu.h"
#include "acl_menu_fixture.h"
#include "acl_menu_support.h"
#include "resource.h"

namespace tvn::test {
namespace {

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

}  // namespace
}  // namespace tvn::test
