// Entry points of TVN.dll: the attach/detach handler, the four COM exports and the registry
// scripts of the class FolderSize.
#include <windows.h>
#include <olectl.h>
#include <oleauto.h>

#include <new>
#include <string>

#include "com_core.h"
#include "crash_reporter.h"
#include "folder_size.h"
#include "registration.h"

// Proxy/stub entry points of IFolderSize, generated from the type library's definition.
extern "C" {
BOOL WINAPI PrxDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
HRESULT WINAPI PrxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT WINAPI PrxDllCanUnloadNow();
HRESULT WINAPI PrxDllRegisterServer();
HRESULT WINAPI PrxDllUnregisterServer();
}

namespace {

using tvn::Registration::KeyRule;
using tvn::Registration::Replacement;
using tvn::Registration::Row;

HMODULE g_module = nullptr;

#define TVN_CLSID L"{E35D2993-845A-41D4-B44B-33D757A8B4B3}"
#define TVN_APPID L"{6B0D6F57-2E1D-40A9-9090-831B7A1563BE}"
#define TVN_LIBID L"{F52B8A72-1D8A-4A66-89DC-5DA85F1744D0}"

constexpr Row kAppIdScript[] = {
    {L"AppID", KeyRule::Kept},
    {L"AppID\\%APPID%", KeyRule::Owned, L"", L"TVN"},
    {L"AppID\\TVN.DLL", KeyRule::Owned, L"AppID", L"%APPID%"},
};

constexpr Row kClassScript[] = {
    {L"TVN.FolderSize.1", KeyRule::Owned, L"", L"FolderSize Class"},
    {L"TVN.FolderSize.1\\CLSID", KeyRule::Owned, L"", TVN_CLSID},
    {L"TVN.FolderSize", KeyRule::Owned, L"", L"FolderSize Class"},
    {L"TVN.FolderSize\\CLSID", KeyRule::Owned, L"", TVN_CLSID},
    {L"TVN.FolderSize\\CurVer", KeyRule::Owned, L"", L"TVN.FolderSize.1"},
    {L"CLSID", KeyRule::Kept},
    {L"CLSID\\" TVN_CLSID, KeyRule::ReplacedWhole, L"", L"FolderSize Class"},
    {L"CLSID\\" TVN_CLSID "\\ProgID", KeyRule::Owned, L"", L"TVN.FolderSize.1"},
    {L"CLSID\\" TVN_CLSID "\\VersionIndependentProgID", KeyRule::Owned, L"", L"TVN.FolderSize"},
    {L"CLSID\\" TVN_CLSID "\\Programmable", KeyRule::ReplacedWhole},
    {L"CLSID\\" TVN_CLSID "\\InprocServer32", KeyRule::Owned, L"", L"%MODULE%"},
    {L"CLSID\\" TVN_CLSID "\\InprocServer32", KeyRule::Owned, L"ThreadingModel", L"Apartment"},
    {L"CLSID\\" TVN_CLSID, KeyRule::ReplacedWhole, L"AppID", L"%APPID%"},
    {L"CLSID\\" TVN_CLSID "\\TypeLib", KeyRule::Owned, L"", TVN_LIBID},
    {L"Folder", KeyRule::Kept},
    {L"Folder\\Shellex", KeyRule::Kept},
    {L"Folder\\Shellex\\ColumnHandlers", KeyRule::Kept},
    {L"Folder\\Shellex\\ColumnHandlers\\" TVN_CLSID, KeyRule::ReplacedWhole, L"",
     L"Tolvane column ext"},
};

// Written below HKEY_LOCAL_MACHINE: the approval Explorer looks for when it loads extensions.
constexpr Row kApprovedScript[] = {
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", KeyRule::Kept,
     TVN_CLSID, L"Tolvane column ext"},
};

