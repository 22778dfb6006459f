// The colour map in a real dialog: which group answers which control, the "default" fallback,
// the answered set, and what an answer does to the control's device context and pixels.
#include <gtest/gtest.h>

#include <windows.h>

#include <utility>
#include <vector>

#include "control_color_map.h"
#include "controls_test_ids.h"
#include "window_support.h"

namespace tvn::test {
namespace {

constexpr COLORREF kBlue = RGB(148, 176, 224);
constexpr COLORREF kPeach = RGB(244, 196, 168);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGrey = RGB(50, 50, 50);

// A modeless dialog from the test's resources whose procedure hands every colour message to
// the map, as the properties dialog does, and records which controls asked.
class ColorDialog {
  public:
    ColorDialog() {
        EnsureCommonControls();
        dialog_.reset(CreateDialogParamW(GetModuleHandleW(nullptr),
                                         MAKEINTRESOURCEW(IDD_COLOR_TEST), nullptr, &Procedure,
                                         reinterpret_cast<LPARAM>(this)));
        SetWindowPos(dialog_.get(), nullptr, 40, 40, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWithoutActivating(dialog_.get());
    }
    ~ColorDialog() {
        dialog_.reset();
        PumpPending();
    }

    HWND get() const { return dialog_.get(); }
    HWND Item(int id) const { return GetDlgItem(dialog_.get(), id); }
    COMBOBOXINFO Combo(int id) const {
        COMBOBOXINFO info{};
        info.cbSize = sizeof(info);
        GetComboBoxInfo(Item(id), &info);
        return info;
    }
    bool Asked(UINT message, HWND control) const {
        for (const auto& [m, w] : asked_) {
            if (m == message && w == control) {
                return true;
            }
        }
        return false;
    }
    void ClearAsked() { asked_.clear(); }

    ControlColorMap map;

  private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            return FALSE;  // no focus: focusing a control would activate the dialog
        }
        auto* self = reinterpret_cast<ColorDialog*>(GetWindowLongPtrW(window, DWLP_USER));
        if (self == nullptr) {
            return FALSE;
        }
        if (ColorMessageBit(message) != 0) {
            self->asked_.emplace_back(message, reinterpret_cast<HWND>(lParam));
        }
        ColorAnswer answer = self->map.HandleMessage(message, wParam, lParam);
        if (answer.handled) {
            return reinterpret_cast<INT_PTR>(answer.brush);
        }
        return FALSE;
    }

    UniqueWindow dialog_;
    std::vector<std::pair<UINT, HWND>> asked_;
};

COLORREF BrushColor(HBRUSH brush) {
    LOGBRUSH description{};
    if (brush == nullptr || GetObjectW(brush, sizeof(description), &description) == 0) {
        return kNoColor;
    }
    return description.lbColor;
}

// A device context of its own for answers that are checked without painting.
struct MemoryDc {
    MemoryDc() : dc(CreateCompatibleDC(nullptr)) {}
    UniqueMemoryDc dc;
    HDC get() const { return dc.get(); }
};

ColorAnswer Ask(const ControlColorMap& map, UINT message, HDC dc, HWND control) {
    return map.HandleMessage(message, reinterpret_cast<WPARAM>(dc),
                             reinterpret_cast<LPARAM>(control));
}

TEST(ControlColorMap, GroupWhoseNameSortsFirstAnswers) {
    // Names compare by UTF-16 code units: upper case before lower case, ASCII before the rest.
    struct Case {
        const wchar_t* first;
        const wchar_t* second;
        const wchar_t* winner;
    };
    const Case cases[] = {
        {L"b", L"a", L"a"},  {L"list1", L"default", L"default"},
        {L"a", L"Z", L"Z"},  {L"z", L"\u00e9", L"z"},
        {L"ab", L"a", L"a"}, {L"\u00e9", L"\u4e00", L"\u00e9"},
    };
    ColorDialog dialog;
    const int ids[] = {IDC_LABEL};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "groups " << c.first << " and " << c.second);
        ControlColorMap map;
        ASSERT_EQ(map.AddGroup(dialog.get(), c.first, ids, 1, kBlack, kBlue, UniqueFont()), 0u);
        ASSERT_EQ(map.AddGroup(dialog.get(), c.second, ids, 1, kGrey, kPeach, UniqueFont()), 0u);
        MemoryDc dc;
        ColorAnswer answer = Ask(map, WM_CTLCOLORSTATIC, dc.get(), dialog.Item(IDC_LABEL));
        ASSERT_TRUE(answer.handled);
        const bool firstWins = wcscmp(c.winner, c.first) == 0;
        EXPECT_EQ(BrushColor(answer.brush), firstWins ? kBlue : kPeach);
        EXPECT_EQ(GetTextColor(dc.get()), firstWins ? kBlack : kGrey);
        EXPECT_EQ(GetBkColor(dc.get()), firstWins ? kBlue : kPeach);
    }
}

