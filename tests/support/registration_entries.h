// The registry entries that registering each COM server writes, for tests that check a
// registration made by the server itself or by setup: every value with its exact data, and the
// keys that unregistering removes whole. Paths are the registered files' full paths.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tvn::test {

struct ExpectedEntry {
    HKEY root;
    std::wstring key;
    const wchar_t* name;  // nullptr: the default value
    std::wstring data;    // REG_SZ, compared without regard to case
};

struct RemovedKey {
    HKEY root;
    std::wstring key;
};

#define TVN_CACHE_CLSID L"{D6636C89-54F2-4CDB-9167-FF4B71150B25}"
#define TVN_CACHE_APPID L"{11B2FC3C-1C54-495F-809C-0F2E6A916E8D}"
#define TVN_CACHE_LIBID L"{51817188-A777-46EA-9E9D-0A5F9EEB9161}"
#define TVN_CACHE_IID L"{EF840B08-4F29-4DAA-9E3A-DB7D04083FCD}"
#define TVN_COLUMNS_CLSID L"{E35D2993-845A-41D4-B44B-33D757A8B4B3}"
#define TVN_COLUMNS_APPID L"{6B0D6F57-2E1D-40A9-9090-831B7A1563BE}"
#define TVN_COLUMNS_LIBID L"{F52B8A72-1D8A-4A66-89DC-5DA85F1744D0}"
#define TVN_COLUMNS_IID L"{58ECD1FF-A94F-4288-A886-F82D73BF2F05}"
#define TVN_BAR_CLSID L"{AD0030F6-9A4E-4815-9CBA-5B66D684ADED}"
#define TVN_BAR_APPID L"{16C4A225-E0C0-4662-9B0E-BFD3D13B351C}"
#define TVN_BAR_LIBID L"{98BAB2B1-606E-4D35-9ADD-E52C8E581720}"
#define TVN_BAR_IID L"{D46CDD86-7E26-428F-AE7C-9D42FBC24B47}"

inline constexpr wchar_t kApprovedKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
inline constexpr wchar_t kToolbarKey[] = L"SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar";

// "TVN Cache.exe" /RegServer: its scripts and its type library (whose registration writes the
// interface's marshalling entries).
inline std::vector<ExpectedEntry> CacheServerEntries(const std::wstring& serverPath) {
    const std::wstring clsid = L"CLSID\\" TVN_CACHE_CLSID;
    const std::wstring iface = L"Interface\\" TVN_CACHE_IID;
    const std::wstring typelib = L"TypeLib\\" TVN_CACHE_LIBID L"\\1.0";
    const HKEY cr = HKEY_CLASSES_ROOT;
    return {
        {cr, L"AppID\\" TVN_CACHE_APPID, nullptr, L"TVNCache"},
        {cr, L"AppID\\TVN Cache.EXE", L"AppID", TVN_CACHE_APPID},
        {cr, L"TVNCache.FolderSizeCache.1", nullptr, L"FolderSizeCache Class"},
        {cr, L"TVNCache.FolderSizeCache.1\\CLSID", nullptr, TVN_CACHE_CLSID},
        {cr, L"TVNCache.FolderSizeCache", nullptr, L"FolderSizeCache Class"},
        {cr, L"TVNCache.FolderSizeCache\\CLSID", nullptr, TVN_CACHE_CLSID},
        {cr, L"TVNCache.FolderSizeCache\\CurVer", nullptr, L"TVNCache.FolderSizeCache.1"},
        {cr, clsid, nullptr, L"FolderSizeCache Class"},
        {cr, clsid, L"AppID", TVN_CACHE_APPID},
        {cr, clsid + L"\\ProgID", nullptr, L"TVNCache.FolderSizeCache.1"},
        {cr, clsid + L"\\VersionIndependentProgID", nullptr, L"TVNCache.FolderSizeCache"},
        {cr, clsid + L"\\LocalServer32", nullptr, L"\"" + serverPath + L"\""},
        {cr, clsid + L"\\TypeLib", nullptr, TVN_CACHE_LIBID},
        {cr, iface, nullptr, L"IFolderSizeCache"},
        {cr, iface + L"\\ProxyStubClsid32", nullptr, L"{00020424-0000-0000-C000-000000000046}"},
        {cr, iface + L"\\TypeLib", nullptr, TVN_CACHE_LIBID},
        {cr, typelib, nullptr, L"TVNCache 1.0 Type Library"},
        {cr, typelib + L"\\409\\win64", nullptr, serverPath},
        {cr, typelib + L"\\0\\win64", nullptr, serverPath},
    };
}

