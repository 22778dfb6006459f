#include "program_driver.h"

#include <vector>

namespace tvn::test {
namespace {

bool WaitFor(DWORD timeoutMs, const auto& done) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(10);
    }
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct Search {
    DWORD processId;
    const wchar_t* windowClass;
    HWND owner;
    bool anyOwner;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if ((search->processId != 0 && process != search->processId) || !IsWindowVisible(window) ||
        ClassOf(window) != search->windowClass) {
        return TRUE;
    }
    if (!search->anyOwner && GetWindow(window, GW_OWNER) != search->owner) {
        return TRUE;
    }
    if (search->title != nullptr && WindowText(window) != search->title) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND Find(DWORD processId, const wchar_t* windowClass, HWND owner, bool anyOwner,
          const wchar_t* title) {
    Search search{processId, windowClass, owner, anyOwner, title, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &copied);
    return text;
}

BOOL CALLBACK CountVisit(HWND window, LPARAM context) {
    if (IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
        GetWindow(window, GW_OWNER) == nullptr && WindowText(window) == kDialogTitle) {
        ++*reinterpret_cast<int*>(context);
    }
    return TRUE;
}

int CountPropertiesDialogs() {
    int count = 0;
    EnumWindows(CountVisit, reinterpret_cast<LPARAM>(&count));
    return count;
}

PropertiesProgram::~PropertiesProgram() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 0xDEAD);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
}

bool PropertiesProgram::Start(const std::wstring& program, int showCommand, bool waitForDialog) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\",
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    if (!waitForDialog) {
        return true;
    }
    dialog_ = WaitForWindow(L"#32770", nullptr, 20000);
    return dialog_ != nullptr;
}

bool PropertiesProgram::Attach(DWORD timeoutMs) {
    WaitFor(timeoutMs, [&] {
        dialog_ = Find(0, L"#32770", nullptr, false, kDialogTitle);
        return dialog_ != nullptr;
    });
    if (dialog_ != nullptr) {
        GetWindowThreadProcessId(dialog_, &processId_);
    }
    return dialog_ != nullptr;
}

DWORD PropertiesProgram::WaitForExit(DWORD timeoutMs) {
    DWORD code = 0xDEAD;
    if (process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process_, &code);
    }
    return code;
}

std::wstring PropertiesProgram::Text(int id) const {
    return WindowText(Control(id));
}

void PropertiesProgram::SetText(int id, const std::wstring& text) const {
    SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int PropertiesProgram::Selection(int id) const {
    return static_cast<int>(SendMessageW(Control(id), CB_GETCURSEL, 0, 0));
}

void PropertiesProgram::Select(int id, int index) const {
    SendMessageW(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Control(id)));
}

void PropertiesProgram::Type(int id, const std::wstring& text) const {
    COMBOBOXINFO info{};
    info.cbSize = sizeof(info);
    HWND edit = GetComboBoxInfo(Control(id), &info) ? info.hwndItem : Control(id);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, CBN_EDITCHANGE),
                 reinterpret_cast<LPARAM>(Control(id)));
}

bool PropertiesProgram::Checked(int id) const {
    return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool PropertiesProgram::Enabled(int id) const {
    return IsWindowEnabled(Control(id)) != FALSE;
}

void PropertiesProgram::Click(int id) const {
    SendMessageW(Control(id), BM_CLICK, 0, 0);
}

void PropertiesProgram::PostClick(int id) const {
    PostMessageW(Control(id), BM_CLICK, 0, 0);
}

void PropertiesProgram::PostCommand(int id) const {
    PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(id)));
}

HWND PropertiesProgram::WaitForWindow(const wchar_t* windowClass, HWND owner,
                                      DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitFor(timeoutMs, [&] {
        found = Find(processId_, windowClass, owner, false, nullptr);
        return found != nullptr;
    });
    return found;
}

HWND PropertiesProgram::WaitForMessageBox(DWORD timeoutMs) const {
    return WaitForWindow(L"#32770", dialog_, timeoutMs);
}

std::wstring PropertiesProgram::MessageBoxText(HWND box) {
    return WindowText(GetDlgItem(box, 0xFFFF));
}

void PropertiesProgram::Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

bool PropertiesProgram::WaitGone(HWND window, DWORD timeoutMs) {
    return WaitFor(timeoutMs, [&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

HWND PropertiesProgram::OpenMenu() const {
    PostClick(1113);
    HWND menu = nullptr;
    WaitFor(10000, [&] {
        menu = Find(processId_, L"#32768", nullptr, true, nullptr);
        return menu != nullptr;
    });
    return menu;
}

void PropertiesProgram::MenuKey(HWND menu, WPARAM key) {
    PostMessageW(menu, WM_KEYDOWN, key, 0);
    PostMessageW(menu, WM_KEYUP, key, 0xC0000000);
}

}  // namespace tvn::test
