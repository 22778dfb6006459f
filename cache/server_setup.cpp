#include "server_setup.h"

#include <cwctype>

namespace tvn::server {

namespace {

using Registration::KeyRule;
using Registration::Row;

// Beside the entries of every class: the program as the class's local server.
const Row kLocalServerRows[] = {
    {L"CLSID\\%CLSID%\\LocalServer32", KeyRule::Owned, L"", L"\"%MODULE%\""},
};

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

const Registration::Replacement kReplacements[] = {
    {L"APPID", L"{11B2FC3C-1C54-495F-809C-0F2E6A916E8D}"},
    {L"APPNAME", L"TVNCache"},
    {L"APPFILE", L"TVN Cache.EXE"},
    {L"PROGID", L"TVNCache.FolderSizeCache"},
    {L"DESCRIPTION", L"FolderSizeCache Class"},
    {L"CLSID", L"{D6636C89-54F2-4CDB-9167-FF4B71150B25}"},
    {L"LIBID", L"{51817188-A777-46EA-9E9D-0A5F9EEB9161}"},
};

// The neutral-locale entry completes the type library's registration: written after it and
// removed before it, so that unregistering the library leaves no version key behind.
const Registration::Step kSteps[] = {
    Registration::Step::Table(HKEY_CLASSES_ROOT, Registration::kAppIdRows),
    Registration::Step::Table(HKEY_CLASSES_ROOT, Registration::kClassRows),
    Registration::Step::Table(HKEY_CLASSES_ROOT, kLocalServerRows),
    Registration::Step::TypeLibrary(Registration::HelpFolder::None),
    Registration::Step::Table(HKEY_CLASSES_ROOT, kNeutralLocaleRows),
};

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

const Registration::Script kRegistrationScript{kSteps, kReplacements};

HRESULT RegisterServer(const wchar_t* modulePath) {
    return Registration::RegisterModule(kRegistrationScript, modulePath);
}

HRESULT UnregisterServer(const wchar_t* modulePath) {
    return Registration::UnregisterModule(kRegistrationScript, modulePath);
}

}  // namespace tvn::server
