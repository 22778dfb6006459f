// The settings button's drop-down menu, worked for real: TrackPopupMenu runs on the test's
// thread inside the band, a second thread reads the open menu and plays keys on it, a listener
// in another process counts the config message, the stand-in browser counts refreshes and a
// stand-in properties program records its starts.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

#include "band_support.h"
#include "column_support.h"
#include "com_core.h"
#include "registry.h"
#include "resource.h"
#include "test_tree.h"
#include "tvn_bar.h"

namespace tvn::test {
namespace {

using Step = MenuDriver::Step;
using tools::BandSite;

// Positions in the shown menu.
enum Position {
    kSizeUnits = 0,
    kAuto = 1,
    kMBytes = 3,
    kKBytes = 4,
    kBytes = 5,
    kViewStyle = 7,
    kFilesAndFolders = 8,
    kFoldersOnly = 10,
    kNothing = 11,
    kDigitGrouping = 13,
    kDecimalDigits = 14,
    kProperties = 16,
};

constexpr const wchar_t* kDisplayValues[] = {L"ViewMetric", L"ViewStyle", L"DecimalDigits",
                                             L"Separator"};

std::vector<UINT> Sorted(std::vector<UINT> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

// True when a "TVN Properties.exe" process runs or has logged a start in `folder`.
bool StandInStartedIn(const std::wstring& folder) {
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, L"TVN Properties.exe") == 0) {
            return true;
        }
    }
    return !StandInStarts(folder).empty();
}

class BandMenu : public testing::Test {
  protected:
    static void SetUpTestSuite() { installed_ = InstallBand(); }
    void SetUp() override {
        ASSERT_TRUE(installed_) << "TVN Bar.dll could not be installed";
        ASSERT_TRUE(listener_.Running()) << "the config listener did not start";
        ClearSettings();
        ClearStandInStarts(kBarDir);
        site_ = BandSite::Create(host_.get());
        ASSERT_EQ(band_.SetSite(static_cast<IOleWindow*>(site_.get())), S_OK);
        window_ = band_.Window();
        toolbar_ = band_.Toolbar();
        ASSERT_TRUE(window_ && toolbar_);
    }
    void TearDown() override { ClearSettings(); }

    MenuDriver::Seen Press(std::vector<Step> steps) {
        return PressButton(window_, toolbar_, std::move(steps));
    }
    void ExpectNothingAnnounced(const char* name) {
        EXPECT_EQ(listener_.Count(), 0) << name;
        EXPECT_EQ(site_->Refreshes(), 0) << name;
    }

    static inline bool installed_ = false;
    com::ComInit com_;
    ConfigListener listener_;
    HostWindow host_{false, {40, 30, 340, 70}};
    ComPtr<BandSite> site_;
    Band band_;
    HWND window_ = nullptr;
    HWND toolbar_ = nullptr;
};

