// The band's test bench: TVN Bar.dll installed and registered in the prefix beside a
// stand-in "TVN Properties.exe", a stand-in toolbar host (a top-level window and the site of
// tools/band_site.h), a driver that works the real drop-down menu from a second thread, the
// listener process that counts the config message, and counters of live objects.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "band_site.h"
#include "com_ptr.h"
#include "unique_handle.h"

namespace tvn::test {

inline constexpr wchar_t kBarDir[] = L"C:\\Program Files\\Tolvane Toolbar";
inline constexpr wchar_t kBarDll[] = L"C:\\Program Files\\Tolvane Toolbar\\TVN Bar.dll";
inline constexpr wchar_t kStandInProgram[] =
    L"C:\\Program Files\\Tolvane Toolbar\\TVN Properties.exe";
inline constexpr wchar_t kListenerProgram[] =
    L"C:\\Program Files\\Tolvane Toolbar\\config_listener.exe";
// Where the stand-in properties program writes one line per start.
inline constexpr wchar_t kStandInLogName[] = L"properties-starts.log";
inline constexpr UINT kButton = 512;

// Copies TVN Bar.dll, the stand-in properties program and the listener into kBarDir and
// registers the library there (regsvr32). False when something could not be installed.
bool InstallBand();
// Copies the built library to `path` (for copies outside kBarDir). False on failure.
bool CopyBuiltBand(const std::wstring& path);
// The stand-in properties program copied to `path`.
bool CopyStandIn(const std::wstring& path);

// Lines the stand-in properties program wrote into `folder`'s log: "<working dir>|<args>".
std::vector<std::wstring> StandInStarts(const std::wstring& folder);
void ClearStandInStarts(const std::wstring& folder);
// Polls until `count` starts are logged or `timeoutMs` passed; the lines seen.
std::vector<std::wstring> WaitForStandInStarts(const std::wstring& folder, size_t count,
                                               DWORD timeoutMs);

// A top-level window standing in for the toolbar host. Hidden unless asked: destroying a
// shown window costs Wine seconds.
class HostWindow {
  public:
    explicit HostWindow(bool visible = false, RECT place = {0, 0, 400, 120},
                        const wchar_t* title = L"band host");
    HWND get() const { return window_.get(); }

  private:
    UniqueWindow window_;
};

// One band object created through COM, with helpers for its interfaces.
struct Band {
    ComPtr<IUnknown> object;
    HRESULT created = E_FAIL;

    Band();
    template <typename Interface>
    ComPtr<Interface> As(REFIID iid) const {
        ComPtr<Interface> out;
        if (object) {
            object->QueryInterface(iid, out.put_void());
        }
        return out;
    }
    HRESULT SetSite(IUnknown* site) const;
    HWND Window() const;   // IOleWindow::GetWindow through IDeskBand (null when none)
    HWND Toolbar() const;  // the band window's first child
};

// Works the band's drop-down menu from a second thread while the band's thread runs it:
// waits for the menu window of `menuThread`, records what the menu shows, then plays its
// steps as keyboard messages, waiting after each until the menu has followed. A step that
// cannot be completed before the deadline ends the menu with Escape and marks the run failed.
class MenuDriver {
  public:
    struct Step {
        // Hilite moves the selection with the arrow keys to `position` of the current (sub)menu,
        // Down moves it once; ExpectHilited fails unless `position` is selected; Char types
        // `position`.
        enum class Kind {
            Hilite,
            Down,
            ExpectHilited,
            Enter,
            Right,
            Escape,
            CancelMode,
            Char
        } kind;
        int position = 0;
    };
    // Steps that choose the item at `path` (positions: in the shown menu, then in submenus).
    static std::vector<Step> Choose(std::vector<int> path);
    static std::vector<Step> Dismiss() { return {{Step::Kind::Escape}}; }

    struct Seen {
        bool shown = false;
        bool completed = false;  // every step was followed and the menu closed
        std::string failure;
        std::vector<UINT> checked;  // ids of the checked items, submenus included
        std::vector<UINT> grayed;
        RECT menuRect{};             // the shown menu's window
        bool buttonPressed = false;  // the settings button's state while the menu was open
    };

    MenuDriver(DWORD menuThread, HWND toolbar, std::vector<Step> steps, DWORD timeoutMs = 15000);
    ~MenuDriver();
    MenuDriver(const MenuDriver&) = delete;
    MenuDriver& operator=(const MenuDriver&) = delete;

    // Stops waiting for a menu that has not come and returns what was seen.
    Seen Finish();

  private:
    void Run();
    DWORD menuThread_;
    HWND toolbar_;
    std::vector<Step> steps_;
    DWORD timeoutMs_;
    std::atomic<bool> stop_{false};
    Seen seen_;
    std::thread thread_;
};

// Presses the settings button as the toolbar does (WM_COMMAND 0x200 to the band window) with
// `steps` played on the menu; returns what the driver saw.
MenuDriver::Seen PressButton(HWND bandWindow, HWND toolbar, std::vector<MenuDriver::Step> steps);

// The config-message listener: a hidden top-level window in a process of its own that counts
// the registered config message. A `hung` one never answers (for 60 s, then it ends).
class ConfigListener {
  public:
    explicit ConfigListener(bool hung = false);
    ~ConfigListener();
    ConfigListener(const ConfigListener&) = delete;
    ConfigListener& operator=(const ConfigListener&) = delete;

    bool Running() const { return window_ != nullptr; }
    int Count() const;  // messages since the last Reset
    WPARAM LastWParam() const;
    LPARAM LastLParam() const;
    void Reset() const;
    bool StillRunning() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

  private:
    bool hung_;
    HWND window_ = nullptr;
    UniqueHandleObj process_;
};

// The settings value as stored: its registry type and bytes; nullopt when missing.
struct StoredValue {
    DWORD type = 0;
    std::vector<uint8_t> bytes;
};
std::optional<StoredValue> ReadStored(const wchar_t* name);

// Live objects of this process, counted one handle value at a time where the system offers
// no count (GetGuiResources is a stub under Wine).
int LiveGdiObjects();
int LiveUserObjects();  // menus and windows of this process
int LiveKernelHandles();

}  // namespace tvn::test
