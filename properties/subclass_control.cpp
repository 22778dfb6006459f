#include "subclass_control.h"

#include <new>

#include "sync.h"
#include "unique_handle.h"

namespace acl {
namespace {

// The process's reference to the global atom, held while any window carries the property.
// Global atoms are counted by the system: the process adds its own reference when its first
// control attaches and deletes it after the last one, so a program that holds the same atom
// name (another instance, or any other user) keeps it.
struct AtomState {
    OwnedCriticalSection lock;
    tvn::UniqueGlobalAtom atom;
    volatile LONG uses = 0;
};
AtomState g_atom;

DWORD LastErrorOr(DWORD fallback) noexcept {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// Adds one use of the atom (creating the process's reference at the first); returns 0 and
// the atom, or the system's error.
DWORD AcquireAtom(ATOM* atom) noexcept {
    auto hold = g_atom.lock.Enter();
    DWORD result = ERROR_SUCCESS;
    if (!g_atom.atom) {
        g_atom.atom.reset(GlobalAddAtomW(SubclassControlBase::kAtomName));
        if (!g_atom.atom) {
            result = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    if (result == ERROR_SUCCESS) {
        InterlockedIncrement(&g_atom.uses);
        *atom = g_atom.atom.get();
    }
    return result;
}

void ReleaseAtom() noexcept {
    auto hold = g_atom.lock.Enter();
    if (InterlockedDecrement(&g_atom.uses) <= 0) {
        g_atom.uses = 0;
        g_atom.atom.reset();
    }
}

// The atom while a use is held (callers hold one, so it cannot change under them).
ATOM CurrentAtom() noexcept {
    auto hold = g_atom.lock.Enter();
    return g_atom.atom.get();
}

SubclassControlBase* ObjectOf(HWND window) noexcept {
    ATOM atom = CurrentAtom();
    if (atom == 0) {
        return nullptr;
    }
    return static_cast<SubclassControlBase*>(GetPropW(window, MAKEINTATOM(atom)));
}

}  // namespace

// Stands in for an object that detached while a later subclass of the control still calls
// our shared procedure: forwards every message to the procedure that was there before us,
// keeps the property and the atom use of the object it replaced, and deletes itself when the
// window is destroyed.
class SubclassControlBase::PassThrough final : public SubclassControlBase {
  public:
    PassThrough(HWND control, WNDPROC previous) noexcept {
        attached_ = true;
        control_ = control;
        previousProc_ = previous;
    }
    DWORD Detach() noexcept override {
        SubclassControlBase::Detach();
        delete this;
        return ERROR_SUCCESS;
    }
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        return CallPreviousProc(window, message, wParam, lParam);
    }
};

DWORD SubclassControlBase::Attach(HWND control, LONG_PTR styleBits) noexcept {
    if (attached_) {
        Detach();
    }
    if (control == nullptr || !IsWindow(control)) {
        return ERROR_INVALID_WINDOW_HANDLE;
    }
    ATOM atom = 0;
    if (DWORD error = AcquireAtom(&atom)) {
        return error;
    }
    // Two layers of this kind on one window would find each other's object and loop.
    if (GetPropW(control, MAKEINTATOM(atom)) != nullptr) {
        ReleaseAtom();
        return ERROR_ALREADY_EXISTS;
    }

    // Each step that fails takes back the ones before it.
    const LONG_PTR oldStyle = GetWindowLongPtrW(control, GWL_STYLE);
    const bool restyle = styleBits != 0 && (oldStyle | styleBits) != oldStyle;
    if (restyle) {
        SetLastError(ERROR_SUCCESS);
        if (SetWindowLongPtrW(control, GWL_STYLE, oldStyle | styleBits) == 0 &&
            GetLastError() != ERROR_SUCCESS) {
            DWORD error = GetLastError();
            ReleaseAtom();
            return error;
        }
    }
    if (!SetPropW(control, MAKEINTATOM(atom), static_cast<HANDLE>(this))) {
        DWORD error = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
        if (restyle) {
            SetWindowLongPtrW(control, GWL_STYLE, oldStyle);
        }
        ReleaseAtom();
        return error;
    }
    SetLastError(ERROR_SUCCESS);
    LONG_PTR previous =
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SharedWindowProc));
    if (previous == 0) {
        DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
        RemovePropW(control, MAKEINTATOM(atom));
        if (restyle) {
            SetWindowLongPtrW(control, GWL_STYLE, oldStyle);
        }
        ReleaseAtom();
        return error;
    }
    attached_ = true;
    control_ = control;
    previousProc_ = reinterpret_cast<WNDPROC>(previous);
    return ERROR_SUCCESS;
}

DWORD SubclassControlBase::Detach() noexcept {
    if (!attached_) {
        return ERROR_SUCCESS;
    }
    const ATOM atom = CurrentAtom();
    const bool ours =
        GetWindowLongPtrW(control_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&SharedWindowProc);
    bool handedOver = false;
    if (ours) {
        SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    } else if (!windowGoing_) {
        // A later subclass calls our procedure as its previous one: leave a pass-through in
        // our place. Without memory for it, cutting the later subclass off is still better
        // than leaving it a dangling object.
        if (auto* pass = new (std::nothrow) PassThrough(control_, previousProc_)) {
            handedOver = SetPropW(control_, MAKEINTATOM(atom), static_cast<HANDLE>(pass)) != 0;
            if (!handedOver) {
                delete pass;
            }
        }
        if (!handedOver) {
            SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
        }
    }
    if (!handedOver) {
        RemovePropW(control_, MAKEINTATOM(atom));
    }
    attached_ = false;
    windowGoing_ = false;
    control_ = nullptr;
    previousProc_ = nullptr;
    if (!handedOver) {
        ReleaseAtom();
    }
    return ERROR_SUCCESS;
}

SubclassControlBase::~SubclassControlBase() {
    SubclassControlBase::Detach();
}

LRESULT SubclassControlBase::CallPreviousProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) noexcept {
    if (previousProc_ == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return CallWindowProcW(previousProc_, window, message, wParam, lParam);
}

LRESULT CALLBACK SubclassControlBase::SharedWindowProc(HWND window, UINT message, WPARAM wParam,
                                                       LPARAM lParam) {
    SubclassControlBase* object = ObjectOf(window);
    if (object == nullptr) {
        // Our procedure without our property (someone removed it): the default handling
        // at least keeps the window usable.
        return DefWindowProcW(window, message, wParam, lParam);
    }
    LRESULT result = 0;
    try {
        result = object->WindowProc(window, message, wParam, lParam);
    } catch (...) {
        result = 0;
    }
    if (message == WM_NCDESTROY) {
        // The control goes before its object detached: give back everything it held. The
        // object is looked up again, as the message may have detached or deleted it.
        if (SubclassControlBase* still = ObjectOf(window)) {
            still->windowGoing_ = true;
            still->Detach();
        }
    }
    return result;
}

}  // namespace acl
