#include "server_setup.h"

#include <oleauto.h>

#include <iterator>
#include <string>

#include "tvn_cache.h"

namespace tvn::server {

namespace {

using Registration::KeyRule;
using Registration::Row;

#define TVN_CLSID_KEY L"CLSID\\{D6636C89-54F2-4CDB-9167-FF4B71150B25}"

const Row kAppIdRows[] = {
    {L"AppID", KeyRule::Kept},
    {L"AppID\\%APPID%", KeyRule::Owned, L"", L"TVNCache"},
    {L"AppID\\TVN Cache.EXE", KeyRule::Owned, L"AppID", L"%APPID%"},
};

const Row kClassRows[] = {
    {L"TVNCache.FolderSizeCache.1", KeyRule::Owned, L"", L"FolderSizeCache Class"},
    {L"TVNCache.FolderSizeCache.1\\CLSID", KeyRule::Owned, L"", L"%CLSID%"},
    {L"TVNCache.FolderSizeCache", KeyRule::Owned, L"", L"FolderSizeCache Class"},
    {L"TVNCache.FolderSizeCache\\CLSID", KeyRule::Owned, L"", L"%CLSID%"},
    {L"TVNCache.FolderSizeCache\\CurVer", KeyRule::Owned, L"", L"TVNCache.FolderSizeCache.1"},
    {L"CLSID", KeyRule::Kept},
    {TVN_CLSID_KEY, KeyRule::ReplacedWhole, L"", L"FolderSizeCache Class"},
    {TVN_CLSID_KEY, KeyRule::ReplacedWhole, L"AppID", L"%APPID%"},
    {TVN_CLSID_KEY L"\\ProgID", KeyRule::Owned, L"", L"TVNCache.FolderSizeCache.1"},
    {TVN_CLSID_KEY L"\\VersionIndependentProgID", KeyRule::Owned, L"", L"TVNCache.FolderSizeCache"},
    {TVN_CLSID_KEY L"\\Programmable", KeyRule::ReplacedWhole},
    {TVN_CLSID_KEY L"\\LocalServer32", KeyRule::Owned, L"", L"\"%MODULE%\""},
    {TVN_CLSID_KEY L"\\TypeLib", KeyRule::Owned, L"", L"%LIBID%"},
};

#undef TVN_CLSID_KEY

// The library is registered for locale 0x409. Some implementations of the type-library
// marshaller (Wine's) look a library up under the neutral locale only and cannot marshal the
// interface without this entry; it names the same file.
const Row kNeutralLocaleRows[] = {
    {L"TypeLib\\%LIBID%\\1.0\\0", KeyRule::Owned},
    {L"TypeLib\\%LIBID%\\1.0\\0\\win64", KeyRule::Owned, L"", L"%MODULE%"},
};

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// True when `text` starts with `word` (ASCII, any case) followed by a blank, a tab or the end.
bool IsSwitch(const wchar_t* text, const wchar_t* word) {
    for (; *word != 0; ++text, ++word) {
        if (towlower(*text) != towlower(*word)) {
            return false;
        }
    }
    return *text == 0 || IsBlank(*text);
}

// The replacements of the tables: the program's path and the identities of the class.
std::span<const Registration::Replacement> Replacements(const wchar_t* modulePath) {
    static Registration::Replacement replacements[] = {
        {L"MODULE", L""},
        {L"APPID", L"{11B2FC3C-1C54-495F-809C-0F2E6A916E8D}"},
        {L"CLSID", L"{D6636C89-54F2-4CDB-9167-FF4B71150B25}"},
        {L"LIBID", L"{51817188-A777-46EA-9E9D-0A5F9EEB9161}"},
    };
    replacements[0].value = modulePath;
    return replacements;
}

HRESULT RegisterTypeLibrary(const wchar_t* modulePath) {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, &library);
    if (FAILED(hr)) {
        return hr;
    }
    std::wstring path = modulePath;  // RegisterTypeLib takes a non-const string
    hr = RegisterTypeLib(library, path.data(), nullptr);
    library->Release();
    return hr;
}

HRESULT UnregisterTypeLibrary() {
    // A library that is not registered is already unregistered (the system answers that with
    // an error of its own choosing).
    HKEY version = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"TypeLib\\{51817188-A777-46EA-9E9D-0A5F9EEB9161}\\1.0", 0,
                      KEY_READ, &version) != ERROR_SUCCESS) {
        return S_OK;
    }
    RegCloseKey(version);
    HRESULT hr = UnRegisterTypeLib(LIBID_TVNCacheLib, 1, 0, 0x409, SYS_WIN64);
    if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED ||
        hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        return S_OK;
    }
    return hr;
}

}  // namespace

ServerCommand ParseServerCommandLine(const wchar_t* commandLine) {
    if (commandLine == nullptr) {
        return ServerCommand::Run;
    }
    const wchar_t* at = commandLine;
    // Skip the program path: up to the closing quote when quoted, else up to a blank.
    if (*at == L'"') {
        ++at;
        while (*at != 0 && *at != L'"') {
            ++at;
        }
        if (*at == L'"') {
            ++at;
        }
    } else {
        while (*at != 0 && !IsBlank(*at)) {
            ++at;
        }
    }
    for (; *at != 0; ++at) {
        if (*at != L'-' && *at != L'/') {
            continue;
        }
        if (IsSwitch(at + 1, L"UnregServer")) {
            return ServerCommand::UnregServer;
        }
        if (IsSwitch(at + 1, L"RegServer")) {
            return ServerCommand::RegServer;
        }
    }
    return ServerCommand::Run;
}

std::span<const Registration::Row> AppIdRows() {
    return kAppIdRows;
}
std::span<const Registration::Row> ClassRows() {
    return kClassRows;
}

HRESULT RegisterServer(const wchar_t* modulePath) {
    Registration::ThreadLocaleGuard locale(LOCALE_SYSTEM_DEFAULT);
    auto replacements = Replacements(modulePath);
    HRESULT hr = Registration::Register(HKEY_CLASSES_ROOT, AppIdRows(), replacements);
    if (FAILED(hr)) {
        return hr;
    }
    hr = Registration::Register(HKEY_CLASSES_ROOT, ClassRows(), replacements);
    if (FAILED(hr)) {
        return hr;
    }
    hr = RegisterTypeLibrary(modulePath);
    if (FAILED(hr)) {
        return hr;
    }
    return Registration::Register(HKEY_CLASSES_ROOT, kNeutralLocaleRows, replacements);
}

HRESULT UnregisterServer(const wchar_t* modulePath) {
    Registration::ThreadLocaleGuard locale(LOCALE_SYSTEM_DEFAULT);
    auto replacements = Replacements(modulePath);
    HRESULT hr = Registration::Unregister(HKEY_CLASSES_ROOT, ClassRows(), replacements);
    HRESULT neutral = Registration::Unregister(HKEY_CLASSES_ROOT, kNeutralLocaleRows, replacements);
    if (SUCCEEDED(hr)) {
        hr = neutral;
    }
    HRESULT typeLib = UnregisterTypeLibrary();
    if (SUCCEEDED(hr)) {
        hr = typeLib;
    }
    HRESULT appId = Registration::Unregister(HKEY_CLASSES_ROOT, AppIdRows(), replacements);
    return SUCCEEDED(hr) ? appId : hr;
}

}  // namespace tvn::server
