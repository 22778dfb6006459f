// Path buffers of the folder scans: the search pattern ("folder\*.*") and the path of a
// subfolder ("folder\name") are built in buffers of kScanPathChars units, terminating zero
// included. A path that does not fit fails that folder; it never overflows a buffer.
#pragma once

#include <cstddef>
#include <cwchar>

namespace tvn {

constexpr size_t kScanPathChars = 520;

// Writes `folder` (its first `folderLength` units) + "\" + `name` into `out`, which holds
// kScanPathChars units. False, with `out` unchanged, when the result does not fit.
inline bool JoinScanPath(wchar_t* out, const wchar_t* folder, size_t folderLength,
                         const wchar_t* name) {
    const size_t nameLength = wcslen(name);
    if (folderLength + 1 + nameLength + 1 > kScanPathChars) {
        return false;
    }
    wmemcpy(out, folder, folderLength);
    out[folderLength] = L'\\';
    wmemcpy(out + folderLength + 1, name, nameLength + 1);
    return true;
}

}  // namespace tvn
