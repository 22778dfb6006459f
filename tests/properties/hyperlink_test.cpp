// The hyperlink on a real static control: what Create answers, what a click does, the hot
// state with its repaints and mouse tracking, the cursor, and the pixels it paints.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "gdi_scope.h"
#include "hyperlink.h"
#include "window_support.h"

namespace tvn::test {
namespace {

constexpr int kLinkId = 201;
constexpr UINT kCommandId = 40123;
constexpr COLORREF kBackground = RGB(168, 196, 244);
constexpr COLORREF kNormal = RGB(0, 0, 200);
constexpr COLORREF kHot = RGB(0, 0, 255);

class HyperlinkTest : public testing::Test {
  protected:
    void SetUp() override {
        link = parent.AddChild(L"Static", L"Visit the web site", SS_LEFT, kLinkId, 10, 10, 220, 24);
        ASSERT_NE(link, nullptr);
        SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        style.background = kBackground;
        style.normalColor = kNormal;
        style.hotColor = kHot;
    }

    // Puts the real mouse over the link (or away from every test window), so that the
    // system's own leave tracking agrees with the messages the test sends.
    void MouseOverLink() const {
        RECT r{};
        GetWindowRect(link, &r);
        SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    static void MouseAway() { SetCursorPos(900, 700); }

    bool Invalidated() const { return GetUpdateRect(link, nullptr, FALSE) != FALSE; }
    LRESULT Move() const { return SendMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(20, 8)); }
    LRESULT Leave() const { return SendMessageW(link, WM_MOUSELEAVE, 0, 0); }
    LRESULT Click() const { return SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(20, 8)); }

    // The window whose leave the system is tracking for this thread, if any.
    HWND Tracked() const {
        TRACKMOUSEEVENT query{sizeof(query), TME_QUERY, nullptr, 0};
        TrackMouseEvent(&query);
        return (query.dwFlags & TME_LEAVE) != 0 ? query.hwndTrack : nullptr;
    }

    ParentWindow parent;
    UniqueFont font = CrispFont(14);
    HWND link = nullptr;
    acl::HyperlinkStyle style;
};

TEST(HyperlinkStyle, StartsWithTheDocumentedDefaults) {
    acl::HyperlinkStyle style;
    EXPECT_FALSE(style.underlineWhenHot);
    EXPECT_FALSE(style.ownsFont);
    EXPECT_EQ(style.background, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(style.normalColor, RGB(0, 0, 200));
    EXPECT_EQ(style.hotColor, RGB(0, 0, 255));
    EXPECT_EQ(style.cursor, nullptr);
    EXPECT_EQ(style.font, nullptr);
}

TEST(HyperlinkStyle, DeletesItsFontOnlyWhenItOwnsIt) {
    HFONT kept = CrispFont(12).release();
    HFONT owned = CrispFont(12).release();
    {
        acl::HyperlinkStyle borrowing;
        borrowing.font = kept;
        acl::HyperlinkStyle owning;
        owning.font = owned;
        owning.ownsFont = true;
    }
    EXPECT_EQ(GetObjectType(kept), static_cast<DWORD>(OBJ_FONT));
    EXPECT_EQ(GetObjectType(owned), 0u);
    UniqueFont cleanup(kept);
}

TEST_F(HyperlinkTest, CreateSubclassesTheControlAndChecksItsActions) {
    using L = acl::Hyperlink;
    struct Case {
        unsigned actions;
        const wchar_t* target;
        DWORD result;
    };
    const Case cases[] = {
        {0, nullptr, ERROR_INVALID_PARAMETER},
        {0, L"https://example.invalid/", ERROR_INVALID_PARAMETER},
        {L::kOpenNoOwner, nullptr, ERROR_INVALID_PARAMETER},
        {L::kOpenWithOwner, nullptr, ERROR_INVALID_PARAMETER},
        {L::kSendCommand, nullptr, ERROR_SUCCESS},
        {L::kOpenNoOwner, L"https://example.invalid/", ERROR_SUCCESS},
        {L::kOpenWithOwner | L::kSendCommand, L"https://example.invalid/", ERROR_SUCCESS},
    };
    const LONG_PTR original = GetWindowLongPtrW(link, GWLP_WNDPROC);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "actions " << c.actions << ", target " << (c.target ? "given" : "none"));
        acl::Hyperlink hyperlink;
        EXPECT_EQ(hyperlink.Create(c.actions, link, parent.get(), c.target, kCommandId, &style),
                  c.result);
        // Subclassed all the same, ready for clicks.
        EXPECT_TRUE(hyperlink.IsAttached());
        EXPECT_NE(GetWindowLongPtrW(link, GWLP_WNDPROC), original);
        EXPECT_NE(GetWindowLongPtrW(link, GWL_STYLE) & SS_NOTIFY, 0);
        EXPECT_FALSE(hyperlink.IsHot());
    }
    EXPECT_EQ(GetWindowLongPtrW(link, GWLP_WNDPROC), original);

    acl::Hyperlink hyperlink;
    EXPECT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, nullptr, parent.get(), nullptr,
                               kCommandId, &style),
              static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(hyperlink.IsAttached());
}

