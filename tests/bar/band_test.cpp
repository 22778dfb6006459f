// The band object through COM as the toolbar host drives it: its interfaces, its size, its
// site, focus and windows, its window class across unloading, and no object left behind.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "band_support.h"
#include "com_core.h"
#include "gdi_scope.h"
#include "tvn_bar.h"

namespace tvn::test {
namespace {

using tools::BandSite;
using tools::BandSiteParts;

class BandTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { installed_ = InstallBand(); }
    void SetUp() override { ASSERT_TRUE(installed_) << "TVN Bar.dll could not be installed"; }
    static inline bool installed_ = false;
    com::ComInit com_;
};

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

TEST_F(BandTest, QueryInterfaceAnswersItsTableAndRefusesIOleWindow) {
    Band band;
    ASSERT_EQ(band.created, S_OK);
    struct Case {
        const char* name;
        const IID* iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"ITVNWinExpBar", &IID_ITVNWinExpBar, S_OK},
        {"IDispatch", &IID_IDispatch, S_OK},
        {"IObjectWithSite", &IID_IObjectWithSite, S_OK},
        {"IDeskBand", &IID_IDeskBand, S_OK},
        {"IDockingWindow", &IID_IDockingWindow, S_OK},
        {"IInputObject", &IID_IInputObject, S_OK},
        {"IOleWindow", &IID_IOleWindow, E_NOINTERFACE},
        {"IPersistStream", &IID_IPersistStream, E_NOINTERFACE},
        {"IInputObjectSite", &IID_IInputObjectSite, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        ComPtr<IUnknown> answered;
        EXPECT_EQ(band.object->QueryInterface(*c.iid, answered.put_void()), c.expected) << c.name;
        EXPECT_EQ(static_cast<bool>(answered), c.expected == S_OK) << c.name;
        if (!answered) {
            continue;
        }
        // Every interface leads back to the one IUnknown.
        ComPtr<IUnknown> identity;
        ASSERT_EQ(answered->QueryInterface(IID_IUnknown, identity.put_void()), S_OK) << c.name;
        EXPECT_EQ(identity.get(), band.object.get()) << c.name;
    }
    // IDockingWindow and IOleWindow's methods share IDeskBand's table.
    ComPtr<IDeskBand> deskBand = band.As<IDeskBand>(IID_IDeskBand);
    ComPtr<IDockingWindow> docking = band.As<IDockingWindow>(IID_IDockingWindow);
    EXPECT_EQ(static_cast<IDockingWindow*>(deskBand.get()), docking.get());
}

// An outer object that counts what its inner object delegates to it.
class Outer final : public IUnknown {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        if (inner != nullptr) {
            return inner->QueryInterface(riid, ppv);
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    IUnknown* inner = nullptr;
    int queries = 0;
    ULONG references = 1;
};

TEST_F(BandTest, AggregatedTheBandAnswersThroughItsOuterObject) {
    Outer outer;
    ComPtr<IUnknown> refused;
    EXPECT_EQ(CoCreateInstance(CLSID_TVNWinExpBar, &outer, CLSCTX_INPROC_SERVER, IID_IDeskBand,
                               refused.put_void()),
              CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(refused);

    ComPtr<IUnknown> inner;
    ASSERT_EQ(CoCreateInstance(CLSID_TVNWinExpBar, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               inner.put_void()),
              S_OK);
    outer.inner = inner.get();
    ComPtr<IDeskBand> band;
    ASSERT_EQ(inner->QueryInterface(IID_IDeskBand, band.put_void()), S_OK);
    ULONG before = outer.references;
    // An interface of the inner object counts on the outer one and asks it for others.
    band->AddRef();
    EXPECT_EQ(outer.references, before + 1);
    band->Release();
    int queries = outer.queries;
    ComPtr<IUnknown> identity;
    ASSERT_EQ(band->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
    EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
    EXPECT_EQ(outer.queries, queries + 1);
    identity.reset();
    band.reset();
    outer.inner = nullptr;
}

TEST_F(BandTest, BandInfoFollowsTheMask) {
    Band band;
    ComPtr<IDeskBand> deskBand = band.As<IDeskBand>(IID_IDeskBand);
    ASSERT_TRUE(deskBand);
    EXPECT_EQ(deskBand->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, nullptr), S_OK);

    const POINTL untouched{-7, -7};
    const POINTL size{32, 26};
    struct Case {
        const char* name;
        DWORD mask;
        DWORD maskAfter;
    };
    const Case cases[] = {
        {"everything", 0x7F, 0x3F},
        {"title and background only", DBIM_TITLE | DBIM_BKCOLOR, DBIM_TITLE},
        {"sizes", DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_INTEGRAL | DBIM_ACTUAL, 0x0F},
        {"mode flags", DBIM_MODEFLAGS, DBIM_MODEFLAGS},
        {"nothing", 0, 0},
    };
    for (const Case& c : cases) {
        for (DWORD viewMode : {DBIF_VIEWMODE_NORMAL, DBIF_VIEWMODE_VERTICAL}) {
            DESKBANDINFO info{};
            info.dwMask = c.mask;
            info.ptMinSize = info.ptMaxSize = info.ptIntegral = info.ptActual = untouched;
            wcscpy(info.wszTitle, L"old title");
            info.dwModeFlags = 0x1234;
            info.crBkgnd = 0x00ABCDEF;
            ASSERT_EQ(deskBand->GetBandInfo(7, viewMode, &info), S_OK) << c.name;
            EXPECT_EQ(Hex(info.dwMask), Hex(c.maskAfter)) << c.name;
            auto expect = [&](DWORD bit, POINTL point, const char* field) {
                POINTL want = c.mask & bit ? size : untouched;
                EXPECT_EQ(point.x, want.x) << c.name << " " << field;
                EXPECT_EQ(point.y, want.y) << c.name << " " << field;
            };
            expect(DBIM_MINSIZE, info.ptMinSize, "min");
            expect(DBIM_MAXSIZE, info.ptMaxSize, "max");
            expect(DBIM_INTEGRAL, info.ptIntegral, "integral");
            expect(DBIM_ACTUAL, info.ptActual, "actual");
            EXPECT_STREQ(info.wszTitle, c.mask & DBIM_TITLE ? L"" : L"old title") << c.name;
            EXPECT_EQ(Hex(info.dwModeFlags),
                      Hex(c.mask & DBIM_MODEFLAGS ? DBIMF_USECHEVRON : 0x1234))
                << c.name;
            EXPECT_EQ(Hex(info.crBkgnd), Hex(0x00ABCDEF)) << c.name;
        }
    }
}

TEST_F(BandTest, FixedAnswersWithoutASite) {
    Band band;
    ComPtr<IDeskBand> deskBand = band.As<IDeskBand>(IID_IDeskBand);
    ComPtr<IInputObject> input = band.As<IInputObject>(IID_IInputObject);
    ComPtr<IObjectWithSite> withSite = band.As<IObjectWithSite>(IID_IObjectWithSite);
    ASSERT_TRUE(deskBand && input && withSite);
    EXPECT_EQ(deskBand->GetWindow(nullptr), E_INVALIDARG);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(deskBand->GetWindow(&window), S_OK);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(deskBand->ContextSensitiveHelp(TRUE), E_NOTIMPL);
    EXPECT_EQ(deskBand->CloseDW(0), S_OK);
    EXPECT_EQ(deskBand->ResizeBorderDW(nullptr, nullptr, FALSE), E_NOTIMPL);
    EXPECT_EQ(deskBand->ShowDW(TRUE), S_OK);
    EXPECT_EQ(input->TranslateAcceleratorIO(nullptr), S_FALSE);
    EXPECT_EQ(input->HasFocusIO(), S_FALSE);
    EXPECT_EQ(input->UIActivateIO(TRUE, nullptr), S_OK);
    void* site = reinterpret_cast<void*>(1);
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, &site), E_FAIL);
    EXPECT_EQ(site, nullptr);
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
}

TEST_F(BandTest, DispatchComesFromTheTypeLibrary) {
    Band band;
    ComPtr<IDispatch> dispatch = band.As<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_NEUTRAL, info.put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_ITVNWinExpBar));
    EXPECT_EQ(attributes->cFuncs, 7u) << "IUnknown's and IDispatch's, none of its own";
    info->ReleaseTypeAttr(attributes);
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.put(), &index), S_OK);
    UniqueBstr name, doc;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_STREQ(name.get(), L"TVNBarLib");
    EXPECT_STREQ(doc.get(), L"TVNBar 1.0 Type Library");
}

