// Drives a running TVN Properties.exe from another process, as a user would through its
// windows: finds its dialog, its message boxes, its popup menu and its about box, reads and
// sets controls, answers questions, and waits for the program to end.
#pragma once

#include <windows.h>

#include <string>

namespace tvn::test {

// The dialog's title (the message boxes carry it too).
inline constexpr const wchar_t* kDialogTitle = L"Tolvane\u2122 x64 edition";
inline constexpr const wchar_t* kAboutTitle = L"About Tolvane\u2122 x64";

class PropertiesProgram {
  public:
    PropertiesProgram() = default;
    // Ends a program that is still running (a failed test), so the next one starts clean.
    ~PropertiesProgram();
    PropertiesProgram(const PropertiesProgram&) = delete;
    PropertiesProgram& operator=(const PropertiesProgram&) = delete;

    // Starts `program` with the show command and, unless `waitForDialog` is false, waits
    // until its dialog is visible. False when it did not start or show in time.
    bool Start(const std::wstring& program, int showCommand = SW_SHOWNOACTIVATE,
               bool waitForDialog = true);
    // Takes the dialog of a program that is already running (waiting up to `timeoutMs` for
    // it), without owning its process. False when none came.
    bool Attach(DWORD timeoutMs = 20000);
    // Waits for the end; the exit code, or 0xDEAD when it did not end in time.
    DWORD WaitForExit(DWORD timeoutMs = 20000);

    HWND Dialog() const { return dialog_; }
    HWND Control(int id) const { return GetDlgItem(dialog_, id); }
    DWORD ProcessId() const { return processId_; }
    HANDLE Process() const { return process_; }

    // Controls, each through one message sent across (it returns when handled).
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text) const;
    int Selection(int id) const;
    // CB_SETCURSEL and the CBN_SELCHANGE the dialog would get from a user's choice.
    void Select(int id, int index) const;
    // The text typed into an editable combo box: its edit field gets the text, the dialog
    // the CBN_EDITCHANGE of typing.
    void Type(int id, const std::wstring& text) const;
    bool Checked(int id) const;
    bool Enabled(int id) const;
    // BM_CLICK, sent (returns when handled) or posted (for clicks that open a modal box).
    void Click(int id) const;
    void PostClick(int id) const;
    // A command posted to the dialog (IDOK, IDCANCEL, ...).
    void PostCommand(int id) const;

    // A visible window of the program of class `windowClass` owned by `owner` (null: any
    // owner), waiting up to `timeoutMs`; null when none came.
    HWND WaitForWindow(const wchar_t* windowClass, HWND owner, DWORD timeoutMs = 10000) const;
    // The message box that the dialog shows now, and its text.
    HWND WaitForMessageBox(DWORD timeoutMs = 10000) const;
    static std::wstring MessageBoxText(HWND box);
    // Posts the button's command to a message box.
    static void Answer(HWND box, int button);
    // Waits until `window` is gone.
    static bool WaitGone(HWND window, DWORD timeoutMs = 10000);

    // Opens the Menu button's popup and returns its menu window, or null.
    HWND OpenMenu() const;
    // Keys posted to a popup menu window (VK_DOWN, VK_RETURN, VK_ESCAPE).
    static void MenuKey(HWND menu, WPARAM key);

  private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND dialog_ = nullptr;
};

// Text of any window of another process (WM_GETTEXT).
std::wstring WindowText(HWND window);

// The number of visible top-level dialogs titled like the properties dialog and owned by
// nobody, in every process.
int CountPropertiesDialogs();

}  // namespace tvn::test