TEST_F(HyperlinkTest, ClickCarriesOutTheChosenActions) {
    using L = acl::Hyperlink;
    const std::wstring target = CopyToTemp(L"link_target.exe");
    ASSERT_FALSE(target.empty());
    const std::wstring marker = target + L".opened";
    struct Case {
        unsigned actions;
        bool command;
        bool opens;
    };
    const Case cases[] = {
        {L::kSendCommand, true, false},
        {L::kOpenNoOwner, false, true},
        {L::kOpenWithOwner, false, true},
        {L::kSendCommand | L::kOpenNoOwner, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "actions " << c.actions);
        DeleteFileW(marker.c_str());
        parent.commands.clear();
        acl::Hyperlink hyperlink;
        ASSERT_EQ(
            hyperlink.Create(c.actions, link, parent.get(), target.c_str(), kCommandId, &style),
            0u);
        EXPECT_EQ(Click(), 0);
        if (c.command) {
            ASSERT_EQ(parent.commands.size(), 1u);
            EXPECT_EQ(parent.commands[0].wParam, static_cast<WPARAM>(kCommandId));
            EXPECT_EQ(parent.commands[0].lParam, reinterpret_cast<LPARAM>(link));
        } else {
            EXPECT_TRUE(parent.commands.empty());
        }
        if (c.opens) {
            EXPECT_TRUE(PumpUntil(
                [&] { return GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES; },
                20000))
                << "the target was not started";
        }
    }
    DeleteFileW(marker.c_str());
    DeleteFileW(target.c_str());
}

TEST_F(HyperlinkTest, ClickOnATargetThatCannotBeOpenedDoesNothingElse) {
    acl::Hyperlink hyperlink;
    const std::wstring missing = ProgramFolder() + L"\\no such program.exe";
    ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kOpenNoOwner | acl::Hyperlink::kOpenWithOwner, link,
                               parent.get(), missing.c_str(), 0, &style),
              0u);
    EXPECT_EQ(Click(), 0);
    EXPECT_TRUE(hyperlink.IsAttached());
    EXPECT_TRUE(parent.commands.empty());
}

TEST_F(HyperlinkTest, OwnerMayDeleteTheLinkWhileHandlingItsCommand) {
    auto* hyperlink = new acl::Hyperlink;
    const std::wstring missing = ProgramFolder() + L"\\no such program.exe";
    ASSERT_EQ(hyperlink->Create(acl::Hyperlink::kSendCommand | acl::Hyperlink::kOpenNoOwner, link,
                                parent.get(), missing.c_str(), kCommandId, &style),
              0u);
    const LONG_PTR subclassed = GetWindowLongPtrW(link, GWLP_WNDPROC);
    bool deleted = false;
    parent.hook = [&](UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_COMMAND && !deleted) {
            deleted = true;
            delete hyperlink;
            return 0;
        }
        return std::nullopt;
    };
    EXPECT_EQ(Click(), 0);
    EXPECT_TRUE(deleted);
    EXPECT_NE(GetWindowLongPtrW(link, GWLP_WNDPROC), subclassed);
    parent.hook = nullptr;
}

TEST_F(HyperlinkTest, MouseMoveRepaintsOnlyOnEnteringAndLeaveOnce) {
    acl::Hyperlink hyperlink;
    ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, link, parent.get(), nullptr,
                               kCommandId, &style),
              0u);
    MouseOverLink();
    UpdateWindow(link);
    ASSERT_FALSE(Invalidated());

    EXPECT_EQ(Move(), 0);
    EXPECT_TRUE(hyperlink.IsHot());
    EXPECT_TRUE(Invalidated());
    EXPECT_EQ(Tracked(), link);
    UpdateWindow(link);
    EXPECT_EQ(Move(), 0);
    EXPECT_EQ(Move(), 0);
    EXPECT_FALSE(Invalidated()) << "moving within the link repainted it";

    EXPECT_EQ(Leave(), 0);
    EXPECT_FALSE(hyperlink.IsHot());
    EXPECT_TRUE(Invalidated());
    EXPECT_EQ(Tracked(), nullptr);
    UpdateWindow(link);
    EXPECT_EQ(Leave(), 0);
    EXPECT_FALSE(Invalidated()) << "a second leave repainted it";
    MouseAway();
}

TEST_F(HyperlinkTest, SystemTellsTheLinkWhenTheMouseLeaves) {
    acl::Hyperlink hyperlink;
    ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, link, parent.get(), nullptr,
                               kCommandId, &style),
              0u);
    MouseOverLink();
    Move();
    ASSERT_TRUE(hyperlink.IsHot());
    MouseAway();
    EXPECT_TRUE(PumpUntil([&] { return !hyperlink.IsHot(); }, 10000)) << "no WM_MOUSELEAVE arrived";
}