TEST_F(BandTest, TheLibraryCarriesItsManifestNameAndVersion) {
    UniqueModule module(LoadLibraryExW(kBarDll, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    // The manifest the toolbar's common-controls calls are activated with.
    HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(2), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(module.get(), found))),
                         SizeofResource(module.get(), found));
    for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                             "processorArchitecture=\"amd64\""}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
    wchar_t name[32] = {};
    EXPECT_GT(LoadStringW(module.get(), 100, name, 32), 0);
    EXPECT_STREQ(name, L"TVN Bar");

    DWORD size = GetFileVersionInfoSizeW(kBarDll, nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(kBarDll, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(Hex(fixed->dwFileVersionMS), Hex(0x00050000));
    EXPECT_EQ(Hex(fixed->dwFileVersionLS), Hex(0));
    EXPECT_EQ(Hex(fixed->dwProductVersionMS), Hex(0x00050000));
    const struct {
        const wchar_t* key;
        const wchar_t* value;
    } strings[] = {
        {L"FileVersion", L"5.00"},
        {L"ProductVersion", L"5.00"},
        {L"FileDescription", L"Tolvane Explorer Toolbar"},
        {L"InternalName", L"TVN Bar"},
        {L"OriginalFilename", L"TVN Bar.dll"},
        {L"ProductName", L"Tolvane"},
    };
    for (const auto& entry : strings) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + entry.key;
        wchar_t* value = nullptr;
        ASSERT_TRUE(
            VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
            << testing::PrintToString(entry.key);
        EXPECT_STREQ(value, entry.value);
    }
}

TEST_F(BandTest, SitesThatCannotHostTheBandFailWithoutAWindow) {
    HostWindow host;
    struct Case {
        const char* name;
        BandSiteParts parts;
        bool realHost;
        HRESULT expected;
        bool window;
    };
    const Case cases[] = {
        {"a full site", {}, true, S_OK, true},
        {"no IOleWindow", {.window = false}, true, E_FAIL, false},
        {"a window that is none", {}, false, E_FAIL, false},
        {"no IServiceProvider", {.serviceProvider = false}, true, E_FAIL, false},
        {"no browser", {.browser = false}, true, E_FAIL, false},
        // The window is made before the input-object site is asked for.
        {"no IInputObjectSite", {.inputObjectSite = false}, true, E_FAIL, true},
    };
    for (const Case& c : cases) {
        HWND hostWindow = c.realHost ? host.get() : reinterpret_cast<HWND>(0x7FF0);
        ComPtr<BandSite> site = BandSite::Create(hostWindow, c.parts);
        ASSERT_TRUE(site);
        Band band;
        EXPECT_EQ(band.SetSite(static_cast<IOleWindow*>(site.get())), c.expected) << c.name;
        HWND window = band.Window();
        EXPECT_EQ(window != nullptr, c.window) << c.name;
        EXPECT_EQ(GetWindow(host.get(), GW_CHILD) != nullptr, c.window) << c.name;
        ComPtr<IUnknown> held;
        ComPtr<IObjectWithSite> withSite = band.As<IObjectWithSite>(IID_IObjectWithSite);
        EXPECT_EQ(withSite->GetSite(IID_IUnknown, held.put_void()),
                  c.expected == S_OK ? S_OK : E_FAIL)
            << c.name;
        held.reset();
        withSite.reset();
        band.object.reset();
        EXPECT_EQ(GetWindow(host.get(), GW_CHILD), nullptr)
            << c.name << ": the windows go with the band";
        EXPECT_EQ(site->BrowserReferences(), 0u) << c.name << ": the browser was let go";
    }
}

TEST_F(BandTest, WindowAndToolbarAreBuiltAsTheHostExpects) {
    HostWindow host(false, {0, 0, 300, 40});
    ComPtr<BandSite> site = BandSite::Create(host.get());
    Band band;
    ASSERT_EQ(band.SetSite(static_cast<IOleWindow*>(site.get())), S_OK);
    HWND window = band.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), host.get());
    EXPECT_EQ(Hex(GetWindowLongW(window, GWL_STYLE)), Hex(0x56010000));
    EXPECT_EQ(Hex(GetWindowLongW(window, GWL_EXSTYLE)), Hex(0));
    EXPECT_EQ(GetDlgCtrlID(window), 0);
    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_EQ(rect.bottom - rect.top, 40);
    EXPECT_EQ(Hex(GetClassLongW(window, GCL_STYLE)), Hex(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
    EXPECT_EQ(GetClassLongPtrW(window, GCLP_HBRBACKGROUND), COLOR_WINDOW + 1);
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrW(window, GCLP_HCURSOR)),
              LoadCursorW(nullptr, IDC_ARROW));

    HWND toolbar = band.Toolbar();
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(GetWindow(toolbar, GW_HWNDNEXT), nullptr) << "the toolbar is the only child";
    wchar_t text[64];
    GetClassNameW(toolbar, text, 64);
    EXPECT_STREQ(text, L"ToolbarWindow32");
    GetWindowTextW(toolbar, text, 64);
    EXPECT_STREQ(text, L"Tolvane Toolbar");
    EXPECT_EQ(Hex(GetWindowLongW(toolbar, GWL_STYLE)), Hex(0x5601084F));
    EXPECT_TRUE(GetWindowLongW(toolbar, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    GetWindowRect(toolbar, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 32);
    EXPECT_EQ(rect.bottom, 26);

    ASSERT_EQ(SendMessageW(toolbar, TB_BUTTONCOUNT, 0, 0), 1);
    TBBUTTON button{};
    ASSERT_TRUE(SendMessageW(toolbar, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&button)));
    EXPECT_EQ(button.idCommand, 512);
    EXPECT_EQ(button.iBitmap, 0);
    EXPECT_EQ(button.fsState, TBSTATE_ENABLED);
    EXPECT_EQ(button.fsStyle, BTNS_BUTTON);
    EXPECT_EQ(button.iString, -1);
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETIMAGELIST, 0, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, TB_GETHOTIMAGELIST, 0, 0)),
              images);
    int width = 0, height = 0;
    ImageList_GetIconSize(images, &width, &height);
    EXPECT_EQ(width, 24);
    EXPECT_EQ(height, 20);
    EXPECT_EQ(ImageList_GetImageCount(images), 1);
}

