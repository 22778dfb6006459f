#include "band_support.h"

#include <commctrl.h>

#include <algorithm>

#include "column_support.h"
#include "menu_windows.h"
#include "test_tree.h"
#include "tvn_bar.h"

namespace tvn::test {
namespace {

std::wstring Built(const wchar_t* relative) {
    return BuildTop() + relative;
}

bool CopyOver(const std::wstring& from, const std::wstring& to) {
    // A copy that is loaded (the library of an earlier case) cannot be replaced; it is the
    // same file.
    return CopyFileW(from.c_str(), to.c_str(), FALSE) || GetLastError() == ERROR_SHARING_VIOLATION;
}

std::wstring LogPath(const std::wstring& folder) {
    std::wstring path = folder + L"\\" + kStandInLogName;
    return path.size() < MAX_PATH || path.rfind(L"\\\\?\\", 0) == 0 ? path : L"\\\\?\\" + path;
}

}  // namespace

bool CopyBuiltBand(const std::wstring& path) {
    return CopyOver(Built(L"\\bar\\TVN Bar.dll"), path);
}

bool CopyStandIn(const std::wstring& path) {
    return CopyOver(TestProgramDir() + L"\\properties_stand_in.exe", path);
}

bool InstallBand() {
    CreateFolders(kBarDir);
    if (!CopyBuiltBand(kBarDll) || !CopyStandIn(kStandInProgram) ||
        !CopyOver(TestProgramDir() + L"\\config_listener.exe", kListenerProgram)) {
        return false;
    }
    return RunProgram(L"regsvr32 /s " + Quoted(kBarDll)) == 0;
}

std::vector<std::wstring> StandInStarts(const std::wstring& folder) {
    std::vector<std::wstring> lines;
    UniqueFile file(CreateFileW(LogPath(folder).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    if (!file) {
        return lines;
    }
    std::wstring text;
    wchar_t buffer[1024];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0) {
        text.append(buffer, read / sizeof(wchar_t));
    }
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

void ClearStandInStarts(const std::wstring& folder) {
    DeleteFileW(LogPath(folder).c_str());
}

std::vector<std::wstring> WaitForStandInStarts(const std::wstring& folder, size_t count,
                                               DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    std::vector<std::wstring> lines = StandInStarts(folder);
    while (lines.size() < count && GetTickCount64() < deadline) {
        Sleep(20);
        lines = StandInStarts(folder);
    }
    return lines;
}

// --- host and band -------------------------------------------------------------------------

HostWindow::HostWindow(bool visible, RECT place, const wchar_t* title) {
    static ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = L"TolvaneBandHost";
        return RegisterClassW(&wc);
    }();
    (void)atom;
    window_.reset(CreateWindowExW(
        0, L"TolvaneBandHost", title, WS_POPUP | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0),
        place.left, place.top, place.right - place.left, place.bottom - place.top, nullptr, nullptr,
        GetModuleHandleW(nullptr), nullptr));
}

Band::Band() {
    created = CoCreateInstance(CLSID_TVNWinExpBar, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.put_void());
}

HRESULT Band::SetSite(IUnknown* site) const {
    ComPtr<IObjectWithSite> withSite = As<IObjectWithSite>(IID_IObjectWithSite);
    return withSite ? withSite->SetSite(site) : E_NOINTERFACE;
}

HWND Band::Window() const {
    ComPtr<IDeskBand> band = As<IDeskBand>(IID_IDeskBand);
    HWND window = nullptr;
    if (band) {
        band->GetWindow(&window);
    }
    return window;
}

HWND Band::Toolbar() const {
    HWND window = Window();
    return window != nullptr ? GetWindow(window, GW_CHILD) : nullptr;
}

// --- the menu driver -----------------------------------------------------------------------

namespace {

HMENU MenuOf(HWND menuWindow) {
    DWORD_PTR menu = 0;
    if (!SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_NORMAL, 2000, &menu)) {
        return nullptr;
    }
    return reinterpret_cast<HMENU>(menu);
}

// The shown window of `menu`, or null.
HWND WindowOfMenu(DWORD thread, HMENU menu) {
    for (HWND window : ShownMenuWindows(thread)) {
        if (MenuOf(window) == menu) {
            return window;
        }
    }
    return nullptr;
}

void CollectStates(HMENU menu, MenuDriver::Seen& seen) {
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE;
        if (!GetMenuItemInfoW(menu, position, TRUE, &info)) {
            continue;
        }
        if (info.fState & MFS_CHECKED) {
            seen.checked.push_back(info.wID);
        }
        if ((info.fState & MFS_GRAYED) && !(info.fType & MFT_SEPARATOR)) {
            seen.grayed.push_back(info.wID);
        }
        if (info.hSubMenu != nullptr) {
            CollectStates(info.hSubMenu, seen);
        }
    }
}

