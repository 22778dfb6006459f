// The properties dialog: the one window of TVN Properties.exe. A modeless, fixed-size
// top-level dialog that shows every setting, stores them on OK and closes on OK or Cancel;
// Reset cache and the Menu button (help, about box) act at once.
#pragma once

#include <windows.h>

#include "acl_menu.h"
#include "control_color_map.h"
#include "message_loop.h"
#include "settings_store.h"

namespace tvn {

// The dialog's title: a second start finds the running program by it.
inline constexpr const wchar_t* kPropertiesWindowTitle = L"Tolvane\u2122 x64 edition";

// The questions, as the message boxes show them.
inline constexpr const wchar_t* kDisableCacheQuestion =
    L"Disabling cache will reduce the application\u2019s performance.\n"
    L"Are you certain you want to disable cache?";
inline constexpr const wchar_t* kResetCacheQuestion =
    L"Resetting cache will temporarily reduce the application\u2019s performance.\n"
    L"Please only follow this procedure if you are sure the program displays an incorrect "
    L"folder size.\nContinue?";

// What follows the program's folder in the paths beside it.
inline constexpr const wchar_t* kHelpFileTail = L"\\Tolvane.chm";
inline constexpr const wchar_t* kHelpTopicTail = L"\\Tolvane.chm::/tvn-cfgdlg.html";
inline constexpr const wchar_t* kCacheServerTail = L"\\TVN Cache.exe";

class PropertiesDialog : public MessageFilter, public IdleHandler {
  public:
    // Registers the settings-changed message.
    explicit PropertiesDialog(HINSTANCE instance) noexcept;
    // Destroys the window if it is still there; the colour map and the menu free their own.
    ~PropertiesDialog();
    PropertiesDialog(const PropertiesDialog&) = delete;
    PropertiesDialog& operator=(const PropertiesDialog&) = delete;

    // Creates the (hidden) window from dialog 129 with no owner; null on failure.
    HWND Create() noexcept;
    HWND Window() const noexcept { return window_; }

    // Dialog keyboard handling of the message loop.
    bool PreTranslateMessage(MSG& message) override;
    // Nothing to do while the program is idle.
    void OnIdle() override {}

  private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

    void Initialise() noexcept;
    void SetUpMenu() noexcept;
    void FillLists() noexcept;
    void Load() noexcept;
    void Save() noexcept;
    void Close(int code) noexcept;

    void EnableCacheClicked() noexcept;
    void CacheAllClicked() noexcept;
    void KeepOneCharacter(int id) noexcept;
    void ResetCache() noexcept;
    void ShowMenu() noexcept;
    void Help(bool dialogTopic) noexcept;

    int Ask(const wchar_t* question, UINT icon) const noexcept;
    void SetSelection(int id, int64_t index) const noexcept;
    int64_t Selection(int id) const noexcept;
    void SetCheck(int id, int64_t value) const noexcept;
    int64_t Check(int id) const noexcept;
    void Enable(int id, bool on) const noexcept;

    HINSTANCE instance_;
    HWND window_ = nullptr;
    UINT configMessage_;
    ControlColorMap colors_;  // owns the bold font of the section titles
    ACL_Menu menu_;
    bool hooked_ = false;  // filter and idle handler registered with the thread's loop
};

}  // namespace tvn