TEST_F(BandTest, SiteChangesKeepOrReplaceTheWindow) {
    HostWindow first, second;
    ComPtr<BandSite> firstSite = BandSite::Create(first.get());
    ComPtr<BandSite> secondSite = BandSite::Create(second.get());
    Band band;
    ComPtr<IObjectWithSite> withSite = band.As<IObjectWithSite>(IID_IObjectWithSite);
    ASSERT_EQ(band.SetSite(static_cast<IOleWindow*>(firstSite.get())), S_OK);
    HWND window = band.Window();
    HWND toolbar = band.Toolbar();
    ASSERT_NE(window, nullptr);

    // GetSite answers through the input-object site it holds.
    ComPtr<IInputObjectSite> held;
    ASSERT_EQ(withSite->GetSite(IID_IInputObjectSite, held.put_void()), S_OK);
    EXPECT_EQ(held.get(), static_cast<IInputObjectSite*>(firstSite.get()));
    held.reset();

    // A null site drops only the input-object site.
    ASSERT_EQ(band.SetSite(nullptr), S_OK);
    EXPECT_EQ(band.Window(), window);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(withSite->GetSite(IID_IInputObjectSite, held.put_void()), E_FAIL);

    // Another site: a new window under the new host, and the old one is gone with its toolbar
    // and the old browser.
    ASSERT_EQ(band.SetSite(static_cast<IOleWindow*>(secondSite.get())), S_OK);
    HWND replaced = band.Window();
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(GetParent(replaced), second.get());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(toolbar));
    EXPECT_EQ(GetWindow(first.get(), GW_CHILD), nullptr);
    EXPECT_EQ(firstSite->BrowserReferences(), 0u);
    EXPECT_GT(secondSite->BrowserReferences(), 0u);
    EXPECT_NE(band.Toolbar(), nullptr);

    // A host that destroys its windows first: the band notices and never touches them again.
    HWND secondWindow = band.Window();
    DestroyWindow(second.get());
    EXPECT_FALSE(IsWindow(secondWindow));
    EXPECT_EQ(band.Window(), nullptr);
    band.object.reset();
}

