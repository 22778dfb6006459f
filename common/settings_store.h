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
#include <span>
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

// Every value of the key, each defined here once: its name (the registry value name, the
// Value entry and, with a k, the name constant), the Settings field, the field's type, how it
// is stored (Integer: 8 bytes; Character: 2 bytes; Text: its units and a zero) and its default
// (kDefault and the name). Integers that mean one of the enumerations above take the
// enumeration as their type; any stored number fits it.
#define TVN_SETTINGS_VALUES(X)                                              \
    X(ViewStyle, viewStyle, ViewStyle, Integer, ViewStyle::FoldersAndFiles) \
    X(ViewMetric, viewMetric, ViewMetric, Integer, ViewMetric::KBytes)      \
    X(DecimalDigits, decimalDigits, int64_t, Integer, 0)                    \
    X(Separator, separator, wchar_t, Character, L' ')                       \
    X(ColumnTitle, columnTitle, TitleText, Text, L"VudaZe")                 \
    X(EnableCache, enableCache, int64_t, Integer, 1)                        \
    X(CacheAll, cacheAll, int64_t, Integer, 0)                              \
    X(AlwaysOnTop, alwaysOnTop, int64_t, Integer, 1)                        \
    X(EnableUpdSplash, enableUpdSplash, int64_t, Integer, 1)                \
    X(PB_Style, pbStyle, PB_Style, Integer, PB_Style::ValueAndBar)          \
    X(PB_Symbol, pbSymbol, SymbolText, Character, L'\x2022')

// How a value is stored.
enum class Encoding { Integer, Character, Text };

// The field of the title (the largest title any reader takes) and of the bar symbol (the
// symbol and its terminator, so it can be shown as a text).
inline constexpr size_t kTitleUnits = 260;
using TitleText = wchar_t[kTitleUnits];
using SymbolText = wchar_t[2];

// The type of a default: an integer's is its field's, a character's one code unit, a text's
// a string.
template <Encoding E, typename FieldType>
struct DefaultOf {
    using Type = FieldType;
};
template <typename FieldType>
struct DefaultOf<Encoding::Character, FieldType> {
    using Type = wchar_t;
};
template <typename FieldType>
struct DefaultOf<Encoding::Text, FieldType> {
    using Type = const wchar_t*;
};

// The values of the key.
enum class Value {
#define TVN_VALUE_ENTRY(name, field, type, encoding, defaultValue) name,
    TVN_SETTINGS_VALUES(TVN_VALUE_ENTRY)
#undef TVN_VALUE_ENTRY
};

// Value names (kViewStyle = L"ViewStyle", ...) and defaults (kDefaultViewStyle, ...).
#define TVN_WIDE(text) L##text
#define TVN_VALUE_NAME(name, field, type, encoding, defaultValue) \
    inline constexpr const wchar_t* k##name = TVN_WIDE(#name);    \
    inline constexpr DefaultOf<Encoding::encoding, type>::Type kDefault##name = defaultValue;
TVN_SETTINGS_VALUES(TVN_VALUE_NAME)
#undef TVN_VALUE_NAME
#undef TVN_WIDE
inline constexpr const wchar_t* kWindowSubPos = L"WindowSubPos";  // no default; see below

// Opens the settings key for reading; empty when it is missing or cannot be opened, which
// every reader treats as "every value missing" (the Read functions accept an empty key).
UniqueHKey OpenForRead(REGSAM access = KEY_READ);
// Opens the settings key for writing, creating it when missing; empty on failure, in which
// case a writer writes nothing at all.
UniqueHKey CreateForWrite(REGSAM access = KEY_ALL_ACCESS);

// Largest read capacity of any reader (the properties program's ColumnTitle). Reads go
// through a stack buffer of this size, so no read allocates.
inline constexpr DWORD kMaxReadBytes = 520;

