// Stands in for the HTML Help control library in the test prefix: HtmlHelpW (ordinal 15)
// appends one line, "<caller window, hex>|<command>|<data>|<file>", in UTF-8, to the file
// named by the environment variable TVN_HTMLHELP_LOG, and opens no window.
#include <windows.h>

#include <cstdio>
#include <string>

extern "C" HWND WINAPI HtmlHelpW(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data) {
    wchar_t logPath[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TVN_HTMLHELP_LOG", logPath, MAX_PATH) == 0) {
        return nullptr;
    }
    wchar_t head[96] = {};
    swprintf(head, 96, L"%llx|%u|%llu|",
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(caller)), command,
             static_cast<unsigned long long>(data));
    std::wstring line = std::wstring(head) + (file != nullptr ? file : L"(null)") + L"\n";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                    nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(log, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
        CloseHandle(log);
    }
    return nullptr;
}
