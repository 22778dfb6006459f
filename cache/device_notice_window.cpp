#include "device_notice_window.h"

#include <dbt.h>

#include <cstddef>

namespace tvn {

namespace {

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

DeviceNoticeWindow::DeviceNoticeWindow(Handler handler, void* context)
    : handler_(handler), context_(context) {
    // The class stays registered for the process: a window of it may still be open on a
    // thread that has not handled its close yet.
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);  // fails harmlessly when registered already
    window_ = CreateWindowExW(0, kClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

DeviceNoticeWindow::~DeviceNoticeWindow() {
    if (!window_) {
        return;
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(window_);
    } else {
        PostMessageW(window_, WM_CLOSE, 0, 0);
    }
}

LRESULT CALLBACK DeviceNoticeWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    if (message != WM_DEVICECHANGE) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* self = reinterpret_cast<DeviceNoticeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    const bool handleEvent = wParam == DBT_DEVICEQUERYREMOVE ||
                             wParam == DBT_DEVICEQUERYREMOVEFAILED ||
                             wParam == DBT_DEVICEREMOVECOMPLETE;
    if (self && handleEvent && header && header->dbch_devicetype == DBT_DEVTYP_HANDLE &&
        header->dbch_size >= offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid)) {
        const auto* event = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header);
        self->handler_(self->context_, UINT(wParam), event->dbch_handle, event->dbch_hdevnotify);
    }
    return TRUE;  // a removal is never refused
}

}  // namespace tvn
