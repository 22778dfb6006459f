// Reset cache against the real cache server: the properties program asks a running server to
// empty its cache, and the server's next answer lists the folder again.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>

#include "cache_client.h"
#include "program_driver.h"
#include "resource.h"
#include "settled_cache.h"
#include "test_tree.h"
#include "tvn_cache.h"

namespace tvn {
namespace {

using test::PropertiesProgram;

constexpr wchar_t kServerFolder[] = L"C:\\Program Files\\Tolvane";
constexpr wchar_t kServerPath[] = L"C:\\Program Files\\Tolvane\\TVN Cache.exe";
constexpr wchar_t kProgramFolder[] = L"C:\\Program Files\\Tolvane Reset";
constexpr wchar_t kProgram[] = L"C:\\Program Files\\Tolvane Reset\\TVN Properties.exe";

std::wstring BuiltFile(const wchar_t* relative) {
    std::wstring path = L"\\\\?\\unix";
    for (const char* c = TVN_BUILD_ROOT; *c; ++c) {
        path += *c == '/' ? L'\\' : wchar_t(*c);
    }
    return path + L"\\" + relative;
}

// Starts a program with its standard handles on a file of its own: a server must never
// inherit the harness's pipe.
HANDLE Start(std::wstring line) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE out = CreateFileW(L"C:\\tvn-reset-server-output.txt", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = out;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, L"C:\\",
                                  &startup, &process);
    CloseHandle(out);
    if (!started) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

HANDLE OpenServerProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    HANDLE found = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == nullptr;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"TVN Cache.exe") == 0) {
            found = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

struct Answer {
    HRESULT hr;
    unsigned __int64 bytes;
};
Answer Size(IFolderSizeCache* cache, const std::wstring& path) {
    BSTR text = SysAllocString(path.c_str());
    Answer answer{E_UNEXPECTED, 0};
    answer.hr = cache->GetFolderSize(text, &answer.bytes);
    SysFreeString(text);
    return answer;
}

TEST(PropertiesResetCache, RunningServerForgetsAndListsAgain) {
    test::CreateFolders(kServerFolder);
    test::CreateFolders(kProgramFolder);
    ASSERT_TRUE(CopyFileW(BuiltFile(L"cache\\TVN Cache.exe").c_str(), kServerPath, FALSE) ||
                GetLastError() == ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(CopyFileW(BuiltFile(L"properties\\TVN Properties.exe").c_str(), kProgram, FALSE));
    if (!IsCacheServerRunning()) {
        HANDLE reg = Start(L"\"" + std::wstring(kServerPath) + L"\" /RegServer");
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(WaitForSingleObject(reg, 60000), WAIT_OBJECT_0);
        CloseHandle(reg);
        HANDLE server = Start(L"\"" + std::wstring(kServerPath) + L"\" -Embedding");
        ASSERT_NE(server, nullptr);
        CloseHandle(server);
        for (int i = 0; i < 400 && !IsCacheServerRunning(); ++i) {
            Sleep(25);
        }
    }
    ASSERT_TRUE(IsCacheServerRunning());
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        ComPtr<IFolderSizeCache> cache;
        HRESULT hr = E_FAIL;
        // The class object is registered right after the mutex is taken.
        for (int i = 0; i < 100 && FAILED(hr = ConnectCacheServer(cache)); ++i) {
            Sleep(50);
        }
        ASSERT_EQ(hr, S_OK);

        test::TestTree tree(test::kFixedDrive);
        tree.File(L"a\\one.bin", 1000);
        tree.File(L"b\\two.bin", 234);
        ASSERT_EQ(Size(cache.get(), tree.Root()).bytes, 1234u);
        // Making the tree gives a stream of notices: only a settled cache answers from memory.
        const test::SizeRequest ask = [&cache](const std::wstring& folder, uint64_t* bytes) {
            Answer answer = Size(cache.get(), folder);
            *bytes = answer.bytes;
            return answer.hr;
        };
        const test::SettleResult settled =
            test::WaitUntilAnsweredFromMemory(ask, tree.Root(), 1234u);
        ASSERT_TRUE(settled.settled) << test::Describe(settled);
        test::FolderLock lock(tree.Root());
        ASSERT_TRUE(lock.Holds());
        Answer memory = Size(cache.get(), tree.Root());
        EXPECT_EQ(memory.hr, S_OK) << "not answered from the cache";
        EXPECT_EQ(memory.bytes, 1234u);

        PropertiesProgram program;
        ASSERT_TRUE(program.Start(kProgram));
        program.PostClick(IDC_RESET_CACHE);
        HWND box = program.WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        PropertiesProgram::Answer(box, IDYES);
        ASSERT_TRUE(PropertiesProgram::WaitGone(box));
        // The reset is synchronous: the button comes back when the server has answered.
        for (int i = 0; i < 500 && !program.Enabled(IDC_RESET_CACHE); ++i) {
            Sleep(10);
        }
        EXPECT_TRUE(program.Enabled(IDC_RESET_CACHE));
        EXPECT_EQ(Size(cache.get(), tree.Root()).hr, E_FAIL) << "answered without listing";
        lock.Unlock();
        Answer rescan = Size(cache.get(), tree.Root());
        EXPECT_EQ(rescan.hr, S_OK);
        EXPECT_EQ(rescan.bytes, 1234u);
        program.PostCommand(IDCANCEL);
        EXPECT_EQ(program.WaitForExit(), 2u);

        // The server goes again: its own reference given up, it ends after the last client.
        HANDLE process = OpenServerProcess();
        cache->ReleaseServer();
        cache.reset();
        if (process != nullptr) {
            EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
            CloseHandle(process);
        }
    }
    CoUninitialize();
}

}  // namespace
}  // namespace tvn