TEST_F(BandTest, FocusIsTheToolbarsAndActivationFocusesOnlyOnOne) {
    HostWindow host(true, {0, 0, 200, 40});
    SetForegroundWindow(host.get());
    ComPtr<BandSite> site = BandSite::Create(host.get());
    Band band;
    ASSERT_EQ(band.SetSite(static_cast<IOleWindow*>(site.get())), S_OK);
    ComPtr<IInputObject> input = band.As<IInputObject>(IID_IInputObject);
    HWND window = band.Window();
    HWND toolbar = band.Toolbar();
    ASSERT_TRUE(input && window && toolbar);

    SetFocus(toolbar);
    ASSERT_EQ(GetFocus(), toolbar);
    EXPECT_EQ(input->HasFocusIO(), S_OK);
    for (BOOL activate : {2, 0, -1}) {
        EXPECT_EQ(input->UIActivateIO(activate, nullptr), S_OK);
        EXPECT_EQ(GetFocus(), toolbar) << "UIActivateIO(" << activate << ") moved the focus";
    }
    EXPECT_EQ(input->UIActivateIO(1, nullptr), S_OK);
    EXPECT_EQ(GetFocus(), window);
    EXPECT_EQ(input->HasFocusIO(), S_FALSE) << "the band window itself has the focus";
    SetFocus(host.get());
    EXPECT_EQ(input->HasFocusIO(), S_FALSE);
}

