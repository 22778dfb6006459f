// Where the properties window was: saved as WindowSubPos when the dialog closes and applied
// to the new, still hidden, window at start.
#pragma once

#include <windows.h>

#include "settings_store.h"

namespace tvn {

// The rectangle of the screen that the position is kept inside.
struct VirtualScreen {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
VirtualScreen CurrentVirtualScreen();

// The stored position moved onto the screen. Position form: each coordinate below the
// screen's start goes to the start, then one past its far edge goes to half of that edge.
// Placement form: only the normal rectangle's left/top corner is taken; the rectangle gets
// the `window`'s own size (the dialog is never resized) and moves so that its left/top edges
// are inside, only those edges tested; a maximized show command becomes a normal one.
SettingsStore::WindowSubPos KeepOnScreen(const SettingsStore::WindowSubPos& stored,
                                         const VirtualScreen& screen, SIZE window);

// Writes the window's normal position and show command (12 bytes), creating the key when it
// is missing. Returns the registry result, ERROR_INVALID_DATA when there is no key to write.
LSTATUS SaveWindowPosition(HWND window);
// Places the window as stored (nothing changes when there is no usable value). Returns the
// registry result, ERROR_INVALID_DATA when there is no key to read.
LSTATUS RestoreWindowPosition(HWND window);

}  // namespace tvn
