// Base of the controls that take over an existing child window by replacing its window
// procedure. The object of a control is found through a window property named by one
// process-wide global atom, "{D41FEDDC-0584-4030-B19E-2E4AFFC434CD}", which this process holds
// from the first Attach to the last Detach.
//
// Lifetime: a derived object must outlive its attachment or detach first (its destructor
// detaches). A control destroyed while attached detaches itself on WM_NCDESTROY, so nothing
// dangles when the dialog goes before the object. When something else subclassed the control
// after us, Detach cannot take our procedure out of the middle of that chain without cutting
// the later one off; it leaves a pass-through in our place that forwards to the previous
// procedure and goes with the window. A window carries at most one subclass of this kind:
// attaching a second object to it is refused. All calls run on the control's thread.
#pragma once

#include <windows.h>

namespace acl {

class SubclassControlBase {
  public:
    // The name of the global atom that names the window property.
    static constexpr const wchar_t* kAtomName = L"{D41FEDDC-0584-4030-B19E-2E4AFFC434CD}";

    SubclassControlBase() noexcept = default;
    SubclassControlBase(const SubclassControlBase&) = delete;
    SubclassControlBase& operator=(const SubclassControlBase&) = delete;

    // Subclasses `control`, first detaching from any control attached before, and adds
    // `styleBits` (0: none) to its window style. Returns 0, or the system's error code
    // (ERROR_INVALID_WINDOW_HANDLE for a control that is not a window, ERROR_ALREADY_EXISTS
    // for a control that another object of this kind subclasses); on failure the control
    // keeps its own procedure, style and properties, and nothing is held.
    virtual DWORD Attach(HWND control, LONG_PTR styleBits) noexcept;
    // Gives the control its previous procedure back, removes the property and releases this
    // object's hold on the atom. Returns 0 (also when not attached).
    virtual DWORD Detach() noexcept;
    virtual ~SubclassControlBase();
    // Receives every message of the attached control; what it does not handle goes to
    // CallPreviousProc.
    virtual LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    bool IsAttached() const noexcept { return attached_; }
    HWND ControlWindow() const noexcept { return control_; }

  protected:
    // The procedure the control had before Attach (through CallWindowProcW, so an ANSI
    // procedure gets its messages translated).
    LRESULT CallPreviousProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  private:
    class PassThrough;

    static LRESULT CALLBACK SharedWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

    bool attached_ = false;
    bool windowGoing_ = false;  // set for the Detach that WM_NCDESTROY makes
    HWND control_ = nullptr;
    WNDPROC previousProc_ = nullptr;
};

}  // namespace acl
