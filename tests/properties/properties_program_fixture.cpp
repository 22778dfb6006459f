// The shared pieces of the TVN Properties.exe cases; see properties_program_fixture.h.
#include "properties_program_fixture.h"

#include <cstring>

#include "programs.h"
#include "test_tree.h"

namespace tvn {
namespace {

// A path the file functions take whatever its length.
std::wstring LongForm(const std::wstring& path) {
    return path.size() >= MAX_PATH - 12 && path.rfind(L"\\\\?\\", 0) != 0 ? L"\\\\?\\" + path
                                                                          : path;
}

}  // namespace

bool CopyBuilt(const wchar_t* relative, const std::wstring& target) {
    return CopyFileW(test::BuiltFile(relative).c_str(), LongForm(target).c_str(), FALSE) != FALSE;
}

void InstallProgram(const std::wstring& folder) {
    test::CreateFolders(folder);
    ASSERT_TRUE(CopyBuilt(L"properties\\TVN Properties.exe", folder + L"\\TVN Properties.exe"))
        << GetLastError();
    ASSERT_TRUE(CopyBuilt(L"properties\\Tolvane.chm", folder + L"\\Tolvane.chm"));
}

Bytes Integer(int64_t value) {
    Bytes bytes(8);
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}
Bytes Character(wchar_t value) {
    Bytes bytes(2);
    std::memcpy(bytes.data(), &value, 2);
    return bytes;
}
Bytes Text(const std::wstring& text) {
    Bytes bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.c_str(), text.size() * 2);
    return bytes;
}

std::optional<Bytes> Stored(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Store::kKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    Bytes data(4096);
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << test::Narrow(name);
    data.resize(size);
    return data;
}

void Put(const wchar_t* name, const Bytes& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Store::kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_BINARY, data.data(), DWORD(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::optional<std::wstring> RunEntry() {
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - 2;
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, Store::kRunKeyPath, Store::kRunValueName, RRF_RT_ANY, &type,
                     data, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    return std::wstring(data);
}

void ClearSettings() {
    RegDeleteTreeW(HKEY_CURRENT_USER, Store::kKeyPath);
    Store::RemoveAutostart();
}

RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

void PropertiesProgramTest::SetUpTestSuite() {
    InstallProgram(kInstallDir);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kX11DriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        DWORD size = sizeof(oldManaged_);
        hadManaged_ =
            RegQueryValueExW(key, L"Managed", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(oldManaged_), &size) == ERROR_SUCCESS;
        RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 4);
        RegCloseKey(key);
    }
}

void PropertiesProgramTest::TearDownTestSuite() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kX11DriverKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        if (hadManaged_) {
            RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(oldManaged_),
                           DWORD((wcslen(oldManaged_) + 1) * 2));
        } else {
            RegDeleteValueW(key, L"Managed");
        }
        RegCloseKey(key);
    }
}

}  // namespace tvn