HRESULT TypeLibraryOfModule(const std::wstring& path, ITypeLib** library) {
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

HRESULT RegisterTypeLibrary(const std::wstring& path) {
    ITypeLib* library = nullptr;
    HRESULT hr = TypeLibraryOfModule(path, &library);
    if (FAILED(hr)) {
        return hr;
    }
    std::wstring folder = path.substr(0, path.rfind(L'\\'));
    std::wstring file = path;
    hr = RegisterTypeLib(library, file.data(), folder.data());
    library->Release();
    return hr;
}

HRESULT UnregisterTypeLibrary(const std::wstring& path) {
    ITypeLib* library = nullptr;
    HRESULT hr = TypeLibraryOfModule(path, &library);
    if (FAILED(hr)) {
        return hr;
    }
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        // A library that is not registered (any more) counts as unregistered.
        BSTR registered = nullptr;
        if (SUCCEEDED(QueryPathOfRegTypeLib(attributes->guid, attributes->wMajorVerNum,
                                            attributes->wMinorVerNum, attributes->lcid,
                                            &registered))) {
            SysFreeString(registered);
            hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                   attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
        }
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    return hr;
}

HRESULT FirstFailure(HRESULT first, HRESULT next) {
    return FAILED(first) ? first : next;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        tvn::CrashReporter::Install(L"Tolvane\x2122", tvn::CrashReporter::kMessage, L"TVN.dmp");
        DisableThreadLibraryCalls(instance);
        return PrxDllMain(instance, reason, reserved);
    }
    if (reason == DLL_PROCESS_DETACH) {
        tvn::CrashReporter::Uninstall();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (IsEqualCLSID(rclsid, tvn::kClsidFolderSize)) {
        static tvn::com::ClassFactory<tvn::FolderSize> factory;
        return factory.QueryInterface(riid, ppv);
    }
    return PrxDllGetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    if (tvn::com::ModuleLock::Count() != 0) {
        return S_FALSE;
    }
    return PrxDllCanUnloadNow();
}

namespace {

HRESULT RegisterModule() {
    std::wstring module = tvn::Registration::ModulePath(g_module);
    if (module.empty()) {
        return SELFREG_E_CLASS;
    }
    const Replacement replacements[] = {{L"MODULE", module.c_str()}, {L"APPID", TVN_APPID}};
    HRESULT hr = S_OK;
    {
        tvn::Registration::ThreadLocaleGuard locale(LOCALE_SYSTEM_DEFAULT);
        hr = tvn::Registration::Register(HKEY_CLASSES_ROOT, kAppIdScript, replacements);
        if (SUCCEEDED(hr)) {
            hr = tvn::Registration::Register(HKEY_CLASSES_ROOT, kClassScript, replacements);
        }
        if (SUCCEEDED(hr)) {
            hr = tvn::Registration::Register(HKEY_LOCAL_MACHINE, kApprovedScript, replacements);
        }
        if (SUCCEEDED(hr)) {
            hr = RegisterTypeLibrary(module);
        }
    }
    if (FAILED(hr)) {
        return hr;
    }
    // After the type library, so that IFolderSize is marshalled by its own proxy and stub.
    return PrxDllRegisterServer();
}

HRESULT UnregisterModule() {
    std::wstring module = tvn::Registration::ModulePath(g_module);
    if (module.empty()) {
        return SELFREG_E_CLASS;
    }
    const Replacement replacements[] = {{L"MODULE", module.c_str()}, {L"APPID", TVN_APPID}};
    HRESULT hr = S_OK;
    {
        tvn::Registration::ThreadLocaleGuard locale(LOCALE_SYSTEM_DEFAULT);
        hr = tvn::Registration::Unregister(HKEY_LOCAL_MACHINE, kApprovedScript, replacements);
        hr = FirstFailure(
            hr, tvn::Registration::Unregister(HKEY_CLASSES_ROOT, kClassScript, replacements));
        hr = FirstFailure(hr, UnregisterTypeLibrary(module));
        hr = FirstFailure(
            hr, tvn::Registration::Unregister(HKEY_CLASSES_ROOT, kAppIdScript, replacements));
    }
    return FirstFailure(hr, PrxDllUnregisterServer());
}

}  // namespace

// Registration runs in the caller's process (regsvr32, an installer): no exception may leave
// the export, so a failed allocation is reported as E_OUTOFMEMORY.
STDAPI DllRegisterServer() {
    try {
        return RegisterModule();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return UnregisterModule();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
