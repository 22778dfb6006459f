#include "hyperlink.h"

#include <shellapi.h>

#include <cwchar>
#include <new>

#include "gdi_scope.h"
#include "unique_handle.h"

namespace acl {
namespace {

constexpr unsigned kOpenActions = Hyperlink::kOpenNoOwner | Hyperlink::kOpenWithOwner;
constexpr unsigned kAllActions = kOpenActions | Hyperlink::kSendCommand;

// Marks a click in progress so that a link deleted by the owner's WM_COMMAND handler (or
// while ShellExecuteW runs a modal loop) is never touched again. Clicks can nest when the
// owner pumps messages; a deletion seen by the inner one is passed on to the outer one.
class ClickGuard {
  public:
    explicit ClickGuard(bool*& slot) noexcept : slot_(slot), outer_(slot) { slot = &alive_; }
    ~ClickGuard() {
        if (alive_) {
            slot_ = outer_;
        } else if (outer_ != nullptr) {
            *outer_ = false;
        }
    }
    ClickGuard(const ClickGuard&) = delete;
    ClickGuard& operator=(const ClickGuard&) = delete;

    bool alive() const noexcept { return alive_; }

  private:
    bool alive_ = true;
    bool*& slot_;  // the link's member: not touched once the link is gone
    bool* outer_;
};

}  // namespace

HyperlinkStyle::HyperlinkStyle() noexcept : background(GetSysColor(COLOR_BTNFACE)) {}

HyperlinkStyle::~HyperlinkStyle() {
    if (ownsFont) {
        tvn::UniqueFont owned(font);
    }
}

Hyperlink::~Hyperlink() {
    if (alive_ != nullptr) {
        *alive_ = false;
    }
    Hyperlink::Detach();
}

const HyperlinkStyle& Hyperlink::Style() const noexcept {
    static const HyperlinkStyle kDefaults;
    return style_ != nullptr ? *style_ : kDefaults;
}

DWORD Hyperlink::Create(unsigned actions, HWND control, HWND owner, const wchar_t* target,
                        UINT commandId, const HyperlinkStyle* style) noexcept {
    Detach();
    if (DWORD error = Attach(control, SS_NOTIFY)) {
        return error;
    }
    actions_ = actions & kAllActions;
    owner_ = owner;
    style_ = style;
    target_.reset();
    commandId_ = 0;
    tracking_ = TRACKMOUSEEVENT{sizeof(TRACKMOUSEEVENT), TME_LEAVE, control, HOVER_DEFAULT};
    hot_ = false;
    if ((actions_ & kOpenActions) != 0) {
        if (target == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        const size_t length = wcslen(target) + 1;
        target_.reset(new (std::nothrow) wchar_t[length]);
        if (!target_) {
            return ERROR_OUTOFMEMORY;
        }
        wmemcpy(target_.get(), target, length);
    }
    if ((actions_ & kSendCommand) != 0) {
        commandId_ = commandId;
    }
    return actions_ != 0 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

DWORD Hyperlink::Detach() noexcept {
    if (IsAttached()) {
        TRACKMOUSEEVENT cancel = tracking_;
        cancel.dwFlags = TME_CANCEL | TME_LEAVE;
        cancel.hwndTrack = ControlWindow();
        TrackMouseEvent(&cancel);
    }
    hot_ = false;
    return SubclassControlBase::Detach();
}

LRESULT Hyperlink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT: {
            // The previous procedure's answer (TRUE when the text was set) goes back to the
            // caller, so SetWindowTextW on a link reports its real result.
            LRESULT result = CallPreviousProc(window, message, wParam, lParam);
            InvalidateRect(window, nullptr, FALSE);
            return result;
        }
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_SETCURSOR:
            if (HCURSOR cursor = Style().cursor) {
                SetCursor(cursor);
                return TRUE;
            }
            // No cursor of our own: the control's usual one (the parent's choice, else the
            // class cursor), not whatever shape the mouse brought along.
            return CallPreviousProc(window, message, wParam, lParam);
        case WM_ERASEBKGND:
            return 1;  // the paint fills the whole background
        case WM_MOUSEMOVE:
            if (!hot_) {
                TrackMouseEvent(&tracking_);
                hot_ = true;
                InvalidateRect(window, nullptr, TRUE);
            }
            return 0;
        case WM_LBUTTONUP:
            return Click(window);
        case WM_MOUSELEAVE: {
            TRACKMOUSEEVENT cancel = tracking_;
            cancel.dwFlags = TME_CANCEL | TME_LEAVE;
            TrackMouseEvent(&cancel);
            if (hot_) {
                hot_ = false;
                InvalidateRect(window, nullptr, TRUE);
            }
            return 0;
        }
        default:
            return CallPreviousProc(window, message, wParam, lParam);
    }
}

LRESULT Hyperlink::Click(HWND window) noexcept {
    ClickGuard guard(alive_);
    if ((actions_ & kSendCommand) != 0) {
        SendMessageW(owner_, WM_COMMAND, static_cast<WPARAM>(commandId_),
                     reinterpret_cast<LPARAM>(window));
        if (!guard.alive()) {
            return 0;
        }
    }
    // ShellExecuteW's failures are not reported: a link that cannot be opened does nothing.
    if ((actions_ & kOpenNoOwner) != 0 && target_) {
        ShellExecuteW(nullptr, L"open", target_.get(), nullptr, nullptr, SW_SHOW);
        if (!guard.alive()) {
            return 0;
        }
    }
    if ((actions_ & kOpenWithOwner) != 0 && target_) {
        ShellExecuteW(owner_, L"open", target_.get(), nullptr, nullptr, SW_SHOW);
    }
    return 0;
}

void Hyperlink::Paint(HWND window) noexcept {
    const HyperlinkStyle& style = Style();
    const int length = GetWindowTextLengthW(window);
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[length + 1]);
    const int shown = text ? GetWindowTextW(window, text.get(), length + 1) : 0;
    HFONT font = style.font != nullptr
                     ? style.font
                     : reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));

    tvn::PaintScope paint(window);
    if (!paint) {
        return;
    }
    HDC dc = paint.get();
    tvn::UniqueFont underlined;
    if (hot_ && style.underlineWhenHot) {
        // A control without a font of its own draws with the device context's font.
        HGDIOBJ base =
            font != nullptr ? static_cast<HGDIOBJ>(font) : GetCurrentObject(dc, OBJ_FONT);
        LOGFONTW description{};
        if (GetObjectW(base, sizeof(description), &description) > 0) {
            description.lfUnderline = TRUE;
            underlined.reset(CreateFontIndirectW(&description));
        }
    }
    RECT client{};
    GetClientRect(window, &client);
    tvn::UniqueBrush brush(CreateSolidBrush(style.background));
    if (brush) {
        FillRect(dc, &client, brush.get());
    }
    SetTextColor(dc, hot_ ? style.hotColor : style.normalColor);
    SetBkMode(dc, TRANSPARENT);
    tvn::SelectedObject selected(dc, underlined ? underlined.get() : font);
    if (shown > 0) {
        TextOutW(dc, 1, 0, text.get(), shown);
    }
}

}  // namespace acl