// Reads up to `capacityBytes` (at most kMaxReadBytes) of a value into `buffer`, which holds
// the default beforehand. On success the stored bytes replace the first bytes of the buffer
// and `*bytesRead` (if given) is their number; on any failure (missing, longer than the
// capacity, no key) the buffer is left exactly as it was. Returns the Win32 error.
LSTATUS ReadBytes(HKEY key, const wchar_t* name, void* buffer, DWORD capacityBytes,
                  DWORD* bytesRead = nullptr);

// One integer read with an 8-byte capacity over `defaultValue`.
int64_t ReadInteger(HKEY key, const wchar_t* name, int64_t defaultValue);
// The first code unit of a value read into a buffer of `capacityUnits` code units.
wchar_t ReadCharacter(HKEY key, const wchar_t* name, wchar_t defaultValue,
                      size_t capacityUnits = 1);
// A text read with a capacity of `capacityUnits` code units (terminator included) into
// `text`, which holds the default beforehand and has room for `capacityUnits` units. A stored
// text replaces the default whole; it ends at its first zero unit or at the end of the stored
// data. A missing or longer value leaves `text` unchanged. Returns the Win32 error.
LSTATUS ReadText(HKEY key, const wchar_t* name, wchar_t* text, size_t capacityUnits);

// Every value of the key, starting from the defaults. Fixed storage only: reading into it
// allocates nothing, so a COM method or window procedure can read without a failure path.
struct Settings {
    static constexpr size_t kTitleUnits = SettingsStore::kTitleUnits;

#define TVN_VALUE_FIELD(name, field, type, encoding, defaultValue) type field;
    TVN_SETTINGS_VALUES(TVN_VALUE_FIELD)
#undef TVN_VALUE_FIELD

    Settings();  // every field its default
};

// An Integer or Character value as the number it stores (a character its code unit); 0 for
// the text.
int64_t NumberOf(const Settings& settings, Value value);
// Writes an Integer value as 8 bytes or a Character value as 2 (the number's low 16 bits);
// ERROR_INVALID_PARAMETER for the text. Returns the Win32 error.
LSTATUS WriteNumber(HKEY key, Value value, int64_t number);

// One read of a reader: the value and the buffer size, in bytes, that reader gives it. A
// stored value longer than that counts as missing; a shorter one replaces only the first
// bytes of the field (so a 4-byte REG_DWORD entered by hand reads as its number).
struct ValueRead {
    Value value;
    DWORD capacityBytes;
};

// The readers of the system, each with the values it reads, in its order, and its buffers.
// TVN, per cell: seven values (the title is read by the column enumeration, below).
inline constexpr ValueRead kColumnCellReads[] = {
    {Value::ViewStyle, 8},     {Value::ViewMetric, 8},  {Value::Separator, 2},
    {Value::DecimalDigits, 8}, {Value::EnableCache, 8}, {Value::PB_Style, 8},
    {Value::PB_Symbol, 4},
};
// TVN, per column enumeration: the title in 80 code units.
inline constexpr ValueRead kColumnTitleReads[] = {{Value::ColumnTitle, 160}};
// TVN Properties, when its dialog loads (WindowSubPos is read on its own, below).
inline constexpr ValueRead kPropertiesReads[] = {
    {Value::ViewStyle, 8},  {Value::ViewMetric, 8},    {Value::DecimalDigits, 8},
    {Value::Separator, 20}, {Value::ColumnTitle, 520}, {Value::EnableCache, 8},
    {Value::CacheAll, 8},   {Value::AlwaysOnTop, 8},   {Value::EnableUpdSplash, 8},
    {Value::PB_Style, 8},   {Value::PB_Symbol, 4},
};
// TVN Bar, when it opens its menu.
inline constexpr ValueRead kToolbarReads[] = {
    {Value::ViewStyle, 8},
    {Value::ViewMetric, 8},
    {Value::DecimalDigits, 8},
    {Value::Separator, 2},
};
// TVN Cache, once at start.
inline constexpr ValueRead kCacheServerReads[] = {{Value::CacheAll, 8}};