bool Hilited(HMENU menu, int position) {
    UINT state = GetMenuState(menu, position, MF_BYPOSITION);
    return state != static_cast<UINT>(-1) && (state & MF_HILITE) != 0;
}

// The selected item's position, -1 when none is.
int HilitedPosition(HMENU menu) {
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        if (Hilited(menu, position)) {
            return position;
        }
    }
    return -1;
}

bool PollUntil(ULONGLONG deadline, const std::atomic<bool>* stop, auto done) {
    while (!done()) {
        if (GetTickCount64() >= deadline || (stop != nullptr && stop->load())) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

}  // namespace

std::vector<MenuDriver::Step> MenuDriver::Choose(std::vector<int> path) {
    std::vector<Step> steps;
    for (size_t level = 0; level < path.size(); ++level) {
        steps.push_back({Step::Kind::Hilite, path[level]});
        steps.push_back({level + 1 < path.size() ? Step::Kind::Right : Step::Kind::Enter});
    }
    return steps;
}

MenuDriver::MenuDriver(DWORD menuThread, HWND toolbar, std::vector<Step> steps, DWORD timeoutMs)
    : menuThread_(menuThread), toolbar_(toolbar), steps_(std::move(steps)), timeoutMs_(timeoutMs) {
    thread_ = std::thread([this] { Run(); });
}

MenuDriver::~MenuDriver() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

MenuDriver::Seen MenuDriver::Finish() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    return seen_;
}

void MenuDriver::Run() {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs_;
    HWND top = nullptr;
    if (!PollUntil(deadline, &stop_, [&] {
            std::vector<HWND> shown = ShownMenuWindows(menuThread_);
            top = shown.empty() ? nullptr : shown.front();
            return top != nullptr;
        })) {
        seen_.failure = "no menu was shown";
        return;
    }
    seen_.shown = true;
    HMENU menu = MenuOf(top);
    // The menu window is shown before its items are painted; wait for the menu's handle.
    PollUntil(deadline, nullptr, [&] { return (menu = MenuOf(top)) != nullptr; });
    CollectStates(menu, seen_);
    GetWindowRect(top, &seen_.menuRect);
    LRESULT state = SendMessageW(toolbar_, TB_GETSTATE, kButton, 0);
    seen_.buttonPressed = state != -1 && (state & TBSTATE_PRESSED) != 0;

    HWND current = top;  // the window of the menu level the steps work in
    auto post = [&](WPARAM key) { PostMessageW(top, WM_KEYDOWN, key, 0); };
    for (const Step& step : steps_) {
        bool followed = true;
        switch (step.kind) {
            case Step::Kind::Hilite:
                for (int tries = 0; tries < 40 && !Hilited(menu, step.position); ++tries) {
                    int before = HilitedPosition(menu);
                    post(VK_DOWN);
                    PollUntil(GetTickCount64() + 2000, nullptr,
                              [&] { return HilitedPosition(menu) != before; });
                }
                followed = Hilited(menu, step.position);
                break;
            case Step::Kind::Right: {
                HMENU sub = nullptr;
                for (int p = 0; p < GetMenuItemCount(menu) && sub == nullptr; ++p) {
                    sub = Hilited(menu, p) ? GetSubMenu(menu, p) : nullptr;
                }
                post(VK_RIGHT);
                followed = sub != nullptr && PollUntil(deadline, nullptr, [&] {
                               return (current = WindowOfMenu(menuThread_, sub)) != nullptr;
                           });
                menu = followed ? sub : menu;
                break;
            }
            case Step::Kind::Enter:
                post(VK_RETURN);
                break;
            case Step::Kind::Escape:
                post(VK_ESCAPE);
                break;
            case Step::Kind::Char:
                PostMessageW(top, WM_CHAR, static_cast<WPARAM>(step.position), 0);
                break;
            case Step::Kind::Down: {
                int before = HilitedPosition(menu);
                post(VK_DOWN);
                followed = PollUntil(GetTickCount64() + 2000, nullptr,
                                     [&] { return HilitedPosition(menu) != before; });
                break;
            }
            case Step::Kind::ExpectHilited:
                followed = Hilited(menu, step.position);
                if (!followed) {
                    seen_.failure += "selected: " + std::to_string(HilitedPosition(menu)) + "; ";
                }
                break;
            case Step::Kind::CancelMode:
                PostMessageW(current, WM_CANCELMODE, 0, 0);
                break;
        }
        if (!followed) {
            seen_.failure +=
                "step " + std::to_string(&step - steps_.data()) + " was not followed" +
                (ShownMenuWindows(menuThread_).empty() ? " (the menu had closed)" : "");
            break;
        }
    }
    bool closed =
        PollUntil(deadline, nullptr, [&] { return ShownMenuWindows(menuThread_).empty(); });
    while (!ShownMenuWindows(menuThread_).empty() && GetTickCount64() < deadline + 5000) {
        PostMessageW(top, WM_KEYDOWN, VK_ESCAPE, 0);  // the end of a failed run
        Sleep(50);
    }
    if (!closed && seen_.failure.find("step") == std::string::npos) {
        seen_.failure = "the menu stayed open";
    }
    seen_.completed = closed && seen_.failure.empty();
}

