// TVN Properties.exe end to end, its window: one dialog however often it is started, the
// position every way of closing stores and the next start restores (kept on the virtual
// screen), and a dialog that cannot be created.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "program_driver.h"
#include "properties_program_fixture.h"
#include "resource.h"
#include "test_tree.h"

namespace tvn {
namespace {

using test::PropertiesProgram;

// A second start brings the running dialog forward and ends with 1; one dialog stays.
TEST_F(PropertiesProgramTest, SecondStartBringsTheFirstForwardAndEndsWithOne) {
    PropertiesProgram first;
    Start(first);
    PropertiesProgram second;
    ASSERT_TRUE(second.Start(kProgram, SW_SHOWNORMAL, false));
    EXPECT_EQ(second.WaitForExit(), 1u);
    EXPECT_EQ(test::CountPropertiesDialogs(), 1);
    EXPECT_EQ(GetForegroundWindow(), first.Dialog());
    first.PostCommand(IDCANCEL);
    EXPECT_EQ(first.WaitForExit(), 2u);
}

// Every way of closing stores the position (12 bytes: left, top, show command) and ends
// with its code; the next start is placed there.
TEST_F(PropertiesProgramTest, EveryCloseStoresThePositionWithItsExitCode) {
    struct Case {
        const char* name;
        void (*close)(PropertiesProgram&);
        DWORD code;
    };
    const Case cases[] = {
        {"OK", [](PropertiesProgram& p) { p.PostCommand(IDOK); }, 1},
        {"Cancel", [](PropertiesProgram& p) { p.PostCommand(IDCANCEL); }, 2},
        {"close box",
         [](PropertiesProgram& p) { PostMessageW(p.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }, 2},
        {"Escape",
         [](PropertiesProgram& p) {
             PostMessageW(p.Control(IDC_COLUMN_TITLE), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         },
         2},
    };
    int x = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearSettings();
        {
            PropertiesProgram program;
            Start(program);
            SetWindowPos(program.Dialog(), nullptr, x, 70, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            c.close(program);
            EXPECT_EQ(program.WaitForExit(), c.code);
        }
        std::optional<Bytes> stored = Stored(Store::kWindowSubPos);
        ASSERT_TRUE(stored.has_value());
        ASSERT_EQ(stored->size(), 12u);
        int32_t left, top;
        uint32_t show;
        std::memcpy(&left, stored->data(), 4);
        std::memcpy(&top, stored->data() + 4, 4);
        std::memcpy(&show, stored->data() + 8, 4);
        EXPECT_EQ(left, x);
        EXPECT_EQ(top, 70);
        EXPECT_EQ(show, static_cast<uint32_t>(SW_SHOWNORMAL));
        x += 30;
    }
    PropertiesProgram next;
    Start(next);
    EXPECT_EQ(WindowRect(next.Dialog()).left, x - 30);
    EXPECT_EQ(WindowRect(next.Dialog()).top, 70);
    next.PostCommand(IDCANCEL);
    EXPECT_EQ(next.WaitForExit(), 2u);
}

Bytes Position(int32_t left, int32_t top, uint32_t show) {
    Bytes bytes(12);
    std::memcpy(bytes.data(), &left, 4);
    std::memcpy(bytes.data() + 4, &top, 4);
    std::memcpy(bytes.data() + 8, &show, 4);
    return bytes;
}

Bytes Placement(RECT normal) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    placement.showCmd = SW_SHOWNORMAL;
    placement.rcNormalPosition = normal;
    Bytes bytes(sizeof(placement));
    std::memcpy(bytes.data(), &placement, sizeof(placement));
    return bytes;
}

// Stored positions are brought onto the virtual screen by their form's rule; other lengths
// are ignored.
TEST_F(PropertiesProgramTest, StoredPositionIsKeptOnTheVirtualScreen) {
    const LONG vl = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const LONG vt = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const LONG vr = vl + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const LONG vb = vt + GetSystemMetrics(SM_CYVIRTUALSCREEN);

    RECT unplaced{};
    {
        PropertiesProgram program;
        Start(program);
        unplaced = WindowRect(program.Dialog());
        program.PostCommand(IDCANCEL);
        EXPECT_EQ(program.WaitForExit(), 2u);
    }
    const LONG width = unplaced.right - unplaced.left;
    const LONG height = unplaced.bottom - unplaced.top;

    struct Case {
        const char* name;
        Bytes stored;
        LONG left;
        LONG top;
    };
    const Case cases[] = {
        {"12 bytes on the screen", Position(100, 120, SW_SHOWNORMAL), 100, 120},
        {"12 bytes right of the screen", Position(5000, 100, SW_SHOWNORMAL), vr / 2, 100},
        {"12 bytes left of and below the screen", Position(-3000, 5000, SW_SHOWNORMAL), vl, vb / 2},
        {"44 bytes above the screen", Placement({200, -500, 200 + width, -500 + height}), 200, vt},
        {"44 bytes left of the screen", Placement({-900, 50, -900 + width, 50 + height}), vl, 50},
        {"44 bytes of extremes", Placement({LONG_MAX, LONG_MIN, LONG_MIN, LONG_MAX}), vr - width,
         vt},
        {"50 bytes", Bytes(50, 0x10), unplaced.left, unplaced.top},
        {"8 bytes", Bytes(8, 0x10), unplaced.left, unplaced.top},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearSettings();
        Put(Store::kWindowSubPos, c.stored);
        PropertiesProgram program;
        Start(program);
        RECT placed = WindowRect(program.Dialog());
        EXPECT_EQ(placed.left, c.left);
        EXPECT_EQ(placed.top, c.top);
        EXPECT_EQ(placed.bottom - placed.top, height);
        EXPECT_EQ(placed.right - placed.left, width);
        program.PostCommand(IDCANCEL);
        EXPECT_EQ(program.WaitForExit(), 2u);
    }
}

// A program whose dialog cannot be created shows nothing and ends with 0.
TEST_F(PropertiesProgramTest, DialogThatCannotBeCreatedEndsWithZero) {
    const std::wstring folder = L"C:\\tvn-props-without-dialog";
    InstallProgram(folder);
    const std::wstring path = folder + L"\\TVN Properties.exe";
    // The dialog's language, as the resource compiler wrote it.
    WORD language = 0;
    bool found = false;
    if (HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        EnumResourceLanguagesW(
            image, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROPERTIES),
            [](HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR context) -> BOOL {
                *reinterpret_cast<WORD*>(context) = lang;
                return FALSE;
            },
            reinterpret_cast<LONG_PTR>(&language));
        found = FindResourceExW(image, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROPERTIES), language);
        FreeLibrary(image);
    }
    ASSERT_TRUE(found);
    // Dialog 129 replaced by one whose only control is of a class nobody registered: the
    // system cannot create it.
    std::vector<WORD> dialogTemplate;
    auto put32 = [&](DWORD v) {
        dialogTemplate.push_back(LOWORD(v));
        dialogTemplate.push_back(HIWORD(v));
    };
    put32(WS_POPUP | WS_CAPTION);
    put32(0);
    dialogTemplate.insert(dialogTemplate.end(),
                          {1, 0, 0, 100, 50, 0, 0, 0});  // no menu, class, title
    if (dialogTemplate.size() % 2 != 0) {
        dialogTemplate.push_back(0);
    }
    put32(WS_CHILD | WS_VISIBLE);
    put32(0);
    dialogTemplate.insert(dialogTemplate.end(), {0, 0, 50, 10, 1000});
    for (const wchar_t* c = L"NoSuchControlClass";; ++c) {
        dialogTemplate.push_back(WORD(*c));
        if (*c == 0) {
            break;
        }
    }
    dialogTemplate.insert(dialogTemplate.end(), {0, 0});  // no title, no creation data
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceW(update, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROPERTIES), language,
                                dialogTemplate.data(), DWORD(dialogTemplate.size() * 2)));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
    PropertiesProgram program;
    ASSERT_TRUE(program.Start(path, SW_SHOWNORMAL, false));
    EXPECT_EQ(program.WaitForExit(), 0u);
    EXPECT_EQ(test::CountPropertiesDialogs(), 0);
    test::RemoveTree(folder);
}

}  // namespace
}  // namespace tvn