TEST_F(BandMenu, ChecksTheStoredChoicesAndDismissingChangesNothing) {
    struct Case {
        const char* name;
        void (*store)();
        std::vector<UINT> checked;
    };
    const Case cases[] = {
        {"no settings",
         [] {},
         {ID_MENU_KBYTES, ID_MENU_FILESANDFOLDERS, ID_MENU_DECIMALS_0, ID_MENU_SEPARATOR_SPACE}},
        {"no grouping",
         [] { SetCharacter(L"Separator", 0); },
         {ID_MENU_KBYTES, ID_MENU_FILESANDFOLDERS, ID_MENU_DECIMALS_0, ID_MENU_SEPARATOR_NONE}},
        {"a unit outside the table",
         [] { SetInteger(L"ViewMetric", 9); },
         {ID_MENU_FILESANDFOLDERS, ID_MENU_DECIMALS_0, ID_MENU_SEPARATOR_SPACE}},
        {"a style stored by hand as a DWORD",
         [] { SetDword(L"ViewStyle", 2); },
         {ID_MENU_KBYTES, ID_MENU_FOLDERSONLY, ID_MENU_DECIMALS_0, ID_MENU_SEPARATOR_SPACE}},
        {"every group set",
         [] {
             SetInteger(L"ViewMetric", 4);
             SetInteger(L"ViewStyle", 3);
             SetInteger(L"DecimalDigits", 5);
             SetCharacter(L"Separator", L'`');
         },
         {ID_MENU_AUTO, ID_MENU_NOTHING, ID_MENU_DECIMALS_5, ID_MENU_SEPARATOR_APOSTROPHE}},
        {"values too long for the toolbar's buffers keep the defaults",
         [] {
             SetText(L"Separator", L".");                                   // 4 bytes
             SetText(L"DecimalDigits", L"\x0003\x0001\x0001\x0001\x0001");  // 12 bytes
         },
         {ID_MENU_KBYTES, ID_MENU_FILESANDFOLDERS, ID_MENU_DECIMALS_0, ID_MENU_SEPARATOR_SPACE}},
        {"a quote and two decimals",
         [] {
             SetCharacter(L"Separator", L'\'');
             SetInteger(L"DecimalDigits", 2);
         },
         {ID_MENU_KBYTES, ID_MENU_FILESANDFOLDERS, ID_MENU_DECIMALS_2, ID_MENU_SEPARATOR_QUOTE}},
    };
    for (const Case& c : cases) {
        ClearSettings();
        c.store();
        std::optional<StoredValue> before[4];
        for (int i = 0; i < 4; ++i) {
            before[i] = ReadStored(kDisplayValues[i]);
        }
        for (Step dismiss : {Step{Step::Kind::Escape}, Step{Step::Kind::CancelMode}}) {
            MenuDriver::Seen seen = Press({dismiss});
            ASSERT_TRUE(seen.completed) << c.name << ": " << seen.failure;
            EXPECT_EQ(Sorted(seen.checked), Sorted(c.checked)) << c.name;
            EXPECT_EQ(Sorted(seen.grayed), Sorted({ID_MENU_SIZEUNITS, ID_MENU_VIEWSTYLE}))
                << c.name;
            EXPECT_TRUE(seen.buttonPressed) << c.name;
            // Dismissed: every value as it was, nothing announced.
            for (int i = 0; i < 4; ++i) {
                std::optional<StoredValue> after = ReadStored(kDisplayValues[i]);
                ASSERT_EQ(after.has_value(), before[i].has_value()) << c.name;
                if (after) {
                    EXPECT_EQ(after->bytes, before[i]->bytes) << c.name;
                }
            }
            ExpectNothingAnnounced(c.name);
        }
    }
    // Merely opening the menu created the key.
    EXPECT_TRUE(OpenKey(HKEY_CURRENT_USER, kSettingsKey, KEY_READ));
    EXPECT_FALSE(SendMessageW(toolbar_, TB_GETSTATE, kButton, 0) & TBSTATE_PRESSED);
}

TEST_F(BandMenu, DropsDownBelowTheButtonAtItsLeftEdge) {
    MenuDriver::Seen seen = Press(MenuDriver::Dismiss());
    ASSERT_TRUE(seen.completed) << seen.failure;
    RECT toolbar{};
    GetWindowRect(toolbar_, &toolbar);
    EXPECT_EQ(seen.menuRect.left, toolbar.left);
    EXPECT_EQ(seen.menuRect.top, toolbar.bottom);
}

