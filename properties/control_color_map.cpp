#include "control_color_map.h"

#include <algorithm>
#include <utility>

namespace tvn {

unsigned ColorMessageBit(UINT message) noexcept {
    switch (message) {
        case WM_CTLCOLORDLG:
            return kColorDialog;
        case WM_CTLCOLORSTATIC:
            return kColorStatic;
        case WM_CTLCOLOREDIT:
            return kColorEdit;
        case WM_CTLCOLORBTN:
            return kColorButton;
        case WM_CTLCOLORLISTBOX:
            return kColorListBox;
        case WM_CTLCOLORSCROLLBAR:
            return kColorScrollBar;
        default:
            return 0;
    }
}

bool ControlColorMap::CodeUnitLess::operator()(std::wstring_view a,
                                               std::wstring_view b) const noexcept {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](wchar_t x, wchar_t y) { return static_cast<char16_t>(x) < static_cast<char16_t>(y); });
}

DWORD ControlColorMap::AddGroup(HWND dialog, const wchar_t* name, const int* controlIds,
                                size_t count, COLORREF text, COLORREF background,
                                UniqueFont&& font) noexcept {
    if (name == nullptr || (controlIds == nullptr && count != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        if (groups_.find(std::wstring_view(name)) != groups_.end()) {
            return ERROR_ALREADY_EXISTS;
        }
        Group group;
        group.text = text;
        group.background = background;
        if (background != kNoColor) {
            group.brush.reset(CreateSolidBrush(background));
            if (!group.brush) {
                return ERROR_OUTOFMEMORY;
            }
        }
        group.windows.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            HWND control = GetDlgItem(dialog, controlIds[i]);
            if (control == nullptr) {
                continue;
            }
            group.windows.push_back(control);
            // The edit field and the list of a combo box send their own colour messages
            // (through the combo box, with their own window as lParam).
            COMBOBOXINFO info{};
            info.cbSize = sizeof(info);
            if (GetComboBoxInfo(control, &info)) {
                for (HWND part : {info.hwndItem, info.hwndList}) {
                    if (part != nullptr && part != control) {
                        group.windows.push_back(part);
                    }
                }
            }
        }
        // The last step that can fail; the font moves only once the group is stored.
        auto stored = groups_.emplace(std::wstring(name), std::move(group)).first;
        stored->second.font = std::move(font);
        return ERROR_SUCCESS;
    } catch (...) {  // std::bad_alloc from the name, the window list or the table
        return ERROR_OUTOFMEMORY;
    }
}

ColorAnswer ControlColorMap::Answer(const Group& group, HDC dc) noexcept {
    if (group.font) {
        SelectObject(dc, group.font.get());
    }
    if (group.text != kNoColor) {
        SetTextColor(dc, group.text);
    }
    if (group.background != kNoColor) {
        SetBkColor(dc, group.background);
    }
    return ColorAnswer{true, group.brush.get()};
}

ColorAnswer ControlColorMap::HandleMessage(UINT message, WPARAM wParam,
                                           LPARAM lParam) const noexcept {
    if ((ColorMessageBit(message) & answered_) == 0) {
        return ColorAnswer{};
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    HWND window = reinterpret_cast<HWND>(lParam);
    for (const auto& [name, group] : groups_) {
        if (std::find(group.windows.begin(), group.windows.end(), window) != group.windows.end()) {
            return Answer(group, dc);
        }
    }
    if (fallback_) {
        auto fallback = groups_.find(std::wstring_view(kDefaultGroup));
        if (fallback != groups_.end()) {
            return Answer(fallback->second, dc);
        }
    }
    return ColorAnswer{true, nullptr};
}

}  // namespace tvn
