#include "html_help.h"

#include <string>

#include "registry.h"

namespace tvn::HtmlHelp {
namespace {

using HtmlHelpFunction = HWND(WINAPI*)(HWND, const wchar_t*, UINT, DWORD_PTR);

// The registered path of the library (expanded when stored as REG_EXPAND_SZ); empty when
// there is none.
std::wstring RegisteredLibraryPath() {
    OpenedKey key = OpenKey(HKEY_CLASSES_ROOT, kControlClassKey, KEY_QUERY_VALUE);
    if (!key) {
        return {};
    }
    wchar_t value[MAX_PATH] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegQueryValueExW(key.key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return {};
    }
    value[bytes / sizeof(wchar_t)] = L'\0';
    if (type == REG_SZ) {
        return value;
    }
    wchar_t expanded[MAX_PATH] = {};
    DWORD length = ExpandEnvironmentStringsW(value, expanded, MAX_PATH);
    return length != 0 && length <= MAX_PATH ? std::wstring(expanded) : std::wstring();
}

HtmlHelpFunction LoadFunction() {
    // The library stays loaded for the rest of the run, as the help window it opens needs it.
    HMODULE library = nullptr;
    std::wstring registered = RegisteredLibraryPath();
    if (!registered.empty()) {
        library = LoadLibraryW(registered.c_str());
    }
    if (library == nullptr) {
        library = LoadLibraryW(kLibraryName);
    }
    if (library == nullptr) {
        return nullptr;
    }
    auto function = reinterpret_cast<HtmlHelpFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(kHtmlHelpWOrdinal))));
    if (function == nullptr) {
        FreeLibrary(library);
    }
    return function;
}

}  // namespace

bool DisplayTopic(HWND caller, const wchar_t* file) {
    static bool tried = false;
    static HtmlHelpFunction function = nullptr;
    if (!tried) {
        tried = true;
        function = LoadFunction();
    }
    if (function == nullptr || file == nullptr) {
        return false;
    }
    function(caller, file, kDisplayTopic, 0);
    return true;
}

}  // namespace tvn::HtmlHelp
