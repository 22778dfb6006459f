// Stands in for "TVN Properties.exe" beside the band's library: each start appends one line,
// "<working folder>|<command-line arguments>", to properties-starts.log in its own folder,
// and ends.
#include <windows.h>

#include <cwchar>
#include <string>

#include "unique_handle.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    // Also started from folders whose paths are longer than MAX_PATH.
    static wchar_t path[32768];
    DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768 || wcsrchr(path, L'\\') == nullptr) {
        return 1;
    }
    std::wstring log(path, wcsrchr(path, L'\\') + 1);
    log += L"properties-starts.log";
    if (log.size() >= MAX_PATH && log.rfind(L"\\\\?\\", 0) != 0) {
        log = L"\\\\?\\" + log;
    }
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::wstring line =
        std::wstring(folder) + L"|" + (arguments != nullptr ? arguments : L"") + L"\n";
    tvn::UniqueFile file(CreateFileW(log.c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return 2;
    }
    DWORD written = 0;
    return WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)),
                     &written, nullptr)
               ? 0
               : 3;
}