TEST(ControlColorMap, DefaultFallbackAnswersWindowsOfNoGroup) {
    struct Case {
        bool fallback;
        bool defaultGroup;
        COLORREF brush;  // kNoColor: handled with no brush
    };
    const Case cases[] = {
        {false, true, kNoColor},
        {true, true, kPeach},
        {true, false, kNoColor},
        {false, false, kNoColor},
    };
    ColorDialog dialog;
    const int grouped[] = {IDC_LABEL};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "fallback " << c.fallback << ", default group " << c.defaultGroup);
        ControlColorMap map;
        EXPECT_FALSE(map.DefaultFallback());
        ASSERT_EQ(map.AddGroup(dialog.get(), L"list1", grouped, 1, kBlack, kBlue, UniqueFont()),
                  0u);
        if (c.defaultGroup) {
            ASSERT_EQ(
                map.AddGroup(dialog.get(), L"default", nullptr, 0, kBlack, kPeach, UniqueFont()),
                0u);
        }
        map.SetDefaultFallback(c.fallback);
        MemoryDc dc;
        SetBkColor(dc.get(), RGB(1, 2, 3));
        ColorAnswer other = Ask(map, WM_CTLCOLORSTATIC, dc.get(), dialog.Item(IDC_OTHER_LABEL));
        EXPECT_TRUE(other.handled);
        EXPECT_EQ(BrushColor(other.brush), c.brush);
        EXPECT_EQ(GetBkColor(dc.get()), c.brush == kNoColor ? RGB(1, 2, 3) : c.brush);
        // The dialog's own colour message falls back the same way.
        ColorAnswer self = Ask(map, WM_CTLCOLORDLG, dc.get(), dialog.get());
        EXPECT_EQ(BrushColor(self.brush), c.brush);
        // A grouped window keeps its group whatever the fallback.
        EXPECT_EQ(BrushColor(Ask(map, WM_CTLCOLORSTATIC, dc.get(), dialog.Item(IDC_LABEL)).brush),
                  kBlue);
    }
}

TEST(ControlColorMap, MessagesOutsideTheAnsweredSetAreNotHandled) {
    const std::pair<UINT, unsigned> messages[] = {
        {WM_CTLCOLORDLG, kColorDialog},      {WM_CTLCOLORSTATIC, kColorStatic},
        {WM_CTLCOLOREDIT, kColorEdit},       {WM_CTLCOLORBTN, kColorButton},
        {WM_CTLCOLORLISTBOX, kColorListBox}, {WM_CTLCOLORSCROLLBAR, kColorScrollBar},
    };
    ColorDialog dialog;
    HWND label = dialog.Item(IDC_LABEL);
    const int ids[] = {IDC_LABEL};
    ControlColorMap map;
    EXPECT_EQ(map.AnsweredMessages(), static_cast<unsigned>(kAllColorMessages));
    ASSERT_EQ(map.AddGroup(dialog.get(), L"list1", ids, 1, kBlack, kBlue, UniqueFont()), 0u);
    MemoryDc dc;
    for (const auto& [removed, bit] : messages) {
        SCOPED_TRACE(testing::Message() << "without message 0x" << std::hex << removed);
        map.SetAnsweredMessages(kAllColorMessages & ~bit);
        for (const auto& [message, unused] : messages) {
            ColorAnswer answer = Ask(map, message, dc.get(), label);
            EXPECT_EQ(answer.handled, message != removed);
            EXPECT_EQ(answer.brush != nullptr, message != removed);
        }
    }
    map.SetAnsweredMessages(kAllColorMessages);
    EXPECT_FALSE(Ask(map, WM_PAINT, dc.get(), label).handled);
    EXPECT_FALSE(Ask(map, WM_CTLCOLORMSGBOX, dc.get(), label).handled);
}

