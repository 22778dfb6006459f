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

}  // namespace tvn
