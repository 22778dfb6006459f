// The subclassing base on real controls: the process's hold on the global atom, attaching and
// detaching, failures that must leave nothing behind, a control destroyed while attached, and
// a later subclass that must survive our Detach.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>

#include "subclass_control.h"
#include "window_support.h"

namespace tvn::test {
namespace {

constexpr UINT kPing = WM_APP + 1;   // answered by the test control with 42
constexpr UINT kThrow = WM_APP + 2;  // the test control throws

// Counts the messages it sees and hands the rest on.
class CountingControl : public acl::SubclassControlBase {
  public:
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        ++messages;
        if (message == kPing) {
            return 42;
        }
        if (message == kThrow) {
            throw std::runtime_error("thrown inside a window procedure");
        }
        if (message == WM_NCDESTROY) {
            ++ncDestroys;
        }
        return CallPreviousProc(window, message, wParam, lParam);
    }
    int messages = 0;
    int ncDestroys = 0;
};

bool AtomExists() {
    return GlobalFindAtomW(acl::SubclassControlBase::kAtomName) != 0;
}

LONG_PTR Procedure(HWND window) {
    return GetWindowLongPtrW(window, GWLP_WNDPROC);
}

class SubclassControlBaseTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(AtomExists()) << "an earlier case left the atom"; }
    void TearDown() override { EXPECT_FALSE(AtomExists()) << "the case left the atom"; }

    HWND Static(int id, const wchar_t* text = L"text") {
        return parent.AddChild(L"Static", text, SS_LEFT, id, 10, 10 + 24 * (id % 4), 200, 20);
    }

    ParentWindow parent;
};

TEST_F(SubclassControlBaseTest, AtomLivesFromTheFirstAttachToTheLastDetach) {
    HWND first = Static(1);
    HWND second = Static(2);
    CountingControl a;
    CountingControl b;
    ASSERT_EQ(a.Attach(first, 0), 0u);
    EXPECT_TRUE(AtomExists());
    ASSERT_EQ(b.Attach(second, 0), 0u);
    EXPECT_EQ(a.Detach(), 0u);
    EXPECT_TRUE(AtomExists());
    EXPECT_EQ(b.Detach(), 0u);
    EXPECT_FALSE(AtomExists());
    EXPECT_EQ(b.Detach(), 0u);  // detaching again changes nothing
    EXPECT_FALSE(AtomExists());
}

TEST_F(SubclassControlBaseTest, AtomHeldBySomeoneElseSurvivesOurLastDetach) {
    // Another program (or this one, outside the controls) holding the same atom name keeps
    // it: the controls add and delete only their own reference.
    const ATOM held = GlobalAddAtomW(acl::SubclassControlBase::kAtomName);
    ASSERT_NE(held, 0);
    {
        CountingControl control;
        ASSERT_EQ(control.Attach(Static(1), 0), 0u);
        EXPECT_EQ(control.Detach(), 0u);
    }
    EXPECT_EQ(GlobalFindAtomW(acl::SubclassControlBase::kAtomName), held);
    GlobalDeleteAtom(held);
}

TEST_F(SubclassControlBaseTest, MessagesReachTheObjectUntilDetachRestoresTheProcedure) {
    HWND window = Static(1);
    const LONG_PTR original = Procedure(window);
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    ASSERT_EQ(style & SS_NOTIFY, 0);
    CountingControl control;
    ASSERT_EQ(control.Attach(window, SS_NOTIFY), 0u);
    EXPECT_TRUE(control.IsAttached());
    EXPECT_EQ(control.ControlWindow(), window);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE), style | SS_NOTIFY);
    EXPECT_NE(Procedure(window), original);
    EXPECT_EQ(SendMessageW(window, kPing, 0, 0), 42);
    // What the object hands on reaches the control's own procedure.
    EXPECT_TRUE(SetWindowTextW(window, L"changed"));
    wchar_t text[32] = {};
    GetWindowTextW(window, text, 32);
    EXPECT_STREQ(text, L"changed");
    // An exception inside the object's procedure does not leave the window procedure.
    EXPECT_EQ(SendMessageW(window, kThrow, 0, 0), 0);

    ASSERT_EQ(control.Detach(), 0u);
    EXPECT_FALSE(control.IsAttached());
    EXPECT_EQ(Procedure(window), original);
    const int seen = control.messages;
    EXPECT_EQ(SendMessageW(window, kPing, 0, 0), 0);
    EXPECT_EQ(control.messages, seen);
}

TEST_F(SubclassControlBaseTest, AttachingAgainDetachesFromTheFirstControl) {
    HWND first = Static(1);
    HWND second = Static(2);
    const LONG_PTR original = Procedure(first);
    CountingControl control;
    ASSERT_EQ(control.Attach(first, 0), 0u);
    ASSERT_EQ(control.Attach(second, 0), 0u);
    EXPECT_EQ(Procedure(first), original);
    EXPECT_EQ(GetPropW(first, acl::SubclassControlBase::kAtomName), nullptr);
    EXPECT_EQ(SendMessageW(first, kPing, 0, 0), 0);
    EXPECT_EQ(SendMessageW(second, kPing, 0, 0), 42);
    EXPECT_EQ(control.ControlWindow(), second);
    // One attachment, one use of the atom.
    control.Detach();
    EXPECT_FALSE(AtomExists());
}