TEST(ControlColorMap, AnswerSelectsTheFontAndSetsOnlyRealColours) {
    struct Case {
        COLORREF text;
        COLORREF background;
        bool font;
    };
    const Case cases[] = {
        {kGrey, kBlue, true},
        {kNoColor, kBlue, false},
        {kGrey, kNoColor, true},
        {kNoColor, kNoColor, false},
    };
    ColorDialog dialog;
    const int ids[] = {IDC_LABEL};
    const COLORREF before = RGB(7, 8, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "text " << std::hex << c.text << ", background "
                                        << c.background << ", font " << c.font);
        ControlColorMap map;
        UniqueFont font = c.font ? CrispFont(15, FW_BOLD) : UniqueFont();
        const HFONT raw = font.get();
        ASSERT_EQ(
            map.AddGroup(dialog.get(), L"list1", ids, 1, c.text, c.background, std::move(font)),
            0u);
        MemoryDc dc;
        const HGDIOBJ originalFont = GetCurrentObject(dc.get(), OBJ_FONT);
        SetTextColor(dc.get(), before);
        SetBkColor(dc.get(), before);
        ColorAnswer answer = Ask(map, WM_CTLCOLORSTATIC, dc.get(), dialog.Item(IDC_LABEL));
        EXPECT_TRUE(answer.handled);
        EXPECT_EQ(GetTextColor(dc.get()), c.text == kNoColor ? before : c.text);
        EXPECT_EQ(GetBkColor(dc.get()), c.background == kNoColor ? before : c.background);
        EXPECT_EQ(BrushColor(answer.brush), c.background);
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), c.font ? raw : originalFont);
        SelectObject(dc.get(), originalFont);  // the group's font goes with the map
    }
}

