// Answers a dialog's control-colour messages (WM_CTLCOLORDLG, ...STATIC, ...EDIT, ...BTN,
// ...LISTBOX, ...SCROLLBAR) from named colour groups. One map per dialog, owned by the dialog
// object; everything runs on the dialog's thread.
//
// Use from a dialog procedure, for every message the dialog does not handle itself:
//
//     ColorAnswer answer = colorMap.HandleMessage(message, wParam, lParam);
//     if (answer.handled) {
//         return reinterpret_cast<INT_PTR>(answer.brush);  // null: the system's colours
//     }
//
// (the control-colour messages return their brush as the dialog procedure's result, not
// through DWLP_MSGRESULT).
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "unique_handle.h"

namespace tvn {

// "No colour": the group leaves that colour of the device context unchanged.
inline constexpr COLORREF kNoColor = 0xFFFFFFFF;

// The colour messages a map can answer, as bits of its answered set.
enum ColorMessageBits : unsigned {
    kColorDialog = 1u << 0,     // WM_CTLCOLORDLG
    kColorStatic = 1u << 1,     // WM_CTLCOLORSTATIC (statics, check boxes, read-only edits)
    kColorEdit = 1u << 2,       // WM_CTLCOLOREDIT
    kColorButton = 1u << 3,     // WM_CTLCOLORBTN
    kColorListBox = 1u << 4,    // WM_CTLCOLORLISTBOX
    kColorScrollBar = 1u << 5,  // WM_CTLCOLORSCROLLBAR
    kAllColorMessages = 0x3Fu,
};

// The bit of a colour message, 0 for any other message.
unsigned ColorMessageBit(UINT message) noexcept;

struct ColorAnswer {
    bool handled = false;
    HBRUSH brush = nullptr;  // owned by the map; valid while the map lives
};

class ControlColorMap {
  public:
    // The name of the group that answers for windows of no group when the fallback is on.
    static constexpr const wchar_t* kDefaultGroup = L"default";

    ControlColorMap() noexcept = default;
    ControlColorMap(const ControlColorMap&) = delete;
    ControlColorMap& operator=(const ControlColorMap&) = delete;

    // Adds the group `name` answering for the children of `dialog` with the `count` ids of
    // `controlIds` (a combo box brings its edit field and its drop-down list along, in that
    // order; an id with no child window adds nothing). The group gets a solid brush of
    // `background` (none when it is kNoColor) and, on success, takes over `font` (may be
    // empty). Returns 0; ERROR_OUTOFMEMORY when memory or the brush cannot be had;
    // ERROR_ALREADY_EXISTS when a group of that name exists; ERROR_INVALID_PARAMETER for a
    // null name or ids missing with a count. On failure nothing is added and `font` stays
    // with the caller.
    DWORD AddGroup(HWND dialog, const wchar_t* name, const int* controlIds, size_t count,
                   COLORREF text, COLORREF background, UniqueFont&& font) noexcept;

    // Answers a colour message: wParam is the control's device context, lParam the control
    // (for WM_CTLCOLORDLG the dialog itself). A message outside the answered set is not
    // handled. Otherwise the first group in name order that lists the window answers; when
    // none does, the message is handled with no brush, or, with the fallback on, answered by
    // the group "default" (handled with no brush if there is none). Answering selects the
    // group's font into the device context, sets its text and background colours (each
    // unless kNoColor) and returns its brush.
    ColorAnswer HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) const noexcept;

    // The set of answered messages, ColorMessageBits; all six after construction.
    void SetAnsweredMessages(unsigned bits) noexcept { answered_ = bits & kAllColorMessages; }
    unsigned AnsweredMessages() const noexcept { return answered_; }

    // Whether windows of no group are answered by the group "default"; off after
    // construction.
    void SetDefaultFallback(bool on) noexcept { fallback_ = on; }
    bool DefaultFallback() const noexcept { return fallback_; }

  private:
    struct Group {
        std::vector<HWND> windows;
        COLORREF text = kNoColor;
        COLORREF background = kNoColor;
        UniqueBrush brush;
        UniqueFont font;
    };
    // Orders names by their UTF-16 code units, whatever the signedness of wchar_t;
    // transparent, so that a lookup by a literal name allocates nothing.
    struct CodeUnitLess {
        using is_transparent = void;
        bool operator()(std::wstring_view a, std::wstring_view b) const noexcept;
    };

    static ColorAnswer Answer(const Group& group, HDC dc) noexcept;

    unsigned answered_ = kAllColorMessages;
    bool fallback_ = false;
    std::map<std::wstring, Group, CodeUnitLess> groups_;
};

}  // namespace tvn
