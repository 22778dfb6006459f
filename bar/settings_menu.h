// The settings menu of the toolbar button: its set-up on the band window, the check marks of
// the four display settings, the command each item carries out, and the start of the
// properties program. The menu is drawn by ACL_Menu; the band window forwards its owner-draw
// messages and WM_MENUCHAR here.
//
// Threading: everything runs on the thread that owns the band window; Open runs a modal menu
// loop there.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <cstdint>
#include <span>

#include "acl_menu.h"
#include "settings_store.h"

namespace tvn::bar {

// What one item of the menu stores in the settings key: ViewMetric, ViewStyle and
// DecimalDigits as 8-byte integers, Separator as a 2-byte character.
struct MenuCommand {
    UINT id;
    SettingsStore::Value setting;
    int64_t value;
};

// Every item that stores a setting, group by group (size units, view style, digit grouping,
// decimal digits).
std::span<const MenuCommand> MenuCommands();

// The command of item `id`; null for items that store nothing (headings, "&Properties…").
const MenuCommand* FindMenuCommand(UINT id);

// The program the "&Properties…" item starts: `module`'s own folder and "\TVN Properties.exe".
// False when the module path or the program path does not fit MAX_PATH: a cut path would
// name another file, so nothing is started then.
bool PropertiesProgramPath(HMODULE module, wchar_t (&program)[MAX_PATH],
                           wchar_t (&folder)[MAX_PATH]);

// The top-level window a running properties program is found by.
inline constexpr const wchar_t* kPropertiesWindowTitle = L"Tolvane\x2122";
inline constexpr const wchar_t* kPropertiesProgramName = L"TVN Properties.exe";

class SettingsMenu {
  public:
    // The band window's WM_CREATE: 14 x 14 icons, menu 204 with the icon table of menu 205
    // and bitmap 202 (loaded only when no menu is held), the check image 201, the toolbar's
    // colours. Failures leave a menu that cannot be shown or lacks images; none is reported.
    void SetUp(HINSTANCE module, HWND owner) noexcept;

    // The toolbar button was pressed: opens or creates the settings key (nothing else happens
    // when that fails), draws button `buttonId` of `toolbar` pressed, checks the stored
    // choices, drops the menu down below the toolbar, carries out the chosen command and
    // releases the button. A stored value was written: broadcasts `configMessage` to every
    // top-level window and refreshes `browser` (when there is one). Returns 0.
    // `toolbar` refers to the owner's own field, which the owner clears when the toolbar
    // goes: the menu loop dispatches messages, and the windows may be destroyed meanwhile.
    // The caller holds `browser` for the whole call for the same reason.
    LRESULT Open(HWND owner, const HWND& toolbar, UINT buttonId, UINT configMessage,
                 IWebBrowser2* browser) noexcept;

    // Frees the menu, its items and images; a later SetUp loads it again.
    void Destroy() noexcept { menu_.Destroy(); }

    // For the owner window's WM_MEASUREITEM, WM_DRAWITEM and WM_MENUCHAR.
    ACL_Menu& Menu() noexcept { return menu_; }

  private:
    ACL_Menu menu_;
    HMODULE module_ = nullptr;  // the library, whose folder holds the properties program
};

// "&Properties…": brings a window titled kPropertiesWindowTitle forward, or starts the
// properties program beside `module`.
void ShowProperties(HMODULE module) noexcept;

}  // namespace tvn::bar
