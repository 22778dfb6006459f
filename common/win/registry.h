// Opening and creating registry keys with the status and the key in one result, so that no
// caller has to clean up an out-parameter that a failed call may have written.
#pragma once

#include <windows.h>

#include "unique_handle.h"

namespace tvn {

struct OpenedKey {
    LSTATUS status = ERROR_INVALID_HANDLE;
    UniqueHKey key;  // empty unless status is ERROR_SUCCESS
    explicit operator bool() const noexcept { return status == ERROR_SUCCESS; }
};

// RegOpenKeyExW.
inline OpenedKey OpenKey(HKEY root, const wchar_t* path, REGSAM access) noexcept {
    OpenedKey result;
    HKEY raw = nullptr;
    result.status = RegOpenKeyExW(root, path, 0, access, &raw);
    if (result.status == ERROR_SUCCESS) {
        result.key.reset(raw);
    }
    return result;
}

// RegCreateKeyExW (opens the key when it exists); `created` tells which happened.
inline OpenedKey CreateKey(HKEY root, const wchar_t* path, REGSAM access,
                           bool* created = nullptr) noexcept {
    OpenedKey result;
    HKEY raw = nullptr;
    DWORD disposition = 0;
    result.status = RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &raw, &disposition);
    if (result.status == ERROR_SUCCESS) {
        result.key.reset(raw);
    }
    if (created != nullptr) {
        *created = result.status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    }
    return result;
}

// Deletes the key `path` below `root` with every key under it, deepest first. The status of
// the first step that failed; ERROR_FILE_NOT_FOUND when the key is not there. (Our own, for
// RegDeleteTreeW came with Vista.)
inline LSTATUS DeleteKeyTree(HKEY root, const wchar_t* path) noexcept {
    OpenedKey opened = OpenKey(root, path, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE);
    if (!opened) {
        return opened.status;
    }
    for (;;) {
        wchar_t name[256];  // a key name has at most 255 units
        DWORD length = 256;
        LSTATUS status =
            RegEnumKeyExW(opened.key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_SUCCESS) {
            status = DeleteKeyTree(opened.key.get(), name);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    opened.key.reset();
    return RegDeleteKeyW(root, path);
}

}  // namespace tvn
