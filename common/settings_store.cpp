#include "settings_store.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "ascii_fold.h"
#include "registry.h"

namespace tvn::SettingsStore {

UniqueHKey OpenForRead(REGSAM access) {
    return OpenKey(HKEY_CURRENT_USER, kKeyPath, access).key;
}

UniqueHKey CreateForWrite(REGSAM access) {
    return CreateKey(HKEY_CURRENT_USER, kKeyPath, access).key;
}

LSTATUS ReadBytes(HKEY key, const wchar_t* name, void* buffer, DWORD capacityBytes,
                  DWORD* bytesRead) {
    if (key == nullptr || name == nullptr || buffer == nullptr || capacityBytes > kMaxReadBytes) {
        return ERROR_INVALID_PARAMETER;
    }
    // The system may write into the buffer even when the value does not fit, so the query
    // goes to a scratch buffer and only a complete value is copied over the default.
    BYTE scratch[kMaxReadBytes];
    DWORD size = capacityBytes;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, scratch, &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (size > capacityBytes) {  // never trust a size the buffer cannot hold
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, scratch, size);
    if (bytesRead != nullptr) {
        *bytesRead = size;
    }
    return ERROR_SUCCESS;
}

namespace {

// Reads a value into a field of `fieldBytes` with the reader's capacity: the stored bytes
// replace the field's first bytes, as far as the field reaches.
void ReadField(HKEY key, const wchar_t* name, void* field, DWORD fieldBytes, DWORD capacityBytes) {
    BYTE buffer[kMaxReadBytes] = {};
    DWORD read = 0;
    if (ReadBytes(key, name, buffer, capacityBytes, &read) == ERROR_SUCCESS) {
        std::memcpy(field, buffer, std::min(read, fieldBytes));
    }
}

}  // namespace

int64_t ReadInteger(HKEY key, const wchar_t* name, int64_t defaultValue) {
    // Little-endian: the first stored bytes are the low-order bytes of the integer.
    int64_t value = defaultValue;
    ReadField(key, name, &value, sizeof(value), sizeof(value));
    return value;
}

wchar_t ReadCharacter(HKEY key, const wchar_t* name, wchar_t defaultValue, size_t capacityUnits) {
    if (capacityUnits == 0 || capacityUnits > kMaxReadBytes / sizeof(wchar_t)) {
        return defaultValue;
    }
    wchar_t value = defaultValue;
    ReadField(key, name, &value, sizeof(value),
              static_cast<DWORD>(capacityUnits * sizeof(wchar_t)));
    return value;
}

LSTATUS ReadText(HKEY key, const wchar_t* name, wchar_t* text, size_t capacityUnits) {
    if (text == nullptr || capacityUnits == 0 || capacityUnits > kMaxReadBytes / sizeof(wchar_t)) {
        return ERROR_INVALID_PARAMETER;
    }
    wchar_t buffer[kMaxReadBytes / sizeof(wchar_t)];
    DWORD read = 0;
    LSTATUS status =
        ReadBytes(key, name, buffer, static_cast<DWORD>(capacityUnits * sizeof(wchar_t)), &read);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Hand-made values may lack the terminator or end on an odd byte: the text is what
    // stands before the first zero unit within the whole units read.
    size_t units = read / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && buffer[length] != L'\0') {
        ++length;
    }
    if (length == capacityUnits) {
        --length;  // a full buffer without terminator keeps room for one
    }
    std::wmemcpy(text, buffer, length);
    text[length] = L'\0';
    return ERROR_SUCCESS;
}

