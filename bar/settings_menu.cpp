#include "settings_menu.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>

#include "registry.h"
#include "resource.h"
#include "settings_store.h"

namespace tvn::bar {
namespace {

namespace Store = SettingsStore;
using Store::Value;

constexpr MenuCommand kCommands[] = {
    {ID_MENU_BYTES, Value::ViewMetric, 0},
    {ID_MENU_KBYTES, Value::ViewMetric, 1},
    {ID_MENU_MBYTES, Value::ViewMetric, 2},
    {ID_MENU_GBYTES, Value::ViewMetric, 3},
    {ID_MENU_AUTO, Value::ViewMetric, 4},
    {ID_MENU_FILESANDFOLDERS, Value::ViewStyle, 0},
    {ID_MENU_FILESONLY, Value::ViewStyle, 1},
    {ID_MENU_FOLDERSONLY, Value::ViewStyle, 2},
    {ID_MENU_NOTHING, Value::ViewStyle, 3},
    {ID_MENU_SEPARATOR_NONE, Value::Separator, 0},
    {ID_MENU_SEPARATOR_SPACE, Value::Separator, L' '},
    {ID_MENU_SEPARATOR_DOT, Value::Separator, L'.'},
    {ID_MENU_SEPARATOR_COMMA, Value::Separator, L','},
    {ID_MENU_SEPARATOR_APOSTROPHE, Value::Separator, L'`'},
    {ID_MENU_SEPARATOR_QUOTE, Value::Separator, L'\''},
    {ID_MENU_DECIMALS_0, Value::DecimalDigits, 0},
    {ID_MENU_DECIMALS_1, Value::DecimalDigits, 1},
    {ID_MENU_DECIMALS_2, Value::DecimalDigits, 2},
    {ID_MENU_DECIMALS_3, Value::DecimalDigits, 3},
    {ID_MENU_DECIMALS_4, Value::DecimalDigits, 4},
    {ID_MENU_DECIMALS_5, Value::DecimalDigits, 5},
};

void SetButtonState(HWND toolbar, UINT buttonId, BYTE state) {
    TBBUTTONINFOW info{};
    info.cbSize = sizeof(info);
    info.dwMask = TBIF_STATE;
    info.fsState = state;
    SendMessageW(toolbar, TB_SETBUTTONINFOW, buttonId, reinterpret_cast<LPARAM>(&info));
}

// Every write of an item: the width the settings table gives its value (2 bytes for the
// Separator, 8 for the integers); the result is ignored, as every writer of the key does.
void Write(HKEY key, const MenuCommand& command) {
    Store::WriteNumber(key, command.setting, command.value);
}

// Every item of the four groups unchecked, then the item of each stored value checked; a
// value no item stores leaves its group unchecked.
void CheckStoredChoices(HMENU menu, const Store::Settings& settings) {
    for (const MenuCommand& command : kCommands) {
        CheckMenuItem(menu, command.id, MF_BYCOMMAND | MF_UNCHECKED);
    }
    for (const MenuCommand& command : kCommands) {
        if (Store::NumberOf(settings, command.setting) == command.value) {
            CheckMenuItem(menu, command.id, MF_BYCOMMAND | MF_CHECKED);
        }
    }
}

}  // namespace

std::span<const MenuCommand> MenuCommands() {
    return kCommands;
}

const MenuCommand* FindMenuCommand(UINT id) {
    for (const MenuCommand& command : kCommands) {
        if (command.id == id) {
            return &command;
        }
    }
    return nullptr;
}

bool PropertiesProgramPath(HMODULE module, wchar_t (&program)[MAX_PATH],
                           wchar_t (&folder)[MAX_PATH]) {
    program[0] = folder[0] = 0;
    DWORD length = GetModuleFileNameW(module, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;  // failed, or cut to the buffer
    }
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (slash == nullptr) {
        return false;
    }
    *slash = 0;
    size_t folderLength = static_cast<size_t>(slash - folder);
    size_t nameLength = wcslen(kPropertiesProgramName);
    if (folderLength + 1 + nameLength >= MAX_PATH) {
        return false;
    }
    wmemcpy(program, folder, folderLength);
    program[folderLength] = L'\\';
    wmemcpy(program + folderLength + 1, kPropertiesProgramName, nameLength + 1);
    return true;
}

void ShowProperties(HMODULE module) noexcept {
    if (HWND running = FindWindowW(nullptr, kPropertiesWindowTitle)) {
        ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(running);
        return;
    }
    wchar_t program[MAX_PATH];
    wchar_t folder[MAX_PATH];
    if (!PropertiesProgramPath(module, program, folder)) {
        return;
    }
    ShellExecuteW(nullptr, L"open", program, nullptr, folder, SW_RESTORE);
}

void SettingsMenu::SetUp(HINSTANCE module, HWND owner) noexcept {
    module_ = module;
    menu_.SetIconSize(14, 14);
    if (menu_.RootMenu() == nullptr) {
        menu_.Load(module, IDR_SETTINGS_MENU, IDR_MENU_ICONS, IDB_MENU_ICONS, owner);
    }
    menu_.SetCheckImage(LoadBitmapW(module, MAKEINTRESOURCEW(IDB_CHECKMARK)), false);
    menu_.SetColors(MenuPalette());
}

LRESULT SettingsMenu::Open(HWND owner, const HWND& toolbar, UINT buttonId, UINT configMessage,
                           IWebBrowser2* browser) noexcept {
    HMENU shown = GetSubMenu(menu_.RootMenu(), 0);
    RECT below{};
    GetWindowRect(toolbar, &below);
    OpenedKey settingsKey = CreateKey(HKEY_CURRENT_USER, Store::kKeyPath,
                                      KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    if (!settingsKey) {
        return 0;
    }
    HKEY key = settingsKey.key.get();
    SetButtonState(toolbar, buttonId, TBSTATE_ENABLED | TBSTATE_PRESSED);

    Store::Settings settings;
    Store::Read(key, Store::kToolbarReads, settings);
    CheckStoredChoices(shown, settings);

    UINT chosen = static_cast<UINT>(TrackPopupMenu(shown, TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                                   below.left, below.bottom, 0, owner, nullptr));
    if (chosen == ID_MENU_TVNPROPERTIES) {
        ShowProperties(module_);
    } else if (const MenuCommand* command = FindMenuCommand(chosen)) {
        Write(key, *command);
        Store::BroadcastConfigUpdate(configMessage);
        if (browser != nullptr) {
            browser->Refresh();
        }
    }
    settingsKey.key.reset();
    if (toolbar != nullptr) {
        SetButtonState(toolbar, buttonId, TBSTATE_ENABLED);
    }
    return 0;
}

}  // namespace tvn::bar
