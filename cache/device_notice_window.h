// A message-only window to which Windows sends the device events of the handles registered
// for it (WM_DEVICECHANGE with a DEV_BROADCAST_HANDLE). It lives on the thread that makes it;
// in the server that is the main thread, whose message loop delivers the events.
#pragma once

#include <windows.h>

namespace tvn {

class DeviceNoticeWindow {
  public:
    // Called on the window's thread for DBT_DEVICEQUERYREMOVE, DBT_DEVICEQUERYREMOVEFAILED and
    // DBT_DEVICEREMOVECOMPLETE of a handle: the event, the handle and the registration.
    using Handler = void (*)(void* context, UINT event, HANDLE handle, HDEVNOTIFY notice);

    // The class name, for finding the window (FindWindowExW with HWND_MESSAGE).
    static constexpr wchar_t kClassName[] = L"TVNCacheDeviceNotices";

    DeviceNoticeWindow(Handler handler, void* context);
    // The handler is never called again once this returns. Made on another thread, the
    // window is closed through its own thread's message loop.
    ~DeviceNoticeWindow();
    DeviceNoticeWindow(const DeviceNoticeWindow&) = delete;
    DeviceNoticeWindow& operator=(const DeviceNoticeWindow&) = delete;

    // Null when no window could be made.
    HWND Window() const { return window_; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Handler handler_;
    void* context_;
    HWND window_ = nullptr;
};

}  // namespace tvn