TEST_F(BandMenu, ChoosingAnItemStoresItsBytesAnnouncesAndRefreshesOnce) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        const wchar_t* value;
        std::vector<uint8_t> bytes;
        UINT checkedNext;
    };
    auto integer = [](uint8_t low) { return std::vector<uint8_t>{low, 0, 0, 0, 0, 0, 0, 0}; };
    auto character = [](wchar_t unit) {
        return std::vector<uint8_t>{static_cast<uint8_t>(unit & 0xFF),
                                    static_cast<uint8_t>(unit >> 8)};
    };
    const Case cases[] = {
        {"&MBytes", MenuDriver::Choose({kMBytes}), L"ViewMetric", integer(2), ID_MENU_MBYTES},
        {"&Auto", MenuDriver::Choose({kAuto}), L"ViewMetric", integer(4), ID_MENU_AUTO},
        {"&Bytes", MenuDriver::Choose({kBytes}), L"ViewMetric", integer(0), ID_MENU_BYTES},
        {"&KBytes, already checked", MenuDriver::Choose({kKBytes}), L"ViewMetric", integer(1),
         ID_MENU_KBYTES},
        {"F&olders only", MenuDriver::Choose({kFoldersOnly}), L"ViewStyle", integer(2),
         ID_MENU_FOLDERSONLY},
        {"&Nothing (turn off)", MenuDriver::Choose({kNothing}), L"ViewStyle", integer(3),
         ID_MENU_NOTHING},
        {"&Files and Folders, already checked", MenuDriver::Choose({kFilesAndFolders}),
         L"ViewStyle", integer(0), ID_MENU_FILESANDFOLDERS},
        {"&Don't use", MenuDriver::Choose({kDigitGrouping, 0}), L"Separator", character(0),
         ID_MENU_SEPARATOR_NONE},
        {"Dot [&.]", MenuDriver::Choose({kDigitGrouping, 2}), L"Separator", character(L'.'),
         ID_MENU_SEPARATOR_DOT},
        {"Comma [&,]", MenuDriver::Choose({kDigitGrouping, 3}), L"Separator", character(L','),
         ID_MENU_SEPARATOR_COMMA},
        {"Apostrophe [&`]", MenuDriver::Choose({kDigitGrouping, 4}), L"Separator", character(L'`'),
         ID_MENU_SEPARATOR_APOSTROPHE},
        {"Quote [']", MenuDriver::Choose({kDigitGrouping, 5}), L"Separator", character(L'\''),
         ID_MENU_SEPARATOR_QUOTE},
        {"3 decimals", MenuDriver::Choose({kDecimalDigits, 3}), L"DecimalDigits", integer(3),
         ID_MENU_DECIMALS_3},
        {"5 decimals", MenuDriver::Choose({kDecimalDigits, 5}), L"DecimalDigits", integer(5),
         ID_MENU_DECIMALS_5},
        {"the mnemonic of &MBytes",
         {{Step::Kind::Char, L'm'}},
         L"ViewMetric",
         integer(2),
         ID_MENU_MBYTES},
        {"the mnemonic of F&iles only",
         {{Step::Kind::Char, L'i'}},
         L"ViewStyle",
         integer(1),
         ID_MENU_FILESONLY},
    };
    for (const Case& c : cases) {
        ClearSettings();
        listener_.Reset();
        int refreshes = site_->Refreshes();
        MenuDriver::Seen seen = Press(c.steps);
        ASSERT_TRUE(seen.completed) << c.name << ": " << seen.failure;
        for (const wchar_t* name : kDisplayValues) {
            std::optional<StoredValue> stored = ReadStored(name);
            if (wcscmp(name, c.value) != 0) {
                EXPECT_FALSE(stored.has_value()) << c.name << ": wrote another value too";
                continue;
            }
            ASSERT_TRUE(stored.has_value()) << c.name;
            EXPECT_EQ(stored->type, static_cast<DWORD>(REG_BINARY)) << c.name;
            EXPECT_EQ(stored->bytes, c.bytes) << c.name;
        }
        EXPECT_EQ(listener_.Count(), 1) << c.name;
        EXPECT_EQ(listener_.LastWParam(), 1u) << c.name;
        EXPECT_EQ(listener_.LastLParam(), 0) << c.name;
        EXPECT_EQ(site_->Refreshes(), refreshes + 1) << c.name;
        EXPECT_FALSE(StandInStartedIn(kBarDir)) << c.name;
        // The next time the menu opens, the stored choice is the checked one.
        MenuDriver::Seen next = Press(MenuDriver::Dismiss());
        ASSERT_TRUE(next.completed) << c.name << ": " << next.failure;
        EXPECT_NE(std::find(next.checked.begin(), next.checked.end(), c.checkedNext),
                  next.checked.end())
            << c.name;
    }
}

// A program that has stopped answering does not hold the choice up: the menu returns while it
// still does not answer, and a listener that answers has the message all the same.
TEST_F(BandMenu, AHungWindowDoesNotHoldUpTheChoice) {
    ConfigListener hung(true);
    ASSERT_TRUE(hung.Running());
    MenuDriver::Seen seen = Press(MenuDriver::Choose({kMBytes}));
    ASSERT_TRUE(seen.completed) << seen.failure;
    EXPECT_TRUE(hung.StillRunning()) << "the choice waited until the hung program ended";
    EXPECT_EQ(listener_.Count(), 1);
    EXPECT_EQ(site_->Refreshes(), 1);
}

TEST_F(BandMenu, TheGrayedHeadingsCannotBeChosen) {
    // Return on a heading: whether the menu stays open (then Escape ends it) or closes,
    // nothing is stored and nothing is announced.
    for (int heading : {kSizeUnits, kViewStyle}) {
        MenuDriver::Seen seen =
            Press({{Step::Kind::Hilite, heading}, {Step::Kind::Enter}, {Step::Kind::Escape}});
        ASSERT_TRUE(seen.completed) << heading << ": " << seen.failure;
        EXPECT_EQ(Sorted(seen.grayed), Sorted({ID_MENU_SIZEUNITS, ID_MENU_VIEWSTYLE}));
    }
    for (const wchar_t* name : kDisplayValues) {
        EXPECT_FALSE(ReadStored(name).has_value()) << name;
    }
    ExpectNothingAnnounced("headings");
}

