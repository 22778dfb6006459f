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

Store::WindowSubPos KeepOnScreen(const Store::WindowSubPos& stored, const VirtualScreen& screen) {
    Store::WindowSubPos placed = stored;
    if (stored.form == Store::WindowSubPos::Form::Placement) {
        RECT& r = placed.placement.rcNormalPosition;
        const LONG width = r.right - r.left;
        const LONG height = r.bottom - r.top;
        if (r.left < screen.left) {
            r.left = screen.left;
            r.right = screen.left + width;
        }
        if (r.left > screen.right) {
            r.right = screen.right;
            r.left = screen.right - width;
        }
        if (r.top < screen.top) {
            r.top = screen.top;
            r.bottom = screen.top + height;
        }
        if (r.top > screen.bottom) {
            r.bottom = screen.bottom;
            r.top = screen.bottom - height;
        }
        return placed;
    }
    if (placed.left < screen.left) {
        placed.left = screen.left;
    }
    if (placed.left > screen.right) {
        placed.left = screen.right / 2;
    }
    if (placed.top < screen.top) {
        placed.top = screen.top;
    }
    if (placed.top > screen.bottom) {
        placed.top = screen.bottom / 2;
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
