// What the menu tests and the screenshot host share: the set-ups of the toolbar's and the
// properties program's menus as those programs make them, an owner window that forwards the
// owner-draw messages, and the library that carries the properties program's resources.
#pragma once

#include <windows.h>

#include "acl_menu.h"
#include "resource.h"  // the toolbar's
#include "unique_handle.h"

namespace tvn::test {

// Ids of the properties program's resources (its resource.h shares names with the toolbar's).
constexpr UINT kPropertiesMenu = 204;
constexpr UINT kPropertiesIconMenu = 205;
constexpr UINT kPropertiesIconStrip = 131;
constexpr UINT kPropertiesHelp = 32778;
constexpr UINT kPropertiesAbout = 32777;

// The ten colours; the toolbar and the properties program set the same ones.
inline const ACL_Menu::Colors kMenuColors = MenuPalette();

// The toolbar's menu set-up: 14 x 14 icons, menu 204 with icon menu 205 and strip 202, the
// check image 201, the toolbar's colours. Returns the first failing step's code.
inline DWORD SetUpToolbarMenu(ACL_Menu& menu, HINSTANCE module, HWND owner) {
    menu.SetIconSize(14, 14);
    DWORD loaded = menu.Load(module, IDR_SETTINGS_MENU, IDR_MENU_ICONS, IDB_MENU_ICONS, owner);
    DWORD checked = menu.SetCheckImage(LoadBitmapW(module, MAKEINTRESOURCEW(IDB_CHECKMARK)), false);
    menu.SetColors(kMenuColors);
    return loaded != ERROR_SUCCESS ? loaded : checked;
}

// The properties program's: load first, then 16 x 16 icons and its colours; no check image.
inline DWORD SetUpPropertiesMenu(ACL_Menu& menu, HINSTANCE module, HWND owner) {
    DWORD loaded =
        menu.Load(module, kPropertiesMenu, kPropertiesIconMenu, kPropertiesIconStrip, owner);
    menu.SetIconSize(16, 16);
    menu.SetColors(kMenuColors);
    return loaded;
}

// The library with the properties program's resources. It lies beside the running program,
// the first folder the library search tries; the module path itself is of no use under Wine,
// which reports a program started from outside its drives by a path LoadLibraryW refuses.
inline const wchar_t* PropertiesResourceLibrary() {
    return L"acl_menu_properties.dll";
}

// A top-level window that hands its menu-item owner-draw messages to `menu` and everything
// else to `handler` (when set) or DefWindowProcW.
class OwnerWindow {
  public:
    using Handler = LRESULT (*)(OwnerWindow&, UINT, WPARAM, LPARAM, bool* handled);

    explicit OwnerWindow(ACL_Menu* menu, Handler handler = nullptr, DWORD style = WS_POPUP,
                         RECT place = {0, 0, 100, 100})
        : menu_(menu), handler_(handler) {
        static ATOM atom = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            wc.lpszClassName = L"TolvaneMenuTestOwner";
            return RegisterClassW(&wc);
        }();
        (void)atom;
        window_.reset(CreateWindowExW(0, L"TolvaneMenuTestOwner", L"menu owner", style, place.left,
                                      place.top, place.right - place.left, place.bottom - place.top,
                                      nullptr, nullptr, GetModuleHandleW(nullptr), this));
    }
    HWND get() const { return window_.get(); }
    ACL_Menu* menu() const { return menu_; }

    int measured = 0;       // WM_MEASUREITEM of menu items seen
    int drawn = 0;          // WM_DRAWITEM of menu items seen
    void* state = nullptr;  // for the handler

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<OwnerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self == nullptr) {
            return DefWindowProcW(hwnd, message, wParam, lParam);
        }
        switch (message) {
            case WM_MEASUREITEM: {
                auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
                if (measure->CtlType == ODT_MENU && self->menu_ != nullptr) {
                    ++self->measured;
                    self->menu_->MeasureItem(measure);
                    return TRUE;
                }
                break;
            }
            case WM_DRAWITEM: {
                auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
                if (draw->CtlType == ODT_MENU && self->menu_ != nullptr) {
                    ++self->drawn;
                    self->menu_->DrawItem(draw);
                    return TRUE;
                }
                break;
            }
            case WM_MENUCHAR:
                if (self->menu_ != nullptr) {
                    if (LRESULT result = self->menu_->MenuChar(wParam, lParam)) {
                        return result;
                    }
                }
                break;
            default:
                break;
        }
        if (self->handler_ != nullptr) {
            bool handled = false;
            LRESULT result = self->handler_(*self, message, wParam, lParam, &handled);
            if (handled) {
                return result;
            }
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    ACL_Menu* menu_;
    Handler handler_;
    UniqueWindow window_;
};

}  // namespace tvn::test