TEST_F(BandMenu, PropertiesStartsTheProgramBesideTheLibraryOnce) {
    MenuDriver::Seen seen = Press(MenuDriver::Choose({kProperties}));
    ASSERT_TRUE(seen.completed) << seen.failure;
    std::vector<std::wstring> starts = WaitForStandInStarts(kBarDir, 1, 20000);
    ASSERT_EQ(starts.size(), 1u);
    // Started in its own folder, without arguments.
    EXPECT_EQ(starts[0], std::wstring(kBarDir) + L"|");
    for (const wchar_t* name : kDisplayValues) {
        EXPECT_FALSE(ReadStored(name).has_value()) << name;
    }
    ExpectNothingAnnounced("properties");
}

TEST_F(BandMenu, PropertiesBringsARunningWindowForwardInstead) {
    HostWindow running(false, {100, 100, 300, 200}, L"Tolvane\x2122");
    ShowWindow(running.get(), SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(running.get()));
    MenuDriver::Seen seen = Press(MenuDriver::Choose({kProperties}));
    ASSERT_TRUE(seen.completed) << seen.failure;
    EXPECT_FALSE(IsIconic(running.get()));
    EXPECT_TRUE(IsWindowVisible(running.get()));
    EXPECT_FALSE(StandInStartedIn(kBarDir));
    ExpectNothingAnnounced("running properties");
}

TEST_F(BandMenu, AnOverlongLibraryPathStartsNothing) {
    // A folder whose library path fits MAX_PATH while the program beside it does not.
    std::wstring folder = std::wstring(kBarDir) + L"\\long";
    folder += L"\\" + std::wstring(245 - folder.size() - 1, L'x');
    ASSERT_EQ(folder.size(), 245u);
    CreateFolders(folder);
    std::wstring library = folder + L"\\TVN Bar.dll";
    ASSERT_TRUE(CopyBuiltBand(library));
    // Stand-ins at the whole program path and at the cut one a truncating copy would start.
    std::wstring whole = L"\\\\?\\" + folder + L"\\TVN Properties.exe";
    std::wstring cut = L"\\\\?\\" + (folder + L"\\TVN Properties.exe").substr(0, MAX_PATH - 1);
    ASSERT_TRUE(CopyStandIn(whole));
    ASSERT_TRUE(CopyStandIn(cut + L".exe"));
    ClearStandInStarts(folder);

    UniqueModule module(LoadLibraryW(library.c_str()));
    ASSERT_TRUE(module) << GetLastError();
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module.get(), "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_TVNWinExpBar, IID_IClassFactory, factory.put_void()), S_OK);
    {
        Band longBand;
        longBand.object.reset();
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, longBand.object.put_void()), S_OK);
        ASSERT_EQ(longBand.SetSite(static_cast<IOleWindow*>(site_.get())), S_OK);
        MenuDriver::Seen seen =
            PressButton(longBand.Window(), longBand.Toolbar(), MenuDriver::Choose({kProperties}));
        ASSERT_TRUE(seen.completed) << seen.failure;
        EXPECT_FALSE(StandInStartedIn(folder));
        EXPECT_FALSE(StandInStartedIn(kBarDir));
    }
    factory.reset();
}

TEST_F(BandMenu, ASettingsKeyThatCannotBeOpenedShowsNoMenu) {
    // A volatile parent refuses the stored settings key below it.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Quorlen");
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Quorlen", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    UniqueHKey volatileParent(raw);
    ASSERT_FALSE(CreateKey(HKEY_CURRENT_USER, kSettingsKey, KEY_READ)) << "the key can be made";

    MenuDriver::Seen seen = Press(MenuDriver::Dismiss());
    EXPECT_FALSE(seen.shown);
    EXPECT_FALSE(SendMessageW(toolbar_, TB_GETSTATE, kButton, 0) & TBSTATE_PRESSED);
    ExpectNothingAnnounced("no key");
    volatileParent.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Quorlen");
}

TEST_F(BandMenu, ClickingTheButtonOpensTheMenu) {
    MenuDriver driver(GetCurrentThreadId(), toolbar_, MenuDriver::Choose({kMBytes}));
    RECT button{};
    ASSERT_TRUE(SendMessageW(toolbar_, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&button)));
    LPARAM at = MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    SendMessageW(toolbar_, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(toolbar_, WM_LBUTTONUP, 0, at);
    MenuDriver::Seen seen = driver.Finish();
    ASSERT_TRUE(seen.completed) << seen.failure;
    std::optional<StoredValue> stored = ReadStored(L"ViewMetric");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->bytes, (std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(site_->Refreshes(), 1);
}

}  // namespace
}  // namespace tvn::test
