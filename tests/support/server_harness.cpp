#include "server_harness.h"

#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "cache_client.h"
#include "descent_path.h"
#include "unique_handle.h"
#include "process_usage.h"
#include "programs.h"
#include "test_tree.h"

namespace tvn::test {

void InstallServer() {
    CreateFolders(kInstallDir);
    for (auto [built, installed] :
         {std::pair{L"cache\\TVN Cache.exe", kServerPath},
          std::pair{L"tests\\cache\\tvn_cache_client.exe", kClientPath}}) {
        std::wstring from = BuiltFile(built);
        ASSERT_TRUE(CopyFileW(from.c_str(), installed, FALSE) ||
                    GetLastError() == ERROR_SHARING_VIOLATION)
            << "copy of " << Narrow(from) << " failed " << GetLastError();
    }
}

void EnsureServerRegistered() {
    if (!ServerRunning()) {
        InstallServer();
        ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer"), 0u);
    }
}

bool ServerRunning() {
    return IsCacheServerRunning();
}

HANDLE OpenServerProcess() {
    return tools::OpenProcessNamed(L"TVN Cache.exe",
                                   SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
}

HANDLE ServerHandleOnFolder(const wchar_t* folder) {
    FolderIdentity wanted;
    UniqueHandleObj server(
        tools::OpenProcessNamed(L"TVN Cache.exe", PROCESS_DUP_HANDLE | PROCESS_QUERY_INFORMATION));
    if (!server || !GetFolderIdentity(folder, &wanted)) {
        return nullptr;
    }
    for (HANDLE value : tools::HandlesInSystemTable(GetProcessId(server.get()))) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(server.get(), value, GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            continue;
        }
        UniqueHandleObj owned(copy);
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(copy) == FILE_TYPE_DISK && GetFileInformationByHandle(copy, &info) &&
            FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow} ==
                wanted) {
            return value;
        }
    }
    return nullptr;
}

bool CloseServerHandle(HANDLE value) {
    UniqueHandleObj server(tools::OpenProcessNamed(L"TVN Cache.exe", PROCESS_DUP_HANDLE));
    HANDLE copy = nullptr;  // Wine wants a target even when only the source is to be closed
    if (!server || !DuplicateHandle(server.get(), value, GetCurrentProcess(), &copy, 0, FALSE,
                                    DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    CloseHandle(copy);
    return true;
}

int DriveScansRunning(HANDLE process) {
    const DWORD id = GetProcessId(process);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int scans = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != id) {
            continue;
        }
        if (HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID)) {
            scans += GetThreadPriority(thread) == THREAD_PRIORITY_IDLE;
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    return scans;
}

bool WaitUntilDriveScansEnd(HANDLE process, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (DriveScansRunning(process) != 0) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

bool EnsureServerStarted() {
    if (ServerRunning()) {
        return true;
    }
    HANDLE process =
        StartProgram(Quoted(kServerPath) + L" -Embedding", L"C:\\tvn-server-output.txt");
    if (process == nullptr) {
        return false;
    }
    // Up once the mutex is taken and the class object is registered: a creation that finds
    // no class object would have COM start a second copy, which ends at once.
    const ULONGLONG deadline = GetTickCount64() + 30000;
    bool up = false;
    while (!up && GetTickCount64() < deadline && WaitForSingleObject(process, 20) == WAIT_TIMEOUT) {
        if (ServerRunning()) {
            IUnknown* factory = nullptr;
            up = SUCCEEDED(CoGetClassObject(CLSID_FolderSizeCache, CLSCTX_LOCAL_SERVER, nullptr,
                                            IID_IUnknown, reinterpret_cast<void**>(&factory)));
            if (factory != nullptr) {
                factory->Release();
            }
        }
    }
    CloseHandle(process);
    return up;
}

IFolderSizeCache* ConnectServer() {
    EXPECT_TRUE(EnsureServerStarted());
    IFolderSizeCache* cache = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IFolderSizeCache, reinterpret_cast<void**>(&cache));
    EXPECT_EQ(hr, S_OK);
    return cache;
}

void StopServer() {
    HANDLE process = OpenServerProcess();
    if (process == nullptr) {
        return;
    }
    IFolderSizeCache* cache = nullptr;
    CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER, IID_IFolderSizeCache,
                     reinterpret_cast<void**>(&cache));
    if (cache != nullptr) {
        cache->ReleaseServer();  // E_UNEXPECTED when a case gave it up already
        cache->Release();
    }
    EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
    CloseHandle(process);
}

Answer AskSize(IFolderSizeCache* cache, const std::wstring& path) {
    BSTR text = SysAllocStringLen(path.data(), UINT(path.size()));
    Answer a{E_UNEXPECTED, 12345, 0};
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    a.hr = cache->GetFolderSize(text, &a.bytes);
    QueryPerformanceCounter(&end);
    a.ms = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
    SysFreeString(text);
    return a;
}

SizeRequest Asker(IFolderSizeCache* cache) {
    return [cache](const std::wstring& folder, uint64_t* bytes) {
        Answer a = AskSize(cache, folder);
        *bytes = a.bytes;
        return a.hr;
    };
}

}  // namespace tvn::test
