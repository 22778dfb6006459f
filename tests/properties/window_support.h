// Real windows for the dialog-control tests: a top-level parent that records what its
// children send it, message pumping with a deadline, and the pixels a window shows.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "unique_handle.h"

namespace tvn::test {

// Loads the common controls (version 6 through the test program's manifest), once.
void EnsureCommonControls();

// A visible top-level window at a fixed place on the screen. Messages go first to `hook`
// (an answer ends them), WM_COMMAND is recorded, the rest goes to DefWindowProcW.
class ParentWindow {
  public:
    ParentWindow(int width = 320, int height = 120);
    ~ParentWindow();
    ParentWindow(const ParentWindow&) = delete;
    ParentWindow& operator=(const ParentWindow&) = delete;

    HWND get() const { return window_.get(); }
    // A child control with a control id, in client coordinates.
    HWND AddChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, int x,
                  int y, int width, int height) const;

    struct Command {
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Command> commands;
    std::function<std::optional<LRESULT>(UINT, WPARAM, LPARAM)> hook;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    UniqueWindow window_;
};

// Dispatches every message waiting in the thread's queue.
void PumpPending();
// Pumps messages until `done` holds or `timeoutMs` has passed; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// The client area of a window as it is on the screen, one COLORREF per pixel.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> data;

    COLORREF At(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
    int Count(COLORREF color) const;
    int CountInRow(int y, COLORREF color) const;
    // Leftmost and rightmost column holding `color`; -1 when it is nowhere.
    int FirstColumn(COLORREF color) const;
    int LastColumn(COLORREF color) const;
};
Pixels Capture(HWND window);

// Shows a top-level window on top of the others without activating it: without a window
// manager, Wine waits two seconds for every activated window to be withdrawn when it goes.
void ShowWithoutActivating(HWND window);

// Paints a window and its children now.
void PaintNow(HWND window);

// A font that draws without anti-aliasing, so text pixels have exactly the text colour.
UniqueFont CrispFont(int height, int weight = FW_NORMAL);

// The folder of the running test program, in a form the file functions open.
std::wstring ProgramFolder();
// A copy of the program `name` from the test program's folder in the prefix's temporary
// folder, where the shell can start it by an ordinary path; empty when it cannot be made.
std::wstring CopyToTemp(const wchar_t* name);

}  // namespace tvn::test