TEST_F(HyperlinkTest, DetachCancelsTheMouseTracking) {
    acl::Hyperlink hyperlink;
    const LONG_PTR original = GetWindowLongPtrW(link, GWLP_WNDPROC);
    ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, link, parent.get(), nullptr,
                               kCommandId, &style),
              0u);
    MouseOverLink();
    Move();
    ASSERT_EQ(Tracked(), link);
    EXPECT_EQ(hyperlink.Detach(), 0u);
    EXPECT_EQ(Tracked(), nullptr);
    EXPECT_FALSE(hyperlink.IsHot());
    EXPECT_EQ(GetWindowLongPtrW(link, GWLP_WNDPROC), original);
    MouseAway();
}

TEST_F(HyperlinkTest, CursorOfTheStyleOrTheControlsOwn) {
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    const HCURSOR beam = LoadCursorW(nullptr, IDC_IBEAM);
    struct Case {
        HCURSOR styleCursor;
        HCURSOR shown;
    };
    // Without a cursor of its own the static shows its class cursor, not the one the mouse
    // brought from elsewhere.
    const Case cases[] = {{hand, hand}, {nullptr, arrow}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.styleCursor ? "style cursor" : "no style cursor");
        style.cursor = c.styleCursor;
        acl::Hyperlink hyperlink;
        ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, link, parent.get(), nullptr,
                                   kCommandId, &style),
                  0u);
        SetCursor(beam);
        const LRESULT result = SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                                            MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(GetCursor(), c.shown);
        if (c.styleCursor != nullptr) {
            EXPECT_EQ(result, TRUE);
        }
    }
}

TEST_F(HyperlinkTest, WithoutAStyleItDrawsWithTheDefaults) {
    acl::Hyperlink hyperlink;
    ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, link, parent.get(), nullptr,
                               kCommandId, nullptr),
              0u);
    PaintNow(link);
    const Pixels pixels = Capture(link);
    ASSERT_GT(pixels.width, 0);
    EXPECT_EQ(pixels.At(pixels.width - 1, pixels.height - 1), GetSysColor(COLOR_BTNFACE));
    EXPECT_GT(pixels.Count(RGB(0, 0, 200)), 20);
}

TEST_F(HyperlinkTest, SetTextReportsSuccessAndRepaints) {
    acl::Hyperlink hyperlink;
    ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, link, parent.get(), nullptr,
                               kCommandId, &style),
              0u);
    UpdateWindow(link);
    EXPECT_TRUE(SetWindowTextW(link, L"Support"));
    EXPECT_TRUE(Invalidated());
    wchar_t text[32] = {};
    GetWindowTextW(link, text, 32);
    EXPECT_STREQ(text, L"Support");
}

TEST_F(HyperlinkTest, PaintsBackgroundAndTextInTheColoursOfItsState) {
    struct Case {
        bool hot;
        bool underlineWhenHot;
        bool styleFont;  // the style's font instead of the control's
    };
    const Case cases[] = {
        {false, false, false}, {true, false, false}, {false, true, false},
        {true, true, false},   {true, true, true},   {false, false, true},
    };
    UniqueFont large = CrispFont(20);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "hot " << c.hot << ", underline " << c.underlineWhenHot
                                        << ", style font " << c.styleFont);
        style.underlineWhenHot = c.underlineWhenHot;
        style.font = c.styleFont ? large.get() : nullptr;
        acl::Hyperlink hyperlink;
        ASSERT_EQ(hyperlink.Create(acl::Hyperlink::kSendCommand, link, parent.get(), nullptr,
                                   kCommandId, &style),
                  0u);
        if (c.hot) {
            MouseOverLink();
            Move();
        }
        PaintNow(link);
        const Pixels pixels = Capture(link);
        ASSERT_GT(pixels.width, 0);
        const COLORREF text = c.hot ? kHot : kNormal;
        const COLORREF other = c.hot ? kNormal : kHot;
        EXPECT_EQ(pixels.At(pixels.width - 1, pixels.height - 1), kBackground);
        EXPECT_EQ(pixels.At(0, 0), kBackground);
        EXPECT_GT(pixels.Count(text), 20);
        EXPECT_EQ(pixels.Count(other), 0);
        EXPECT_EQ(pixels.Count(kBackground) + pixels.Count(text), pixels.width * pixels.height)
            << "the text is drawn on a transparent background over the fill";

        // The text starts one pixel in and is as wide as the font makes it.
        SIZE extent{};
        {
            WindowDc dc(link);
            SelectedObject selected(dc.get(), c.styleFont ? large.get() : font.get());
            GetTextExtentPoint32W(dc.get(), L"Visit the web site", 18, &extent);
        }
        EXPECT_GE(pixels.FirstColumn(text), 1);
        EXPECT_LE(pixels.FirstColumn(text), 3);
        EXPECT_NEAR(pixels.LastColumn(text) + 1, extent.cx, 3);

        // An underline is a row of text colour across the whole text.
        int fullRows = 0;
        for (int y = 0; y < pixels.height; ++y) {
            fullRows += pixels.CountInRow(y, text) >= extent.cx - 4 ? 1 : 0;
        }
        EXPECT_EQ(fullRows > 0, c.hot && c.underlineWhenHot);
        if (c.hot) {
            Leave();
            MouseAway();
        }
    }
    style.font = nullptr;
}

}  // namespace
}  // namespace tvn::test
