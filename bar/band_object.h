// TVNWinExpBar: the Explorer toolbar band. The toolbar host creates it, gives it its site
// (SetSite), asks for its size (GetBandInfo), shows it and moves the focus through it; the
// band window (band_window.h) holds the settings button and its menu.
//
// Threading: apartment. The reference count is plain; the module's count of live objects is
// interlocked (com_core.h).
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "band_window.h"
#include "com_core.h"
#include "com_ptr.h"
#include "dispatch.h"
#include "tvn_bar.h"

namespace tvn::bar {

class TVNWinExpBar : public com::Dispatch<ITVNWinExpBar>,
                     public IObjectWithSite,
                     public IDeskBand,
                     public IInputObject {
  public:
    // ITVNWinExpBar, IDispatch, IObjectWithSite, IDeskBand, IDockingWindow, IInputObject, in
    // this order. IOleWindow is not answered, although its methods are on IDeskBand's table.
    static const com::InterfaceEntry* Interfaces();

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppv) override;

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;

    // IDockingWindow
    STDMETHODIMP ShowDW(BOOL show) override;
    STDMETHODIMP CloseDW(DWORD reserved) override;
    STDMETHODIMP ResizeBorderDW(LPCRECT border, IUnknown* site, BOOL reserved) override;

    // IDeskBand
    STDMETHODIMP GetBandInfo(DWORD bandId, DWORD viewMode, DESKBANDINFO* info) override;

    // IInputObject
    STDMETHODIMP UIActivateIO(BOOL activate, MSG* message) override;
    STDMETHODIMP HasFocusIO() override;
    STDMETHODIMP TranslateAcceleratorIO(MSG* message) override;

  protected:
    TVNWinExpBar();
    ~TVNWinExpBar() = default;

  private:
    ComPtr<IInputObjectSite> inputSite_;
    HWND host_ = nullptr;
    ComPtr<IWebBrowser2> browser_;
    BandWindow window_;  // destroyed first, before the pointers it copied
};

// The class as COM creates it: apartment-threaded, aggregatable.
using BandObject = com::ComObject<TVNWinExpBar, com::PlainCount>;

}  // namespace tvn::bar