TEST_F(SubclassControlBaseTest, SecondObjectOnOneControlIsRefused) {
    HWND window = Static(1);
    CountingControl first;
    CountingControl second;
    ASSERT_EQ(first.Attach(window, 0), 0u);
    EXPECT_EQ(second.Attach(window, 0), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(second.IsAttached());
    EXPECT_EQ(SendMessageW(window, kPing, 0, 0), 42);
    EXPECT_EQ(second.messages, 0);
    first.Detach();
}

TEST_F(SubclassControlBaseTest, FailedAttachLeavesNothingBehind) {
    HWND gone = Static(1);
    DestroyWindow(gone);
    struct Case {
        const char* what;
        HWND window;
    };
    // The desktop belongs to another process: its procedure cannot be replaced.
    const Case cases[] = {{"no window", nullptr},
                          {"destroyed window", gone},
                          {"window of another process", GetDesktopWindow()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LONG_PTR style = c.window ? GetWindowLongPtrW(c.window, GWL_STYLE) : 0;
        CountingControl control;
        EXPECT_NE(control.Attach(c.window, 0), 0u);
        EXPECT_FALSE(control.IsAttached());
        EXPECT_FALSE(AtomExists());
        if (c.window != nullptr && IsWindow(c.window)) {
            EXPECT_EQ(GetPropW(c.window, acl::SubclassControlBase::kAtomName), nullptr);
            EXPECT_EQ(GetWindowLongPtrW(c.window, GWL_STYLE), style);
        }
    }
    CountingControl control;
    EXPECT_EQ(control.Attach(nullptr, 0), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SubclassControlBaseTest, ControlDestroyedWhileAttachedGivesEverythingBack) {
    HWND first = Static(1);
    HWND second = Static(2);
    CountingControl a;
    CountingControl b;
    ASSERT_EQ(a.Attach(first, 0), 0u);
    ASSERT_EQ(b.Attach(second, 0), 0u);
    ASSERT_TRUE(DestroyWindow(first));
    // The object saw the end of its control, handed it on, and let go.
    EXPECT_EQ(a.ncDestroys, 1);
    EXPECT_FALSE(a.IsAttached());
    EXPECT_EQ(a.ControlWindow(), nullptr);
    EXPECT_TRUE(AtomExists());  // still held by the second
    ASSERT_TRUE(DestroyWindow(second));
    EXPECT_FALSE(b.IsAttached());
    EXPECT_FALSE(AtomExists());
    // Both objects can be used again, and their destructors have nothing left to do.
    HWND third = Static(3);
    EXPECT_EQ(a.Attach(third, 0), 0u);
    EXPECT_EQ(SendMessageW(third, kPing, 0, 0), 42);
    a.Detach();
}

TEST_F(SubclassControlBaseTest, WindowWithoutThePropertyGetsTheDefaultHandling) {
    // Someone removed our property: the shared procedure has no object to call and answers
    // as DefWindowProcW does (here: the window's text), not with 0.
    HWND window = Static(1, L"seven");
    CountingControl control;
    ASSERT_EQ(control.Attach(window, 0), 0u);
    ASSERT_NE(RemovePropW(window, acl::SubclassControlBase::kAtomName), nullptr);
    EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 5);
    wchar_t text[16] = {};
    EXPECT_EQ(GetWindowTextW(window, text, 16), 5);
    EXPECT_STREQ(text, L"seven");
    EXPECT_EQ(control.messages, 0);
    EXPECT_EQ(control.Detach(), 0u);
}

// A subclass made after ours: it records what it sees and hands everything on.
struct LaterSubclass {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        ++seen;
        return CallWindowProcW(previous, window, message, wParam, lParam);
    }
    static inline WNDPROC previous = nullptr;
    static inline int seen = 0;
};

TEST_F(SubclassControlBaseTest, LaterSubclassKeepsWorkingAfterOurDetach) {
    HWND window = Static(1, L"before");
    {
        CountingControl control;
        ASSERT_EQ(control.Attach(window, 0), 0u);
        LaterSubclass::seen = 0;
        LaterSubclass::previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LaterSubclass::Procedure)));
        ASSERT_EQ(SendMessageW(window, kPing, 0, 0), 42);
        ASSERT_EQ(control.Detach(), 0u);
        EXPECT_FALSE(control.IsAttached());
        EXPECT_EQ(Procedure(window), reinterpret_cast<LONG_PTR>(&LaterSubclass::Procedure));
        const int counted = control.messages;
        // The later subclass still sees the messages, and the control still works below it.
        EXPECT_TRUE(SetWindowTextW(window, L"after"));
        wchar_t text[32] = {};
        GetWindowTextW(window, text, 32);
        EXPECT_STREQ(text, L"after");
        EXPECT_EQ(SendMessageW(window, kPing, 0, 0), 0);
        EXPECT_GE(LaterSubclass::seen, 4);
        EXPECT_EQ(control.messages, counted);
    }
    // What stands in for the object goes with the window, and the atom with it.
    EXPECT_TRUE(AtomExists());
    DestroyWindow(window);
}

}  // namespace
}  // namespace tvn::test
