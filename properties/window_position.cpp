#include "window_position.h"

namespace tvn {

namespace Store = SettingsStore;

VirtualScreen CurrentVirtualScreen() {
    VirtualScreen screen{};
    screen.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    screen.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    screen.right = screen.left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
    screen.bottom = screen.top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
    return screen;
}

namespace {

// One axis of a stored window rectangle: its start, with the window's own `length` (the
// dialog has a fixed size). A start before `first` moves the span to begin there, one past
// `last` to end there.
LONG KeepSpanOnScreen(LONG start, LONG length, LONG first, LONG last) {
    if (start < first) {
        start = first;
    }
    if (start > last) {
        start = last - length;
    }
    return start;
}

// One axis of a stored top-left corner: before `first` it goes to `first`, past `last` to
// half of `last`.
void KeepCornerOnScreen(LONG& start, LONG first, LONG last) {
    if (start < first) {
        start = first;
    }
    if (start > last) {
        start = last / 2;
    }
}

}  // namespace

Store::WindowSubPos KeepOnScreen(const Store::WindowSubPos& stored, const VirtualScreen& screen,
                                 SIZE window) {
    Store::WindowSubPos placed = stored;
    if (stored.form == Store::WindowSubPos::Form::Placement) {
        // Only the stored corner counts: the rectangle's own size may be anything, up to
        // sizes whose width does not even fit 32 bits.
        RECT& r = placed.placement.rcNormalPosition;
        r.left = KeepSpanOnScreen(r.left, window.cx, screen.left, screen.right);
        r.top = KeepSpanOnScreen(r.top, window.cy, screen.top, screen.bottom);
        r.right = r.left + window.cx;
        r.bottom = r.top + window.cy;
        // The dialog cannot be maximized: a stored maximized state shows it normally.
        if (placed.placement.showCmd == SW_SHOWMAXIMIZED) {
            placed.placement.showCmd = SW_SHOWNORMAL;
        }
        placed.placement.flags = 0;
    } else {
        KeepCornerOnScreen(placed.left, screen.left, screen.right);
        KeepCornerOnScreen(placed.top, screen.top, screen.bottom);
    }
    return placed;
}

LSTATUS SaveWindowPosition(HWND window) {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(window, &placement)) {
        return static_cast<LSTATUS>(GetLastError() != 0 ? GetLastError()
                                                        : ERROR_INVALID_WINDOW_HANDLE);
    }
    UniqueHKey key = Store::CreateForWrite();
    if (!key) {
        return ERROR_INVALID_DATA;
    }
    return Store::WriteWindowSubPos(key.get(), placement.rcNormalPosition.left,
                                    placement.rcNormalPosition.top, placement.showCmd);
}

LSTATUS RestoreWindowPosition(HWND window) {
    UniqueHKey key = Store::OpenForRead();
    if (!key) {
        return ERROR_INVALID_DATA;
    }
    Store::WindowSubPos stored;
    LSTATUS status = Store::ReadWindowSubPos(key.get(), stored);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    WINDOWPLACEMENT now{};
    now.length = sizeof(now);
    if (!GetWindowPlacement(window, &now)) {
        return static_cast<LSTATUS>(GetLastError() != 0 ? GetLastError()
                                                        : ERROR_INVALID_WINDOW_HANDLE);
    }
    const SIZE size{now.rcNormalPosition.right - now.rcNormalPosition.left,
                    now.rcNormalPosition.bottom - now.rcNormalPosition.top};
    Store::WindowSubPos placed = KeepOnScreen(stored, CurrentVirtualScreen(), size);
    if (placed.form == Store::WindowSubPos::Form::Placement) {
        placed.placement.length = sizeof(placed.placement);
        SetWindowPlacement(window, &placed.placement);
        return ERROR_SUCCESS;
    }
    SetWindowPos(window, nullptr, placed.left, placed.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, static_cast<int>(placed.showCmd));
    return ERROR_SUCCESS;
}

}  // namespace tvn
