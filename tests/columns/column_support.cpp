#include "column_support.h"

#include <oleauto.h>

#include "cache_client.h"
#include "folder_size.h"
#include "test_tree.h"

namespace tvn::test {

static std::wstring BuiltServer() {
    return BuildTop() + L"\\cache\\TVN Cache.exe";
}

bool CacheServerBuilt() {
    return GetFileAttributesW(BuiltServer().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool InstallBuilt() {
    CreateFolders(kInstallDir);
    std::wstring dll = BuildTop() + L"\\columns\\TVN.dll";
    if (!CopyFileW(dll.c_str(), kDllPath, FALSE) && GetLastError() != ERROR_SHARING_VIOLATION) {
        return false;
    }
    if (CacheServerBuilt()) {
        CopyFileW(BuiltServer().c_str(), kServerPath, FALSE);  // busy: the running copy is it
    }
    return true;
}

void StopCacheServer() {
    static constexpr wchar_t kServerMutex[] =
        L"TVNCacheServer.{3677DD7F-E6BF-4081-B50D-39D336FD1089}";
    HANDLE running = OpenMutexW(SYNCHRONIZE, FALSE, kServerMutex);
    if (running == nullptr) {
        return;
    }
    CloseHandle(running);
    HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IFolderSizeCache* cache = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                   IID_IFolderSizeCache, reinterpret_cast<void**>(&cache)))) {
        cache->ReleaseServer();
        cache->Release();
    }
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
    for (int waited = 0; waited < 150; ++waited) {
        HANDLE still = OpenMutexW(SYNCHRONIZE, FALSE, kServerMutex);
        if (still == nullptr) {
            return;
        }
        CloseHandle(still);
        Sleep(100);
    }
}

void ClearSettings() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
}

static void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
    }
}

void SetInteger(const wchar_t* name, int64_t value) {
    SetRaw(name, REG_BINARY, &value, sizeof(value));
}
void SetDword(const wchar_t* name, DWORD value) {
    SetRaw(name, REG_DWORD, &value, sizeof(value));
}
void SetText(const wchar_t* name, const std::wstring& text) {
    SetRaw(name, REG_BINARY, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}
void SetCharacter(const wchar_t* name, wchar_t value) {
    SetRaw(name, REG_BINARY, &value, sizeof(value));
}

Cell AskCell(IColumnProvider* provider, DWORD pid, const std::wstring& path, bool folder) {
    SHCOLUMNID column{CLSID_FolderSize, pid};
    SHCOLUMNDATA data{};
    data.dwFileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    lstrcpynW(data.wszFile, path.c_str(), MAX_PATH);
    VARIANT value;
    VariantInit(&value);
    Cell cell;
    cell.hr = provider->GetItemData(&column, &data, &value);
    if (cell.hr == S_OK && V_VT(&value) == VT_BSTR && V_BSTR(&value) != nullptr) {
        cell.text = V_BSTR(&value);
    }
    VariantClear(&value);
    return cell;
}

std::wstring Padded(const std::wstring& text) {
    return text.size() >= 20 ? text : std::wstring(20 - text.size(), L' ') + text;
}

}  // namespace tvn::test