MenuDriver::Seen PressButton(HWND bandWindow, HWND toolbar, std::vector<MenuDriver::Step> steps) {
    MenuDriver driver(GetCurrentThreadId(), toolbar, std::move(steps));
    SendMessageW(bandWindow, WM_COMMAND, kButton, 0);
    return driver.Finish();
}

// --- the listener --------------------------------------------------------------------------

namespace {
constexpr UINT kAskCount = WM_APP;
constexpr UINT kAskWParam = WM_APP + 1;
constexpr UINT kAskLParam = WM_APP + 2;
constexpr UINT kAskReset = WM_APP + 3;
}  // namespace

ConfigListener::ConfigListener(bool hung) : hung_(hung) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = Quoted(kListenerProgram) + (hung ? L" hang" : L"");
    if (!CreateProcessW(kListenerProgram, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return;
    }
    UniqueHandleObj thread(process.hThread);
    process_.reset(process.hProcess);
    ULONGLONG deadline = GetTickCount64() + 15000;
    PollUntil(deadline, nullptr, [&] {
        HWND found = nullptr;  // another listener may run: the window of this process
        while ((found = FindWindowExW(nullptr, found, L"TolvaneConfigListener", nullptr))) {
            DWORD pid = 0;
            GetWindowThreadProcessId(found, &pid);
            window_ = pid == process.dwProcessId ? found : window_;
        }
        return window_ != nullptr || WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
    });
}

ConfigListener::~ConfigListener() {
    if (hung_ && process_) {
        TerminateProcess(process_.get(), 1);
    }
    if (window_ != nullptr) {
        PostMessageW(window_, WM_CLOSE, 0, 0);
    }
    if (process_) {
        if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
            TerminateProcess(process_.get(), 1);
        }
    }
}

int ConfigListener::Count() const {
    return static_cast<int>(SendMessageW(window_, kAskCount, 0, 0));
}
WPARAM ConfigListener::LastWParam() const {
    return static_cast<WPARAM>(SendMessageW(window_, kAskWParam, 0, 0));
}
LPARAM ConfigListener::LastLParam() const {
    return SendMessageW(window_, kAskLParam, 0, 0);
}
void ConfigListener::Reset() const {
    SendMessageW(window_, kAskReset, 0, 0);
}

std::optional<StoredValue> ReadStored(const wchar_t* name) {
    StoredValue value;
    value.bytes.resize(64);
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY, &value.type,
                     value.bytes.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.bytes.resize(size);
    return value;
}

// --- live objects --------------------------------------------------------------------------

int LiveGdiObjects() {
    int count = 0;
    for (UINT_PTR handle = 1; handle <= 0xFFFF; ++handle) {
        count += GetObjectType(reinterpret_cast<HGDIOBJ>(handle)) != 0;
    }
    return count;
}

int LiveUserObjects() {
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    for (UINT_PTR handle = 1; handle <= 0xFFFF; ++handle) {
        if (IsMenu(reinterpret_cast<HMENU>(handle))) {
            ++count;
            continue;
        }
        DWORD owner = 0;
        HWND window = reinterpret_cast<HWND>(handle);
        if (IsWindow(window) && GetWindowThreadProcessId(window, &owner) && owner == self) {
            ++count;
        }
    }
    return count;
}

int LiveKernelHandles() {
    int count = 0;
    for (UINT_PTR value = 4; value <= 0x4000; value += 4) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
    }
    return count;
}

}  // namespace tvn::test
