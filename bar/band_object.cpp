#include "band_object.h"

#include <cwchar>

namespace tvn::bar {
namespace {

constexpr com::TypeLibrary kBarTypeLibrary{&LIBID_TVNBarLib, 1, 0, LOCALE_NEUTRAL};

}  // namespace

TVNWinExpBar::TVNWinExpBar() : Dispatch(kBarTypeLibrary) {
    // The controlling unknown: the outer object's when aggregated.
    window_.SetLifetime(static_cast<IObjectWithSite*>(this));
}

const com::InterfaceEntry* TVNWinExpBar::Interfaces() {
    using com::InterfaceOffset;
    static const com::InterfaceEntry table[] = {
        {&IID_ITVNWinExpBar, InterfaceOffset<TVNWinExpBar, ITVNWinExpBar>()},
        {&IID_IDispatch, InterfaceOffset<TVNWinExpBar, ITVNWinExpBar>()},
        {&IID_IObjectWithSite, InterfaceOffset<TVNWinExpBar, IObjectWithSite>()},
        {&IID_IDeskBand, InterfaceOffset<TVNWinExpBar, IDeskBand>()},
        {&IID_IDockingWindow, InterfaceOffset<TVNWinExpBar, IDeskBand>()},
        {&IID_IInputObject, InterfaceOffset<TVNWinExpBar, IInputObject>()},
        {nullptr, 0},
    };
    return table;
}

// Every failure is this method's result; nothing it calls throws.
STDMETHODIMP TVNWinExpBar::SetSite(IUnknown* site) {
    inputSite_.reset();
    if (site == nullptr) {
        return S_OK;  // the band window stays as it is
    }
    host_ = nullptr;
    ComPtr<IOleWindow> oleWindow;
    if (SUCCEEDED(site->QueryInterface(IID_IOleWindow, oleWindow.put_void())) && oleWindow) {
        HWND window = nullptr;
        if (SUCCEEDED(oleWindow->GetWindow(&window))) {
            host_ = window;
        }
    }
    oleWindow.reset();
    if (!IsWindow(host_)) {
        return E_FAIL;
    }
    ComPtr<IServiceProvider> services;
    if (FAILED(site->QueryInterface(IID_IServiceProvider, services.put_void())) || !services) {
        return E_FAIL;
    }
    browser_.reset();
    if (FAILED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, browser_.put_void())) ||
        !browser_) {
        browser_.reset();
        return E_FAIL;
    }
    if (!window_.Create(host_, browser_.get())) {
        return E_FAIL;
    }
    HRESULT hr = site->QueryInterface(IID_IInputObjectSite, inputSite_.put_void());
    if (FAILED(hr) || !inputSite_) {
        inputSite_.reset();
        return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP TVNWinExpBar::GetSite(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (inputSite_) {
        return inputSite_->QueryInterface(riid, ppv);
    }
    *ppv = nullptr;
    return E_FAIL;
}

STDMETHODIMP TVNWinExpBar::GetWindow(HWND* window) {
    if (window == nullptr) {
        return E_INVALIDARG;
    }
    *window = window_.Window();
    return S_OK;
}

STDMETHODIMP TVNWinExpBar::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP TVNWinExpBar::ShowDW(BOOL show) {
    if (HWND window = window_.Window()) {
        ShowWindow(window, show ? SW_SHOW : SW_HIDE);
    }
    return S_OK;
}

STDMETHODIMP TVNWinExpBar::CloseDW(DWORD) {
    return S_OK;  // the windows go with the object
}

STDMETHODIMP TVNWinExpBar::ResizeBorderDW(LPCRECT, IUnknown*, BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP TVNWinExpBar::GetBandInfo(DWORD, DWORD, DESKBANDINFO* info) {
    if (info == nullptr) {
        return S_OK;
    }
    const POINTL size{kBandWidth, kBandHeight};
    if (info->dwMask & DBIM_MINSIZE) {
        info->ptMinSize = size;
    }
    if (info->dwMask & DBIM_MAXSIZE) {
        info->ptMaxSize = size;
    }
    if (info->dwMask & DBIM_INTEGRAL) {
        info->ptIntegral = size;
    }
    if (info->dwMask & DBIM_ACTUAL) {
        info->ptActual = size;
    }
    if (info->dwMask & DBIM_TITLE) {
        info->wszTitle[0] = 0;
    }
    if (info->dwMask & DBIM_MODEFLAGS) {
        info->dwModeFlags = DBIMF_USECHEVRON;
    }
    // The host paints its default background behind the band.
    info->dwMask &= ~static_cast<DWORD>(DBIM_BKCOLOR);
    return S_OK;
}

STDMETHODIMP TVNWinExpBar::UIActivateIO(BOOL activate, MSG*) {
    if (activate == 1) {
        SetFocus(window_.Window());
    }
    return S_OK;
}

STDMETHODIMP TVNWinExpBar::HasFocusIO() {
    HWND focus = GetFocus();
    HWND band = window_.Window();
    if (focus == nullptr || band == nullptr) {
        return S_FALSE;
    }
    for (HWND child = ::GetWindow(band, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (child == focus || ::GetWindow(child, GW_CHILD) == focus) {
            return S_OK;
        }
    }
    return S_FALSE;
}

STDMETHODIMP TVNWinExpBar::TranslateAcceleratorIO(MSG*) {
    return S_FALSE;
}

}  // namespace tvn::bar