// Reads every value of `reads` over what `settings` holds, so a long-lived reader keeps what
// it read before for a value that is now missing. An empty key reads nothing.
void Read(HKEY key, std::span<const ValueRead> reads, Settings& settings);

// Writers: REG_BINARY into a key the caller opened for writing. Return the Win32 error.
LSTATUS WriteBytes(HKEY key, const wchar_t* name, const void* data, DWORD sizeBytes);
// 8 bytes, little-endian.
LSTATUS WriteInteger(HKEY key, const wchar_t* name, int64_t value);
// 2 bytes, one code unit.
LSTATUS WriteCharacter(HKEY key, const wchar_t* name, wchar_t value);
// The text and one zero unit: 2 x (length + 1) bytes.
LSTATUS WriteText(HKEY key, const wchar_t* name, const wchar_t* text);

// The Separator as the properties dialog's "Digit grouping" field shows and takes it.
// "Don't use" (any case) stores 0, "Space" (any case) stores U+0020, any other text its first
// code unit, and an empty (or null) text 0.
wchar_t SeparatorFromText(const wchar_t* text);
// 0 shows "Don't use", U+0020 "Space", any other character itself. `text` holds at least
// kSeparatorTextUnits units.
inline constexpr size_t kSeparatorTextUnits = 10;  // "Don't use" and its terminator
void SeparatorToText(wchar_t separator, wchar_t* text);

// Position of the properties window (WindowSubPos). Written as 12 bytes: left and top of the
// normal rectangle and the show command. Read as that form or as a whole 44-byte
// WINDOWPLACEMENT record.
struct WindowSubPos {
    enum class Form { Position, Placement };
    Form form = Form::Position;
    LONG left = 0;                // Position form
    LONG top = 0;                 // Position form
    UINT showCmd = 0;             // Position form
    WINDOWPLACEMENT placement{};  // Placement form, as stored
};
inline constexpr DWORD kWindowSubPosBytes = 12;
inline constexpr DWORD kWindowSubPosCapacityBytes = 44;  // the properties program's buffer
LSTATUS WriteWindowSubPos(HKEY key, LONG left, LONG top, UINT showCmd);
// ERROR_SUCCESS with `out` filled; the read's error when the value is missing or longer than
// 44 bytes; ERROR_INVALID_DATA for a value of any other length (not usable).
LSTATUS ReadWindowSubPos(HKEY key, WindowSubPos& out);

// Autostart entry of the cache server: value "TVNCache" (REG_SZ) of the current user's Run key.
inline constexpr const wchar_t* kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const wchar_t* kRunValueName = L"TVNCache";
inline constexpr const wchar_t* kCacheServerFileName = L"TVN Cache.exe";

// The cache server's path beside a program: `programPath` up to its last backslash, then
// "\TVN Cache.exe".
std::wstring CacheServerPathBeside(const std::wstring& programPath);
// Writes the entry: the path in double quotes, no arguments, with its terminating zero. A
// path that holds a quote itself, or is longer than a Windows path can be, is refused.
inline constexpr size_t kMaxAutostartPathUnits = 32767;
LSTATUS SetAutostart(const wchar_t* serverPath);
// Deletes the entry; an entry that is not there counts as removed.
LSTATUS RemoveAutostart();
// True when the entry exists, whatever its data (quoted or not, written by any version).
bool IsAutostartSet();

// Configuration-update message: broadcast after the settings changed (wParam 1, lParam 0).
inline constexpr const wchar_t* kConfigUpdateMessageName =
    L"TVNConfigUpdate.{67642CC8-3FC3-405e-9158-30E53B20D7A2}";
// The registered message id; 0 if registration failed.
UINT RegisterConfigUpdateMessage();
// Sends the message to every top-level window and returns when each has handled it, except
// that it never waits on a program that has stopped answering: each window is waited for at
// most a second, the whole announcement at most three, and the windows of a thread that did
// not answer in time (or of any thread once the three seconds are spent) get the message
// queued without a wait.
void BroadcastConfigUpdate(UINT message);

}  // namespace SettingsStore
}  // namespace tvn
