#include "programs.h"

#include <gtest/gtest.h>

namespace tvn::test {

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += char(c);
    }
    return out;
}

HANDLE StartProgram(const std::wstring& commandLine, const std::wstring& output,
                    const wchar_t* directory) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileW(output.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = file;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  directory, &startup, &process);
    CloseHandle(file);
    if (!started) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& output) {
    // The default output file is made unique per program run, so that no process still
    // holding an earlier one can keep the next from starting.
    static LONG serial = 0;
    const bool own = output.empty();
    const std::wstring file = own ? L"C:\\tvn-program-" + std::to_wstring(GetCurrentProcessId()) +
                                        L"-" + std::to_wstring(InterlockedIncrement(&serial)) +
                                        L".txt"
                                  : output;
    HANDLE process = StartProgram(commandLine, file);
    if (process == nullptr && own) {
        DeleteFileW(file.c_str());
    }
    if (process == nullptr) {
        return kNotStarted;
    }
    DWORD code = kTimedOut;
    if (WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &code);
    }
    CloseHandle(process);
    if (own) {
        DeleteFileW(file.c_str());
    }
    return code;
}

std::string ReadFileText(const std::wstring& path) {
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        text.append(chunk, read);
    }
    CloseHandle(file);
    return text;
}

std::wstring TestProgramDir() {
    wchar_t path[MAX_PATH * 2];
    GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring dir = path;
    if (dir.rfind(L"unix\\", 0) == 0) {
        dir = L"\\\\?\\" + dir;
    }
    return dir.substr(0, dir.rfind(L'\\'));
}

// Two folders above the program's own (which may be a \\?\unix\ path, where ".." is not
// resolved).
std::wstring BuildTop() {
    std::wstring dir = TestProgramDir();
    for (int up = 0; up < 2; ++up) {
        dir = dir.substr(0, dir.rfind(L'\\'));
    }
    return dir;
}

std::wstring BuiltFile(const std::wstring& relative) {
    return BuildTop() + L"\\" + relative;
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::optional<std::wstring> StringValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t data[1024];
    DWORD bytes = sizeof(data);
    DWORD type = 0;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    return std::wstring(data);
}

KeyCounts CountKey(HKEY root, const std::wstring& path) {
    KeyCounts counts;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &counts.subkeys, nullptr, nullptr,
                         &counts.values, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    return counts;
}

ScratchKey::ScratchKey(const std::wstring& name) {
    std::wstring leaf = name;
    if (leaf.empty()) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string test = info ? std::string(info->test_suite_name()) + "-" + info->name()
                                : std::string("scratch");
        leaf.assign(test.begin(), test.end());
    }
    path_ = L"Software\\TolvaneTest\\" + leaf;
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key_.put(), nullptr));
}

ScratchKey::~ScratchKey() {
    key_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

}  // namespace tvn::test
