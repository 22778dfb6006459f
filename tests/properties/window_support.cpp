#include "window_support.h"

#include <commctrl.h>

#include "gdi_scope.h"

namespace tvn::test {

void EnsureCommonControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX init{sizeof(init), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
        return InitCommonControlsEx(&init) != FALSE;
    }();
    (void)done;
}

namespace {
constexpr const wchar_t* kParentClass = L"TolvaneControlsTestParent";
}

ParentWindow::ParentWindow(int width, int height) {
    EnsureCommonControls();
    static const ATOM registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &ParentWindow::Procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kParentClass;
        return RegisterClassExW(&wc);
    }();
    (void)registered;
    window_.reset(CreateWindowExW(WS_EX_TOPMOST, kParentClass, L"Controls test",
                                  WS_POPUP | WS_CLIPCHILDREN, 40, 40, width, height, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), this));
    ShowWithoutActivating(window_.get());
}

ParentWindow::~ParentWindow() {
    window_.reset();
    PumpPending();
}

HWND ParentWindow::AddChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id,
                            int x, int y, int width, int height) const {
    HWND child = CreateWindowExW(
        0, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, window_.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    PaintNow(child);
    return child;
}

LRESULT CALLBACK ParentWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<ParentWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (self->hook) {
            if (std::optional<LRESULT> answer = self->hook(message, wParam, lParam)) {
                return *answer;
            }
        }
        if (message == WM_COMMAND) {
            self->commands.push_back(Command{wParam, lParam});
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return done();
        }
        // Wakes for messages, and every few milliseconds for conditions no message signals
        // (a file that another process creates).
        const DWORD slice = static_cast<DWORD>(deadline - now < 10 ? deadline - now : 10);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
        PumpPending();
    }
    return true;
}

int Pixels::Count(COLORREF color) const {
    int count = 0;
    for (COLORREF c : data) {
        count += c == color ? 1 : 0;
    }
    return count;
}

int Pixels::CountInRow(int y, COLORREF color) const {
    int count = 0;
    for (int x = 0; x < width; ++x) {
        count += At(x, y) == color ? 1 : 0;
    }
    return count;
}

int Pixels::FirstColumn(COLORREF color) const {
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            if (At(x, y) == color) {
                return x;
            }
        }
    }
    return -1;
}

int Pixels::LastColumn(COLORREF color) const {
    for (int x = width - 1; x >= 0; --x) {
        for (int y = 0; y < height; ++y) {
            if (At(x, y) == color) {
                return x;
            }
        }
    }
    return -1;
}

Pixels Capture(HWND window) {
    Pixels pixels;
    RECT client{};
    GetClientRect(window, &client);
    pixels.width = client.right;
    pixels.height = client.bottom;
    if (pixels.width <= 0 || pixels.height <= 0) {
        return pixels;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = pixels.width;
    info.bmiHeader.biHeight = -pixels.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    WindowDc screen(window);
    UniqueBitmap bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    if (!bitmap || !memory) {
        return pixels;
    }
    {
        SelectedObject selected(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, pixels.width, pixels.height, screen.get(), 0, 0, SRCCOPY);
    }
    GdiFlush();
    const auto* raw = static_cast<const DWORD*>(bits);
    pixels.data.resize(static_cast<size_t>(pixels.width) * pixels.height);
    for (size_t i = 0; i < pixels.data.size(); ++i) {
        const DWORD p = raw[i];  // 0x00RRGGBB
        pixels.data[i] = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    return pixels;
}

void ShowWithoutActivating(HWND window) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    PaintNow(window);
}

void PaintNow(HWND window) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
}

UniqueFont CrispFont(int height, int weight) {
    return UniqueFont(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                                  DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    // A program started from a folder no drive maps is named "unix\..." by Wine; the file
    // functions reach it as "\\?\unix\...".
    if (folder.rfind(L"unix\\", 0) == 0) {
        folder = L"\\\\?\\" + folder;
    }
    size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? folder : folder.substr(0, slash);
}

std::wstring CopyToTemp(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return L"";
    }
    std::wstring copy = std::wstring(temp, length) + name;
    std::wstring source = ProgramFolder() + L"\\" + name;
    if (!CopyFileW(source.c_str(), copy.c_str(), FALSE)) {
        return L"";
    }
    return copy;
}

}  // namespace tvn::test
