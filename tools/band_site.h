// The site a toolbar host gives a band object, for the developer tools and the band's tests:
// IOleWindow (the host's window), IServiceProvider (SID_SWebBrowserApp / IID_IWebBrowser2
// answered with a stand-in browser) and IInputObjectSite. The stand-in browser implements
// only Refresh, which counts and calls the owner's handler; every other browser method is
// E_NOTIMPL.
//
// Parts can be left out, so that a test can offer a band a site without a window, without a
// service provider, without a browser or without the input-object site.
//
// Threading: apartment; plain reference counts. Created with one reference owned by the
// caller.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shobjidl.h>

#include "com_ptr.h"

namespace tvn::tools {

struct BandSiteParts {
    bool window = true;           // IOleWindow
    bool serviceProvider = true;  // IServiceProvider
    bool browser = true;          // QueryService(SID_SWebBrowserApp, IID_IWebBrowser2)
    bool inputObjectSite = true;  // IInputObjectSite
};

class BandSite final : public IOleWindow, public IServiceProvider, public IInputObjectSite {
  public:
    using RefreshHandler = void (*)(void* context);

    // A site whose window is `host` (any value, also one that is no window), with the given
    // parts. `onRefresh` (may be null) runs on every IWebBrowser2::Refresh.
    static ComPtr<BandSite> Create(HWND host, BandSiteParts parts = {},
                                   RefreshHandler onRefresh = nullptr, void* context = nullptr);

    // What the band did with the site.
    int Refreshes() const { return refreshes_; }
    int FocusChanges() const { return focusChanges_; }
    // The browser stand-in's outstanding references (0 once everyone let go of it).
    ULONG BrowserReferences() const;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override;

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IServiceProvider
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override;

    // IInputObjectSite
    STDMETHODIMP OnFocusChangeIS(IUnknown* object, BOOL focus) override;

  private:
    class Browser;

    BandSite(HWND host, BandSiteParts parts, RefreshHandler onRefresh, void* context);
    ~BandSite();
    void Refreshed();

    ULONG references_ = 1;
    HWND host_;
    BandSiteParts parts_;
    RefreshHandler onRefresh_;
    void* context_;
    int refreshes_ = 0;
    int focusChanges_ = 0;
    Browser* browser_ = nullptr;  // owned through its own count; it calls back while alive
};

}  // namespace tvn::tools