TEST(ControlColorMap, GroupOwnsItsBrushAndFontAndRefusalsLoseNothing) {
    ColorDialog dialog;
    const int ids[] = {IDC_LABEL};
    HBRUSH brush = nullptr;
    HFONT font = nullptr;
    {
        ControlColorMap map;
        UniqueFont owned = CrispFont(12);
        font = owned.get();
        ASSERT_EQ(map.AddGroup(dialog.get(), L"list1", ids, 1, kBlack, kBlue, std::move(owned)),
                  0u);
        EXPECT_FALSE(owned);

        // A second group of the same name and bad arguments add nothing; the caller keeps
        // its font.
        UniqueFont spare = CrispFont(12);
        EXPECT_EQ(map.AddGroup(dialog.get(), L"list1", ids, 1, kBlack, kPeach, std::move(spare)),
                  static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(map.AddGroup(dialog.get(), nullptr, ids, 1, kBlack, kPeach, std::move(spare)),
                  static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(map.AddGroup(dialog.get(), L"x", nullptr, 2, kBlack, kPeach, std::move(spare)),
                  static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        ASSERT_TRUE(spare);
        EXPECT_EQ(GetObjectType(spare.get()), static_cast<DWORD>(OBJ_FONT));

        MemoryDc dc;
        brush = Ask(map, WM_CTLCOLORSTATIC, dc.get(), dialog.Item(IDC_LABEL)).brush;
        EXPECT_EQ(BrushColor(brush), kBlue);  // the first group stays as it was
        EXPECT_EQ(GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));
        EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
    }
    EXPECT_EQ(GetObjectType(brush), 0u);
    EXPECT_EQ(GetObjectType(font), 0u);
}

TEST(ControlColorMap, ComboBoxBringsItsEditFieldAndList) {
    ColorDialog dialog;
    const COMBOBOXINFO editCombo = dialog.Combo(IDC_EDIT_COMBO);
    const COMBOBOXINFO listCombo = dialog.Combo(IDC_LIST_COMBO);
    ASSERT_NE(editCombo.hwndItem, nullptr);
    ASSERT_NE(editCombo.hwndList, nullptr);
    ASSERT_NE(listCombo.hwndList, nullptr);
    const int ids[] = {IDC_EDIT_COMBO, IDC_LIST_COMBO};
    ControlColorMap& map = dialog.map;
    ASSERT_EQ(map.AddGroup(dialog.get(), L"list1", ids, 2, kBlack, kBlue, UniqueFont()), 0u);
    MemoryDc dc;
    for (HWND part : {dialog.Item(IDC_EDIT_COMBO), editCombo.hwndItem, editCombo.hwndList,
                      dialog.Item(IDC_LIST_COMBO), listCombo.hwndList}) {
        EXPECT_EQ(BrushColor(Ask(map, WM_CTLCOLOREDIT, dc.get(), part).brush), kBlue);
    }

    // The real controls ask through the combo box with their own window, and paint with the
    // group's brush: the edit field at once, the list when it drops down.
    dialog.ClearAsked();
    PaintNow(dialog.get());
    EXPECT_TRUE(dialog.Asked(WM_CTLCOLOREDIT, editCombo.hwndItem));
    const Pixels edit = Capture(editCombo.hwndItem);
    ASSERT_GT(edit.width, 4);
    EXPECT_EQ(edit.At(edit.width - 2, edit.height / 2), kBlue);

    SendMessageW(dialog.Item(IDC_EDIT_COMBO), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"first"));
    SendMessageW(dialog.Item(IDC_EDIT_COMBO), CB_SHOWDROPDOWN, TRUE, 0);
    PaintNow(editCombo.hwndList);
    EXPECT_TRUE(dialog.Asked(WM_CTLCOLORLISTBOX, editCombo.hwndList));
    const Pixels list = Capture(editCombo.hwndList);
    ASSERT_GT(list.height, 4);
    EXPECT_EQ(list.At(list.width / 2, list.height - 3), kBlue);
    SendMessageW(dialog.Item(IDC_EDIT_COMBO), CB_SHOWDROPDOWN, FALSE, 0);
}

TEST(ControlColorMap, ControlsPaintAsThePropertiesDialogColoursThem) {
    // The properties dialog: "default" answers every window, "list1" the section titles with
    // a bold font, and edit fields and lists keep the system's colours.
    ColorDialog dialog;
    ControlColorMap& map = dialog.map;
    ASSERT_EQ(map.AddGroup(dialog.get(), L"default", nullptr, 0, kBlack, kBlue, UniqueFont()), 0u);
    const int titles[] = {IDC_LABEL};
    ASSERT_EQ(map.AddGroup(dialog.get(), L"list1", titles, 1, kGrey, kPeach, UniqueFont()), 0u);
    map.SetDefaultFallback(true);
    map.SetAnsweredMessages(kColorDialog | kColorStatic | kColorButton | kColorScrollBar);
    PaintNow(dialog.get());

    const Pixels label = Capture(dialog.Item(IDC_LABEL));
    EXPECT_EQ(label.At(label.width - 1, label.height - 1), kPeach);
    EXPECT_GT(label.Count(kGrey), 0);  // the text in the group's colour
    const Pixels other = Capture(dialog.Item(IDC_OTHER_LABEL));
    EXPECT_EQ(other.At(other.width - 1, other.height - 1), kBlue);
    const Pixels self = Capture(dialog.get());
    EXPECT_EQ(self.At(self.width - 3, self.height - 3), kBlue);
    const Pixels edit = Capture(dialog.Item(IDC_EDIT));
    EXPECT_EQ(edit.At(edit.width - 2, edit.height / 2), GetSysColor(COLOR_WINDOW));
}

}  // namespace
}  // namespace tvn::test
