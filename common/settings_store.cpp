#include "settings_store.h"

#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

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
    if (key == nullptr || name == nullptr || buffer == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // The system may write into the buffer even when the value does not fit, so the query
    // goes to a scratch buffer and only a complete value is copied over the default.
    BYTE local[64];
    std::vector<BYTE> large;
    BYTE* scratch = local;
    if (capacityBytes > sizeof(local)) {
        large.resize(capacityBytes);
        scratch = large.data();
    }
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

int64_t ReadInteger(HKEY key, const wchar_t* name, int64_t defaultValue) {
    // Little-endian: the first stored bytes are the low-order bytes of the integer.
    int64_t value = defaultValue;
    ReadBytes(key, name, &value, sizeof(value));
    return value;
}

wchar_t ReadCharacter(HKEY key, const wchar_t* name, wchar_t defaultValue, size_t capacityUnits) {
    if (capacityUnits == 0 || capacityUnits > 0x7FFFFFFF / sizeof(wchar_t)) {
        return defaultValue;
    }
    // Every reader's capacity is a few units, held on the stack: the column provider's
    // per-cell read allocates nothing and so cannot throw out of its COM method.
    wchar_t local[32] = {};
    std::vector<wchar_t> large;
    wchar_t* buffer = local;
    if (capacityUnits > std::size(local)) {
        large.assign(capacityUnits, L'\0');
        buffer = large.data();
    }
    buffer[0] = defaultValue;
    ReadBytes(key, name, buffer, static_cast<DWORD>(capacityUnits * sizeof(wchar_t)));
    return buffer[0];
}

std::wstring ReadText(HKEY key, const wchar_t* name, const wchar_t* defaultValue,
                      size_t capacityUnits) {
    std::wstring result = defaultValue != nullptr ? defaultValue : L"";
    if (capacityUnits == 0 || capacityUnits > 0x7FFFFFFF / sizeof(wchar_t)) {
        return result;
    }
    std::vector<wchar_t> buffer(capacityUnits, L'\0');
    DWORD read = 0;
    if (ReadBytes(key, name, buffer.data(), static_cast<DWORD>(capacityUnits * sizeof(wchar_t)),
                  &read) != ERROR_SUCCESS) {
        return result;
    }
    // Hand-made values may lack the terminator or end on an odd byte: the text is what
    // stands before the first zero unit within the whole units read.
    size_t units = read / sizeof(wchar_t);
    size_t length = 0;
    while (length < units && buffer[length] != L'\0') {
        ++length;
    }
    return std::wstring(buffer.data(), length);
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

void ReadAll(HKEY key, Settings& s, const Capacities& capacities) {
    s.viewStyle = ReadInteger(key, kViewStyle, s.viewStyle);
    s.viewMetric = ReadInteger(key, kViewMetric, s.viewMetric);
    s.decimalDigits = ReadInteger(key, kDecimalDigits, s.decimalDigits);
    s.separator = ReadCharacter(key, kSeparator, s.separator, capacities.separator);
    if (capacities.columnTitle != 0) {
        s.columnTitle = ReadText(key, kColumnTitle, s.columnTitle.c_str(), capacities.columnTitle);
    }
    s.enableCache = ReadInteger(key, kEnableCache, s.enableCache);
    s.cacheAll = ReadInteger(key, kCacheAll, s.cacheAll);
    s.alwaysOnTop = ReadInteger(key, kAlwaysOnTop, s.alwaysOnTop);
    s.enableUpdSplash = ReadInteger(key, kEnableUpdSplash, s.enableUpdSplash);
    s.pbStyle = ReadInteger(key, kPB_Style, s.pbStyle);
    s.pbSymbol = ReadCharacter(key, kPB_Symbol, s.pbSymbol, capacities.pbSymbol);
}

std::wstring CacheServerPathBeside(const std::wstring& programPath) {
    size_t slash = programPath.rfind(L'\\');
    std::wstring folder =
        slash == std::wstring::npos ? std::wstring() : programPath.substr(0, slash);
    return folder + L"\\" + kCacheServerFileName;
}

LSTATUS SetAutostart(const wchar_t* serverPath) {
    if (serverPath == nullptr || *serverPath == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    size_t bytes = (std::wcslen(serverPath) + 1) * sizeof(wchar_t);
    if (bytes > 0x7FFFFFFF) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenedKey run = CreateKey(HKEY_CURRENT_USER, kRunKeyPath, KEY_SET_VALUE);
    if (!run) {
        return run.status;
    }
    return RegSetValueExW(run.key.get(), kRunValueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(serverPath), static_cast<DWORD>(bytes));
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

void BroadcastConfigUpdate(UINT message) {
    if (message != 0) {
        SendMessageW(HWND_BROADCAST, message, 1, 0);
    }
}

}  // namespace tvn::SettingsStore