// regsvr32 "TVN.dll": the AppID and class scripts, the column-handler entries and the
// proxy/stub of IFolderSize.
inline std::vector<ExpectedEntry> ColumnEntries(const std::wstring& dllPath) {
    const std::wstring clsid = L"CLSID\\" TVN_COLUMNS_CLSID;
    const HKEY cr = HKEY_CLASSES_ROOT;
    return {
        {cr, L"AppID\\" TVN_COLUMNS_APPID, nullptr, L"TVN"},
        {cr, L"AppID\\TVN.DLL", L"AppID", TVN_COLUMNS_APPID},
        {cr, L"TVN.FolderSize.1", nullptr, L"FolderSize Class"},
        {cr, L"TVN.FolderSize.1\\CLSID", nullptr, TVN_COLUMNS_CLSID},
        {cr, L"TVN.FolderSize", nullptr, L"FolderSize Class"},
        {cr, L"TVN.FolderSize\\CLSID", nullptr, TVN_COLUMNS_CLSID},
        {cr, L"TVN.FolderSize\\CurVer", nullptr, L"TVN.FolderSize.1"},
        {cr, clsid, nullptr, L"FolderSize Class"},
        {cr, clsid, L"AppID", TVN_COLUMNS_APPID},
        {cr, clsid + L"\\ProgID", nullptr, L"TVN.FolderSize.1"},
        {cr, clsid + L"\\VersionIndependentProgID", nullptr, L"TVN.FolderSize"},
        {cr, clsid + L"\\InprocServer32", nullptr, dllPath},
        {cr, clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {cr, clsid + L"\\TypeLib", nullptr, TVN_COLUMNS_LIBID},
        {cr, L"Folder\\Shellex\\ColumnHandlers\\" TVN_COLUMNS_CLSID, nullptr,
         L"Tolvane column ext"},
        {HKEY_LOCAL_MACHINE, kApprovedKey, TVN_COLUMNS_CLSID, L"Tolvane column ext"},
        {cr, L"Interface\\" TVN_COLUMNS_IID L"\\ProxyStubClsid32", nullptr, TVN_COLUMNS_IID},
        {cr, L"CLSID\\" TVN_COLUMNS_IID L"\\InprocServer32", nullptr, dllPath},
    };
}

// regsvr32 "TVN Bar.dll": the AppID and class scripts, the toolbar entry and the proxy/stub of
// ITVNWinExpBar.
inline std::vector<ExpectedEntry> BandEntries(const std::wstring& dllPath) {
    const std::wstring clsid = L"CLSID\\" TVN_BAR_CLSID;
    const HKEY cr = HKEY_CLASSES_ROOT;
    return {
        {cr, L"AppID\\" TVN_BAR_APPID, nullptr, L"TVNBar"},
        {cr, L"AppID\\TVN Bar.DLL", L"AppID", TVN_BAR_APPID},
        {cr, L"TVNBar.TVNWinExpBar.1", nullptr, L"Tolvane Bar"},
        {cr, L"TVNBar.TVNWinExpBar.1\\CLSID", nullptr, TVN_BAR_CLSID},
        {cr, L"TVNBar.TVNWinExpBar", nullptr, L"Tolvane Bar"},
        {cr, L"TVNBar.TVNWinExpBar\\CLSID", nullptr, TVN_BAR_CLSID},
        {cr, L"TVNBar.TVNWinExpBar\\CurVer", nullptr, L"TVNBar.TVNWinExpBar.1"},
        {cr, clsid, nullptr, L"Tolvane Bar"},
        {cr, clsid, L"AppID", TVN_BAR_APPID},
        {cr, clsid + L"\\ProgID", nullptr, L"TVNBar.TVNWinExpBar.1"},
        {cr, clsid + L"\\VersionIndependentProgID", nullptr, L"TVNBar.TVNWinExpBar"},
        {cr, clsid + L"\\InprocServer32", nullptr, dllPath},
        {cr, clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {cr, clsid + L"\\TypeLib", nullptr, TVN_BAR_LIBID},
        {HKEY_LOCAL_MACHINE, kToolbarKey, TVN_BAR_CLSID, L"Tolvane Bar"},
        {cr, L"Interface\\" TVN_BAR_IID L"\\ProxyStubClsid32", nullptr, TVN_BAR_IID},
        {cr, L"CLSID\\" TVN_BAR_IID L"\\InprocServer32", nullptr, dllPath},
    };
}

// Keys each server's unregistration removes whole (the shared parents such as CLSID, AppID
// and Folder\Shellex\ColumnHandlers stay).
inline std::vector<RemovedKey> RemovedKeys() {
    const HKEY cr = HKEY_CLASSES_ROOT;
    return {
        {cr, L"TVNCache.FolderSizeCache"},
        {cr, L"TVNCache.FolderSizeCache.1"},
        {cr, L"CLSID\\" TVN_CACHE_CLSID},
        {cr, L"AppID\\" TVN_CACHE_APPID},
        {cr, L"AppID\\TVN Cache.EXE"},
        {cr, L"TypeLib\\" TVN_CACHE_LIBID},
        {cr, L"Interface\\" TVN_CACHE_IID},
        {cr, L"TVN.FolderSize"},
        {cr, L"TVN.FolderSize.1"},
        {cr, L"CLSID\\" TVN_COLUMNS_CLSID},
        {cr, L"Folder\\Shellex\\ColumnHandlers\\" TVN_COLUMNS_CLSID},
        {cr, L"AppID\\" TVN_COLUMNS_APPID},
        {cr, L"AppID\\TVN.DLL"},
        {cr, L"TypeLib\\" TVN_COLUMNS_LIBID},
        {cr, L"CLSID\\" TVN_COLUMNS_IID},
        {cr, L"TVNBar.TVNWinExpBar"},
        {cr, L"TVNBar.TVNWinExpBar.1"},
        {cr, L"CLSID\\" TVN_BAR_CLSID},
        {cr, L"AppID\\" TVN_BAR_APPID},
        {cr, L"AppID\\TVN Bar.DLL"},
        {cr, L"TypeLib\\" TVN_BAR_LIBID},
        {cr, L"CLSID\\" TVN_BAR_IID},
        {cr, L"Interface\\" TVN_BAR_IID},
    };
}

}  // namespace tvn::test
