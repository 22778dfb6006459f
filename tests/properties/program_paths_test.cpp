// Paths beside the program never come out cut, and stored window positions are brought onto
// the screen by their form's rule (the rules alone; the program applies them in
// properties_program_help_test.cpp and properties_program_window_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "program_paths.h"
#include "window_position.h"

namespace tvn {
namespace {

TEST(PathBeside, FitsMaxPathOrGivesNothing) {
    struct Case {
        size_t folderLength;
        const wchar_t* tail;
        bool fits;
    };
    const Case cases[] = {
        {245, L"\\TVN Cache.exe", true},   // 259 units and the zero
        {246, L"\\TVN Cache.exe", false},  // 260 units: no room for the zero
        {247, L"\\Tolvane.chm", true},
        {248, L"\\Tolvane.chm", false},
        {229, L"\\Tolvane.chm::/tvn-cfgdlg.html", true},
        {230, L"\\Tolvane.chm::/tvn-cfgdlg.html", false},
        {400, L"\\x", false},
    };
    for (const Case& c : cases) {
        std::wstring folder = L"C:\\" + std::wstring(c.folderLength - 3, L'f');
        std::wstring path = PathBeside(folder + L"\\TVN Properties.exe", c.tail);
        if (c.fits) {
            EXPECT_EQ(path, folder + c.tail) << c.folderLength;
        } else {
            EXPECT_TRUE(path.empty()) << c.folderLength;
        }
    }
    EXPECT_TRUE(PathBeside(L"no backslash.exe", L"\\x").empty());
    EXPECT_EQ(PathBeside(L"C:\\a\\b.exe", L"\\c"), L"C:\\a\\c");
}

TEST(KeepOnScreen, EachFormByItsRule) {
    using Pos = SettingsStore::WindowSubPos;
    const VirtualScreen screen{-1280, 0, 1920, 1080};  // a second monitor on the left
    struct Case {
        LONG left, top;
        LONG placedLeft, placedTop;
    };
    const Case positions[] = {
        {100, 100, 100, 100},     {-1500, 50, -1280, 50},  // left of the screen: to its left edge
        {5000, 50, 960, 50},                               // right of it: half the right edge
        {1920, 1080, 1920, 1080},                          // on the far edges: kept
        {0, -20, 0, 0},           {0, 2000, 0, 540},
    };
    for (const Case& c : positions) {
        Pos stored;
        stored.left = c.left;
        stored.top = c.top;
        Pos placed = KeepOnScreen(stored, screen, {300, 200});
        EXPECT_EQ(placed.left, c.placedLeft) << c.left << "," << c.top;
        EXPECT_EQ(placed.top, c.placedTop) << c.left << "," << c.top;
    }
    const Case rectangles[] = {
        {100, -400, 100, 0},       // above: moved down to the top, height kept
        {-2000, 100, -1280, 100},  // left of the screen
        {2500, 1500, 1620, 880},   // right and below: right/bottom edges on the screen's
        {1800, 900, 1800, 900},    // sticking out right and bottom: not moved
    };
    for (const Case& c : rectangles) {
        Pos stored;
        stored.form = Pos::Form::Placement;
        stored.placement.rcNormalPosition = {c.left, c.top, c.left + 300, c.top + 200};
        stored.placement.showCmd = SW_SHOWMAXIMIZED;  // the dialog cannot be maximized
        Pos moved = KeepOnScreen(stored, screen, {300, 200});
        EXPECT_EQ(moved.placement.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
        RECT placed = moved.placement.rcNormalPosition;
        EXPECT_EQ(placed.left, c.placedLeft) << c.left << "," << c.top;
        EXPECT_EQ(placed.top, c.placedTop) << c.left << "," << c.top;
        EXPECT_EQ(placed.right - placed.left, 300);
        EXPECT_EQ(placed.bottom - placed.top, 200);
    }
}

}  // namespace
}  // namespace tvn
