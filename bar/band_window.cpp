#include "band_window.h"

#include <commctrl.h>

#include "inproc_module.h"
#include "resource.h"
#include "settings_store.h"
#include "sync.h"

namespace tvn::bar {
namespace {

constexpr wchar_t kClassName[] = L"TolvaneBandWindow";
// Child, visible, clipping siblings and children; WS_TABSTOP is added once it exists.
constexpr DWORD kBandStyle = 0x56000000;
constexpr DWORD kBandStyleWithTabStop = 0x56010000;
// Child, visible, clipping, tab stop, flat, no divider, placed and sized by the band.
constexpr DWORD kToolbarStyle = 0x5601084F;
constexpr int kButtonBitmapWidth = 26;
constexpr int kButtonBitmapHeight = 20;
constexpr int kButtonImageWidth = 24;
constexpr int kButtonImageHeight = 20;

// The band window class is registered when the first band window of the process is made and
// unregistered when the last one has gone. The library may be unloaded once no band is alive
// (DllCanUnloadNow); a class left behind would point at its unloaded code, and a reloaded
// library would find the name taken. Bands live on several Explorer threads, hence the lock.
acl::OwnedCriticalSection g_classLock;
int g_classUsers = 0;

bool AcquireClass(HINSTANCE module, WNDPROC procedure) {
    auto hold = g_classLock.Enter();
    bool held = true;
    if (g_classUsers == 0) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = module;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = kClassName;
        held = RegisterClassExW(&windowClass) != 0;
    }
    if (held) {
        ++g_classUsers;
    }
    return held;
}

void ReleaseClass(HINSTANCE module) {
    auto hold = g_classLock.Enter();
    if (--g_classUsers == 0) {
        UnregisterClassW(kClassName, module);
    }
}

}  // namespace

BandWindow::BandWindow() noexcept : configMessage_(SettingsStore::RegisterConfigUpdateMessage()) {}

bool BandWindow::Create(HWND host, IWebBrowser2* browser) noexcept {
    Destroy();
    HINSTANCE module = com::ModuleHandle();
    RECT client{};
    GetClientRect(host, &client);
    classHeld_ = AcquireClass(module, Procedure);
    if (!classHeld_) {
        return false;
    }
    HWND made = CreateWindowExW(0, kClassName, nullptr, kBandStyle, client.left, client.top,
                                client.right - client.left, client.bottom - client.top, host,
                                nullptr, module, this);
    if (made == nullptr) {
        return false;
    }
    browser_ = ComPtr<IWebBrowser2>::Copy(browser);
    SetWindowLongW(made, GWL_STYLE, kBandStyleWithTabStop);
    return IsWindow(made) != FALSE;
}

void BandWindow::Destroy() noexcept {
    if (toolbar_ != nullptr) {
        DestroyWindow(toolbar_);
        toolbar_ = nullptr;
    }
    if (window_ != nullptr) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
    images_.reset();
    menu_.Destroy();
    browser_.reset();
    if (classHeld_) {
        classHeld_ = false;
        ReleaseClass(com::ModuleHandle());
    }
}

LRESULT CALLBACK BandWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<BandWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<BandWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // Whoever destroys the window (the band, or the host with its own window), this object
        // hears of it and never uses the handles again.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->toolbar_ = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT BandWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate();
            return 0;
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(window_, &client);
            UniqueBrush face(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
            FillRect(reinterpret_cast<HDC>(wParam), &client, face.get());
            return 1;
        }
        case WM_MEASUREITEM: {
            auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (measure != nullptr && measure->CtlType == ODT_MENU) {
                menu_.Menu().MeasureItem(measure);
            }
            return 0;
        }
        case WM_DRAWITEM: {
            auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (draw != nullptr && draw->CtlType == ODT_MENU) {
                menu_.Menu().DrawItem(draw);
            }
            return 0;
        }
        case WM_MENUCHAR:
            // Owner-drawn items have no text the system could match a mnemonic against.
            if (LRESULT chosen = menu_.Menu().MenuChar(wParam, lParam)) {
                return chosen;
            }
            break;
        case WM_COMMAND:
            if (wParam == kSettingsButtonId) {
                return OpenMenu();
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void BandWindow::OnCreate() {
    auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    {
        // The toolbar, its image list and the messages that set it up bind to common
        // controls 6, which the library's own manifest names.
        com::ModuleActivation activation;
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        toolbar_ =
            CreateWindowExW(WS_EX_TOOLWINDOW, TOOLBARCLASSNAMEW, L"Tolvane Toolbar", kToolbarStyle,
                            0, 0, kBandWidth, kBandHeight, window_, nullptr, module, nullptr);
        SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        SendMessageW(toolbar_, TB_SETBITMAPSIZE, 0,
                     MAKELONG(kButtonBitmapWidth, kButtonBitmapHeight));
        images_.reset(
            ImageList_Create(kButtonImageWidth, kButtonImageHeight, ILC_MASK | ILC_COLOR16, 0, 1));
        UniqueBitmap button(LoadBitmapW(module, MAKEINTRESOURCEW(IDB_TOOLBAR)));
        if (images_ && button) {
            ImageList_AddMasked(images_.get(), button.get(), CLR_DEFAULT);
        }
        SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.get()));
        SendMessageW(toolbar_, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(images_.get()));
        TBBUTTON settings{};
        settings.iBitmap = 0;
        settings.idCommand = kSettingsButtonId;
        settings.fsState = TBSTATE_ENABLED;
        settings.fsStyle = BTNS_BUTTON;
        settings.iString = -1;
        SendMessageW(toolbar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&settings));
    }
    menu_.SetUp(module, window_);
}

LRESULT BandWindow::OpenMenu() {
    // The menu loop, the broadcast and the refresh dispatch messages and calls; one of them
    // may release the band. This reference keeps the object (and so this window object) alive
    // until the command is done.
    ComPtr<IUnknown> keepAlive = ComPtr<IUnknown>::Copy(lifetime_);
    ComPtr<IWebBrowser2> browser = browser_;
    return menu_.Open(window_, toolbar_, kSettingsButtonId, configMessage_, browser.get());
}

}  // namespace tvn::bar
