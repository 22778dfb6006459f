// The user's settings: one registry key of the current user whose values are all REG_BINARY.
// Every deliverable reads and writes it through these functions, so the key, the value names,
// the encodings and the defaults are defined here once.
//
// Encodings:
//   integer    8 bytes, little-endian signed 64-bit
//   character  2 bytes, one UTF-16 code unit
//   text       UTF-16 code units and one zero unit: 2 x (length + 1) bytes
// Readers never check the stored registry type. A missing value, or one longer than the
// reader's buffer, leaves the reader's default in place; a shorter one replaces only the
// low-order bytes of it (so a 4-byte REG_DWORD entered by hand reads as its number).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "unique_handle.h"

namespace tvn {

// Which items get a size.
enum class ViewStyle : int64_t { FoldersAndFiles = 0, FilesOnly = 1, FoldersOnly = 2, Nothing = 3 };
// The unit sizes are shown in.
enum class ViewMetric : int64_t { Bytes = 0, KBytes = 1, MBytes = 2, GBytes = 3, Auto = 4 };
// What the bar column shows.
enum class PB_Style : int64_t { ValueAndBar = 0, ValueOnly = 1, BarOnly = 2 };

namespace SettingsStore {

// The settings key below HKEY_CURRENT_USER.
inline constexpr const wchar_t* kKeyPath = L"SOFTWARE\\Quorlen\\Tolvane\\Settings";

// Value names.
inline constexpr const wchar_t* kViewStyle = L"ViewStyle";
inline constexpr const wchar_t* kViewMetric = L"ViewMetric";
inline constexpr const wchar_t* kDecimalDigits = L"DecimalDigits";
inline constexpr const wchar_t* kSeparator = L"Separator";
inline constexpr const wchar_t* kColumnTitle = L"ColumnTitle";
inline constexpr const wchar_t* kEnableCache = L"EnableCache";
inline constexpr const wchar_t* kCacheAll = L"CacheAll";
inline constexpr const wchar_t* kAlwaysOnTop = L"AlwaysOnTop";
inline constexpr const wchar_t* kEnableUpdSplash = L"EnableUpdSplash";
inline constexpr const wchar_t* kPB_Style = L"PB_Style";
inline constexpr const wchar_t* kPB_Symbol = L"PB_Symbol";
inline constexpr const wchar_t* kWindowSubPos = L"WindowSubPos";

// Defaults of the values that have one (WindowSubPos has none).
inline constexpr int64_t kDefaultViewStyle = static_cast<int64_t>(ViewStyle::FoldersAndFiles);
inline constexpr int64_t kDefaultViewMetric = static_cast<int64_t>(ViewMetric::KBytes);
inline constexpr int64_t kDefaultDecimalDigits = 0;
inline constexpr wchar_t kDefaultSeparator = L' ';
inline constexpr const wchar_t* kDefaultColumnTitle = L"VudaZe";
inline constexpr int64_t kDefaultEnableCache = 1;
inline constexpr int64_t kDefaultCacheAll = 0;
inline constexpr int64_t kDefaultAlwaysOnTop = 1;
inline constexpr int64_t kDefaultEnableUpdSplash = 1;
inline constexpr int64_t kDefaultPB_Style = static_cast<int64_t>(PB_Style::ValueAndBar);
inline constexpr wchar_t kDefaultPB_Symbol = L'\x2022';

// Read capacities in UTF-16 code units, terminator included where the value is a text. A
// stored value longer than the reader's capacity counts as missing.
struct Capacities {
    size_t columnTitle;  // ColumnTitle
    size_t separator;    // Separator
    size_t pbSymbol;     // PB_Symbol (the symbol and a zero unit)
};
inline constexpr Capacities kColumnProviderCapacities{80, 1, 2};  // TVN
inline constexpr Capacities kPropertiesCapacities{260, 10, 2};    // TVN Properties
inline constexpr Capacities kToolbarCapacities{0, 1, 0};          // TVN Bar reads no text
inline constexpr DWORD kWindowSubPosCapacityBytes = 44;           // TVN Properties

// Opens the settings key for reading; empty when it is missing or cannot be opened, which
// every reader treats as "every value missing" (the Read functions accept an empty key).
UniqueHKey OpenForRead(REGSAM access = KEY_READ);
// Opens the settings key for writing, creating it when missing; empty on failure, in which
// case a writer writes nothing at all.
UniqueHKey CreateForWrite(REGSAM access = KEY_ALL_ACCESS);

// Reads up to `capacityBytes` of a value into `buffer`, which holds the default beforehand.
// On success the stored bytes replace the first bytes of the buffer and `*bytesRead` (if
// given) is their number; on any failure (missing, longer than the buffer, no key) the buffer
// is left exactly as it was. Returns the Win32 error.
LSTATUS ReadBytes(HKEY key, const wchar_t* name, void* buffer, DWORD capacityBytes,
                  DWORD* bytesRead = nullptr);

int64_t ReadInteger(HKEY key, const wchar_t* name, int64_t defaultValue);
// The first code unit of a value read into a buffer of `capacityUnits` code units.
wchar_t ReadCharacter(HKEY key, const wchar_t* name, wchar_t defaultValue,
                      size_t capacityUnits = 1);
// A text of at most `capacityUnits` code units, terminator included. A stored text replaces
// the default whole; it ends at its first zero unit or at the end of the stored data.
std::wstring ReadText(HKEY key, const wchar_t* name, const wchar_t* defaultValue,
                      size_t capacityUnits);

// Writers: REG_BINARY into a key the caller opened for writing. Return the Win32 error.
LSTATUS WriteBytes(HKEY key, const wchar_t* name, const void* data, DWORD sizeBytes);
LSTATUS WriteInteger(HKEY key, const wchar_t* name, int64_t value);
LSTATUS WriteCharacter(HKEY key, const wchar_t* name, wchar_t value);
LSTATUS WriteText(HKEY key, const wchar_t* name, const wchar_t* text);

// Every value of the key, starting from the defaults.
struct Settings {
    int64_t viewStyle = kDefaultViewStyle;
    int64_t viewMetric = kDefaultViewMetric;
    int64_t decimalDigits = kDefaultDecimalDigits;
    wchar_t separator = kDefaultSeparator;
    std::wstring columnTitle = kDefaultColumnTitle;
    int64_t enableCache = kDefaultEnableCache;
    int64_t cacheAll = kDefaultCacheAll;
    int64_t alwaysOnTop = kDefaultAlwaysOnTop;
    int64_t enableUpdSplash = kDefaultEnableUpdSplash;
    int64_t pbStyle = kDefaultPB_Style;
    wchar_t pbSymbol = kDefaultPB_Symbol;
};
// Reads every value over what `settings` holds (so a long-lived reader keeps what it read
// before for a value that is now missing). A capacity of 0 skips that value.
void ReadAll(HKEY key, Settings& settings, const Capacities& capacities);

// Autostart entry of the cache server: value "TVNCache" (REG_SZ) of the current user's Run key.
inline constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kRunValueName = L"TVNCache";
inline constexpr const wchar_t* kCacheServerFileName = L"TVN Cache.exe";

// The cache server's path beside a program: `programPath` up to its last backslash, then
// "\TVN Cache.exe".
std::wstring CacheServerPathBeside(const std::wstring& programPath);
// Writes the entry (the path without quotes or arguments, with its terminating zero).
LSTATUS SetAutostart(const wchar_t* serverPath);
// Deletes the entry; an entry that is not there counts as removed.
LSTATUS RemoveAutostart();
// True when the entry exists, whatever its data.
bool IsAutostartSet();

// Configuration-update message: broadcast after the settings changed (wParam 1, lParam 0).
inline constexpr const wchar_t* kConfigUpdateMessageName =
    L"TVNConfigUpdate.{67642CC8-3FC3-405e-9158-30E53B20D7A2}";
// The registered message id; 0 if registration failed.
UINT RegisterConfigUpdateMessage();
// Sends the message to every top-level window and returns when all have handled it.
void BroadcastConfigUpdate(UINT message);

}  // namespace SettingsStore
}  // namespace tvn