namespace {

// Defaults into fields: an integer or enumeration as it is, a character into a one-unit
// field or as the first unit of a terminated one, a text cut to its field.
template <typename T>
void SetDefault(T& field, T value) {
    field = value;
}
template <size_t N>
void SetDefault(wchar_t (&field)[N], wchar_t value) {
    field[0] = value;
    std::wmemset(field + 1, L'\0', N - 1);
}
template <size_t N>
void SetDefault(wchar_t (&field)[N], const wchar_t* value) {
    std::wmemset(field, L'\0', N);
    std::wcsncpy(field, value, N - 1);
}

// Where each value lives in Settings and how it is stored. Every field takes the stored bytes
// as far as it reaches; the text is read as a text.
struct Field {
    const wchar_t* name;
    Encoding encoding;
    size_t offset;
    DWORD bytes;
};

constexpr Field kFields[] = {
#define TVN_VALUE_ROW(name, field, type, encoding, defaultValue) \
    {k##name, Encoding::encoding, offsetof(Settings, field), sizeof(Settings::field)},
    TVN_SETTINGS_VALUES(TVN_VALUE_ROW)
#undef TVN_VALUE_ROW
};
static_assert(std::size(kFields) == static_cast<size_t>(Value::PB_Symbol) + 1);

const Field* FieldOf(Value value) {
    const size_t index = static_cast<size_t>(value);
    return index < std::size(kFields) ? &kFields[index] : nullptr;
}

}  // namespace

Settings::Settings() {
#define TVN_VALUE_DEFAULT(name, field, type, encoding, defaultValue) \
    SetDefault(field, kDefault##name);
    TVN_SETTINGS_VALUES(TVN_VALUE_DEFAULT)
#undef TVN_VALUE_DEFAULT
}

int64_t NumberOf(const Settings& settings, Value value) {
    const Field* field = FieldOf(value);
    if (field == nullptr) {
        return 0;
    }
    const BYTE* at = reinterpret_cast<const BYTE*>(&settings) + field->offset;
    switch (field->encoding) {
        case Encoding::Integer: {
            int64_t number = 0;
            std::memcpy(&number, at, sizeof(number));
            return number;
        }
        case Encoding::Character: {
            wchar_t unit = 0;
            std::memcpy(&unit, at, sizeof(unit));
            return unit;
        }
        default:
            return 0;
    }
}

LSTATUS WriteNumber(HKEY key, Value value, int64_t number) {
    const Field* field = FieldOf(value);
    if (field == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    switch (field->encoding) {
        case Encoding::Integer:
            return WriteInteger(key, field->name, number);
        case Encoding::Character:
            return WriteCharacter(key, field->name, static_cast<wchar_t>(number));
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

void Read(HKEY key, std::span<const ValueRead> reads, Settings& s) {
    if (key == nullptr) {
        return;
    }
    for (const ValueRead& read : reads) {
        const Field& field = kFields[static_cast<size_t>(read.value)];
        void* at = reinterpret_cast<BYTE*>(&s) + field.offset;
        if (field.encoding == Encoding::Text) {
            ReadText(key, field.name, static_cast<wchar_t*>(at),
                     std::min<size_t>(read.capacityBytes / sizeof(wchar_t), Settings::kTitleUnits));
        } else {
            ReadField(key, field.name, at, field.bytes, read.capacityBytes);
        }
    }
    // The symbol is also shown as a one-character text: a 4-byte value whose second unit is
    // not zero must not leave it unterminated.
    s.pbSymbol[1] = L'\0';
}

LSTATUS WriteBytes(HKEY key, const wchar_t* name, const void* data, DWORD sizeBytes) {
    if (key == nullptr || name == nullptr || (data == nullptr && sizeBytes != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    return RegSetValueExW(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), sizeBytes);
}

LSTATUS WriteInteger(HKEY key, const wchar_t* name, int64_t value) {
    return WriteBytes(key, name, &value, sizeof(value));
}

LSTATUS WriteCharacter(HKEY key, const wchar_t* name, wchar_t value) {
    return WriteBytes(key, name, &value, sizeof(value));
}

LSTATUS WriteText(HKEY key, const wchar_t* name, const wchar_t* text) {
    if (text == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    if (bytes > 0x7FFFFFFF) {
        return ERROR_INVALID_PARAMETER;
    }
    return WriteBytes(key, name, text, static_cast<DWORD>(bytes));
}

namespace {
constexpr wchar_t kSeparatorNone[] = L"Don't use";
constexpr wchar_t kSeparatorSpace[] = L"Space";
static_assert(std::size(kSeparatorNone) <= kSeparatorTextUnits);

}  // namespace

wchar_t SeparatorFromText(const wchar_t* text) {
    if (text == nullptr || text[0] == L'\0' || EqualFoldingAscii(text, kSeparatorNone)) {
        return 0;
    }
    if (EqualFoldingAscii(text, kSeparatorSpace)) {
        return L' ';
    }
    return text[0];
}

void SeparatorToText(wchar_t separator, wchar_t* text) {
    if (separator == 0) {
        std::wmemcpy(text, kSeparatorNone, std::size(kSeparatorNone));
    } else if (separator == L' ') {
        std::wmemcpy(text, kSeparatorSpace, std::size(kSeparatorSpace));
    } else {
        text[0] = separator;
        text[1] = L'\0';
    }
}

LSTATUS WriteWindowSubPos(HKEY key, LONG left, LONG top, UINT showCmd) {
    BYTE record[kWindowSubPosBytes];
    static_assert(sizeof(LONG) == 4 && sizeof(UINT) == 4);
    std::memcpy(record, &left, 4);
    std::memcpy(record + 4, &top, 4);
    std::memcpy(record + 8, &showCmd, 4);
    return WriteBytes(key, kWindowSubPos, record, sizeof(record));
}

LSTATUS ReadWindowSubPos(HKEY key, WindowSubPos& out) {
    static_assert(sizeof(WINDOWPLACEMENT) == kWindowSubPosCapacityBytes);
    BYTE record[kWindowSubPosCapacityBytes];
    DWORD read = 0;
    LSTATUS status = ReadBytes(key, kWindowSubPos, record, sizeof(record), &read);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (read == kWindowSubPosBytes) {
        out.form = WindowSubPos::Form::Position;
        std::memcpy(&out.left, record, 4);
        std::memcpy(&out.top, record + 4, 4);
        std::memcpy(&out.showCmd, record + 8, 4);
        return ERROR_SUCCESS;
    }
    if (read == kWindowSubPosCapacityBytes) {
        out.form = WindowSubPos::Form::Placement;
        std::memcpy(&out.placement, record, sizeof(out.placement));
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_DATA;
}

std::wstring CacheServerPathBeside(const std::wstring& programPath) {
    size_t slash = programPath.rfind(L'\\');
    std::wstring folder =
        slash == std::wstring::npos ? std::wstring() : programPath.substr(0, slash);
    return folder + L"\\" + kCacheServerFileName;
}

LSTATUS SetAutostart(const wchar_t* serverPath) {
    if (serverPath == nullptr || *serverPath == L'\0' || std::wcschr(serverPath, L'"')) {
        return ERROR_INVALID_PARAMETER;
    }
    // Quoted: the system runs the entry as a command line, and an unquoted path with blanks
    // ("C:\Program Files\...") would first be tried as the program "C:\Program".
    const size_t length = std::wcslen(serverPath);
    if (length > kMaxAutostartPathUnits) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring command = L"\"" + std::wstring(serverPath, length) + L"\"";
    OpenedKey run = CreateKey(HKEY_CURRENT_USER, kRunKeyPath, KEY_SET_VALUE);
    if (!run) {
        return run.status;
    }
    return RegSetValueExW(run.key.get(), kRunValueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
}

LSTATUS RemoveAutostart() {
    OpenedKey run = OpenKey(HKEY_CURRENT_USER, kRunKeyPath, KEY_SET_VALUE);
    if (!run) {
        return run.status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : run.status;
    }
    LSTATUS status = RegDeleteValueW(run.key.get(), kRunValueName);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

bool IsAutostartSet() {
    OpenedKey run = OpenKey(HKEY_CURRENT_USER, kRunKeyPath, KEY_READ);
    if (!run) {
        return false;
    }
    // An entry whose path does not fit a 260-unit buffer is still there: only a missing value
    // counts as absent, or saving the dialog would silently delete a long entry.
    BYTE data[520];
    DWORD size = sizeof(data);
    LSTATUS status = RegQueryValueExW(run.key.get(), kRunValueName, nullptr, nullptr, data, &size);
    return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

UINT RegisterConfigUpdateMessage() {
    return RegisterWindowMessageW(kConfigUpdateMessageName);
}

namespace {

// One announcement to the top-level windows. Each is sent the message and waited for, but
// never longer than kAnnounceWindowMs, and no longer at all once kAnnounceTotalMs have passed
// or once another window of its thread has not answered in time: those windows are only
// notified (the message is queued for them without waiting), so a program that has stopped
// answering costs the caller one short wait at most, and only once.
constexpr DWORD kAnnounceWindowMs = 1000;
constexpr DWORD kAnnounceTotalMs = 3000;
constexpr size_t kMaxSlowThreads = 16;

struct Announcement {
    UINT message;
    DWORD started;  // GetTickCount at the start (differences are wrap-safe)
    DWORD ownThread;
    DWORD slowThreads[kMaxSlowThreads];
    size_t slowCount;

    bool IsSlow(DWORD thread) const {
        for (size_t i = 0; i < slowCount; ++i) {
            if (slowThreads[i] == thread) {
                return true;
            }
        }
        return false;
    }
};

BOOL CALLBACK AnnounceTo(HWND window, LPARAM context) {
    auto& announcement = *reinterpret_cast<Announcement*>(context);
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    const DWORD spent = GetTickCount() - announcement.started;
    if (thread != announcement.ownThread &&
        (spent >= kAnnounceTotalMs || announcement.slowCount == kMaxSlowThreads ||
         announcement.IsSlow(thread))) {
        SendNotifyMessageW(window, announcement.message, 1, 0);
        return TRUE;
    }
    // (A window of this thread is called directly; no time-out applies to it.)
    const DWORD left = spent < kAnnounceTotalMs ? kAnnounceTotalMs - spent : 1;
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, announcement.message, 1, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            std::min(kAnnounceWindowMs, left), &result) == 0 &&
        thread != announcement.ownThread && IsWindow(window)) {
        announcement.slowThreads[announcement.slowCount++] = thread;
    }
    return TRUE;
}

}  // namespace

void BroadcastConfigUpdate(UINT message) {
    if (message == 0) {
        return;
    }
    Announcement announcement{};
    announcement.message = message;
    announcement.started = GetTickCount();
    announcement.ownThread = GetCurrentThreadId();
    EnumWindows(AnnounceTo, reinterpret_cast<LPARAM>(&announcement));
}

}  // namespace tvn::SettingsStore
