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

// One axis of a stored window rectangle: a start before `first` moves the span to begin there,
// a start past `last` moves it to end there; its length stays.
void KeepSpanOnScreen(LONG& start, LONG& end, LONG first, LONG last) {
    const LONG length = end - start;
    if (start < first) {
        start = first;
        end = first + length;
    }
    if (start > last) {
        end = last;
        start = last - length;
    }
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

Store::WindowSubPos KeepOnScreen(const Store::WindowSubPos& stored, const VirtualScreen& screen) {
    Store::WindowSubPos placed = stored;
    if (stored.form == Store::WindowSubPos::Form::Placement) {
        RECT& r = placed.placement.rcNormalPosition;
        KeepSpanOnScreen(r.left, r.right, screen.left, screen.right);
        KeepSpanOnScreen(r.top, r.bottom, screen.top, screen.bottom);
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
    Store::WindowSubPos placed = KeepOnScreen(stored, CurrentVirtualScreen());
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
