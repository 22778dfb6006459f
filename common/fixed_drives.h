// The fixed drives of the machine: the letters a to z whose root ("x:\") GetDriveTypeW reports
// as DRIVE_FIXED, asked afresh on every call (a drive attached later is seen by a later call).
#pragma once

#include <windows.h>

namespace tvn {

// Calls `visit(root)` for each fixed drive, in letter order, with the root as "x:\" (lower
// case, zero-terminated; the caller cuts what it needs).
template <typename Visit>
void ForEachFixedDrive(Visit&& visit) {
    wchar_t root[] = L"a:\\";
    for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
        root[0] = letter;
        if (GetDriveTypeW(root) == DRIVE_FIXED) {
            visit(static_cast<const wchar_t*>(root));
        }
    }
}

}  // namespace tvn