TEST_F(BandTest, ShowAndEraseBackground) {
    HostWindow host;
    ComPtr<BandSite> site = BandSite::Create(host.get());
    Band band;
    ASSERT_EQ(band.SetSite(static_cast<IOleWindow*>(site.get())), S_OK);
    ComPtr<IDeskBand> deskBand = band.As<IDeskBand>(IID_IDeskBand);
    HWND window = band.Window();
    EXPECT_EQ(deskBand->ShowDW(FALSE), S_OK);
    EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(deskBand->ShowDW(TRUE), S_OK);
    EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE);

    // The background is the button face, whatever the class brush says.
    BITMAPINFO bits{};
    bits.bmiHeader = {sizeof(BITMAPINFOHEADER), 64, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    UniqueBitmap surface(CreateDIBSection(nullptr, &bits, DIB_RGB_COLORS, &pixels, nullptr, 0));
    UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(surface && dc);
    SelectedObject selected(dc.get(), surface.get());
    PatBlt(dc.get(), 0, 0, 64, 32, BLACKNESS);
    EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0), 1);
    EXPECT_EQ(Hex(GetPixel(dc.get(), 10, 10)), Hex(GetSysColor(COLOR_BTNFACE)));
    EXPECT_EQ(Hex(GetPixel(dc.get(), 63, 31)), Hex(GetSysColor(COLOR_BTNFACE)));
}

TEST_F(BandTest, TheWindowClassGoesWithTheLastBandSoTheLibraryCanBeReloaded) {
    HostWindow host;
    ComPtr<BandSite> site = BandSite::Create(host.get());
    for (int round = 0; round < 2; ++round) {
        {
            Band band;
            ASSERT_EQ(band.SetSite(static_cast<IOleWindow*>(site.get())), S_OK) << round;
            HMODULE module = GetModuleHandleW(kBarDll);
            ASSERT_NE(module, nullptr);
            WNDCLASSEXW info{};
            info.cbSize = sizeof(info);
            EXPECT_TRUE(GetClassInfoExW(module, L"TolvaneBandWindow", &info)) << round;
            // The window procedure is live: the background is painted by the library.
            UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
            EXPECT_EQ(
                SendMessageW(band.Window(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0),
                1)
                << round;
            band.object.reset();
            EXPECT_FALSE(GetClassInfoExW(module, L"TolvaneBandWindow", &info)) << round;
        }
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_EQ(GetModuleHandleW(kBarDll), nullptr) << round << ": the library was not unloaded";
    }
}

TEST_F(BandTest, TwoHundredBandsLeaveNoObjectBehind) {
    HostWindow host;
    ComPtr<BandSite> site = BandSite::Create(host.get());
    auto cycle = [&] {
        Band band;
        ASSERT_EQ(band.SetSite(static_cast<IOleWindow*>(site.get())), S_OK);
        ComPtr<IDeskBand> deskBand = band.As<IDeskBand>(IID_IDeskBand);
        DESKBANDINFO info{};
        info.dwMask = 0x7F;
        deskBand->GetBandInfo(0, 0, &info);
        deskBand->ShowDW(TRUE);
        band.SetSite(nullptr);
    };
    // The first bands make what the system keeps once per process (classes, the library).
    cycle();
    cycle();
    const int gdi = LiveGdiObjects(), user = LiveUserObjects(), handles = LiveKernelHandles();
    {
        UniqueBrush brush(CreateSolidBrush(RGB(1, 2, 3)));
        UniqueMenu menu(CreatePopupMenu());
        UniqueHandleObj event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_EQ(LiveGdiObjects(), gdi + 1) << "the counter does not see a new brush";
        // Wine answers more than one handle value for one user object; the count is still
        // the same for the same objects.
        ASSERT_GT(LiveUserObjects(), user) << "the counter does not see a new menu";
        ASSERT_EQ(LiveKernelHandles(), handles + 1) << "the counter does not see a new event";
    }
    for (int i = 0; i < 200; ++i) {
        cycle();
    }
    EXPECT_EQ(LiveGdiObjects(), gdi);
    EXPECT_EQ(LiveUserObjects(), user);
    EXPECT_EQ(LiveKernelHandles(), handles);
    EXPECT_EQ(site->BrowserReferences(), 0u);
}

}  // namespace
}  // namespace tvn::test
