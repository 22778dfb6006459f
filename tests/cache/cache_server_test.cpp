// TVN Cache.exe end to end: registration by its switches, activation through COM, answers by
// drive type, one object for every client, and the rules by which the process ends.
// Cases run in separate processes; each one starts the server it needs and ends it again.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache_client.h"
#include "server_setup.h"
#include "test_tree.h"
#include "tvn_cache.h"

namespace tvn {
namespace {

using test::TestTree;

constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Tolvane";
constexpr wchar_t kServerPath[] = L"C:\\Program Files\\Tolvane\\TVN Cache.exe";
constexpr wchar_t kClientPath[] = L"C:\\Program Files\\Tolvane\\tvn_cache_client.exe";
constexpr wchar_t kClsidKey[] = L"CLSID\\{D6636C89-54F2-4CDB-9167-FF4B71150B25}";
constexpr wchar_t kInterfaceKey[] = L"Interface\\{EF840B08-4F29-4DAA-9E3A-DB7D04083FCD}";

// Starts a program with its standard handles on a file of its own. A server must never inherit
// the test's output: the harness reads it through a pipe until every writer has gone (and
// Wine hands a NUL handle's process the parent's Unix descriptors).
HANDLE Start(const std::wstring& commandLine,
             const wchar_t* output = L"C:\\tvn-server-output.txt") {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileW(output, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, L"C:\\",
                                  &startup, &process);
    CloseHandle(nul);
    if (!started) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Runs a program and returns its exit code (or 0xDEAD when it did not end in time).
DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 60000,
                 const wchar_t* output = L"C:\\tvn-program-output.txt") {
    PROCESS_INFORMATION process{};
    process.hProcess = Start(commandLine, output);
    if (process.hProcess == nullptr) {
        return 0xBAD;
    }
    DWORD code = 0xDEAD;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hProcess);
    return code;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += char(c);
    }
    return out;
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

// A file of the build tree, as Wine reaches a Unix path without a drive letter.
std::wstring BuiltFile(const wchar_t* relative) {
    std::wstring path = L"\\\\?\\unix";
    for (const char* c = TVN_BUILD_ROOT; *c; ++c) {
        path += *c == '/' ? L'\\' : wchar_t(*c);
    }
    return path + L"\\" + relative;
}

// The server installed where a setup would put it, fresh from the build.
void Install() {
    test::CreateFolders(kInstallDir);
    std::wstring built = BuiltFile(L"cache\\TVN Cache.exe");
    ASSERT_TRUE(CopyFileW(built.c_str(), kServerPath, FALSE) ||
                GetLastError() == ERROR_SHARING_VIOLATION)
        << "copy of " << Narrow(built) << " failed " << GetLastError();
    ASSERT_TRUE(
        CopyFileW(BuiltFile(L"tests\\cache\\tvn_cache_client.exe").c_str(), kClientPath, FALSE) ||
        GetLastError() == ERROR_SHARING_VIOLATION);
}

bool ServerRunning() {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, tvn::kCacheServerMutexName);
    if (mutex == nullptr) {
        return false;
    }
    CloseHandle(mutex);
    return true;
}

// The running server process, opened for waiting; null when there is none.
HANDLE OpenServerProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    HANDLE found = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"TVN Cache.exe") == 0) {
            found =
                OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

std::wstring ReadString(const std::wstring& key, const wchar_t* name) {
    wchar_t data[1024];
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_ANY, &type, data, &size) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return type == REG_SZ ? std::wstring(data) : L"<not REG_SZ>";
}

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

class ComClient : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    // A server started by a case inherits the harness's output pipe however it is started under
    // Wine, and the harness waits for that pipe: every case ends with the server gone.
    void TearDown() override {
        StopServer();
        CoUninitialize();
    }

    // The server as COM would start it, but with its output away from the harness's pipe.
    void EnsureServer() {
        if (ServerRunning()) {
            return;
        }
        HANDLE process = Start(Quoted(kServerPath) + L" -Embedding");
        ASSERT_NE(process, nullptr);
        CloseHandle(process);
        for (int i = 0; i < 200 && !ServerRunning(); ++i) {
            Sleep(25);
        }
        Sleep(300);  // the class object is registered right after the mutex is taken
    }

    IFolderSizeCache* Connect() {
        EnsureServer();
        IFolderSizeCache* cache = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_IFolderSizeCache, reinterpret_cast<void**>(&cache));
        EXPECT_EQ(hr, S_OK);
        return cache;
    }

    // Registers the server unless one runs (a running one was registered to be started).
    void EnsureRegistered() {
        if (!ServerRunning()) {
            Install();
            ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer"), 0u);
        }
    }

    // Ends a running server: gives up its own reference and waits for the process to go.
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

    struct Answer {
        HRESULT hr;
        unsigned __int64 bytes;
        double ms;
    };
    Answer Size(IFolderSizeCache* cache, const std::wstring& path) {
        BSTR text = SysAllocString(path.c_str());
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
    // Asks until the answer is `bytes` (changes reach the table through the watcher's threads);
    // false when it still differs after 10 s.
    bool SizeBecomes(IFolderSizeCache* cache, const std::wstring& path, uint64_t bytes) {
        for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(5)) {
            Answer a = Size(cache, path);
            if (a.hr == S_OK && a.bytes == bytes) {
                return true;
            }
        }
        return false;
    }
};

// Holds a folder open without sharing. Any listing of it fails with a sharing violation while
// no change notice is raised, so an answer that still succeeds was given from the table.
class FolderLock {
  public:
    explicit FolderLock(const std::wstring& folder)
        : handle_(CreateFileW(folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << "cannot hold the folder";
    }
    ~FolderLock() { Unlock(); }
    void Unlock() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HANDLE handle_;
};

// A tree of many folders: a scan lists each one, an answer from memory lists none.
void MakeWideTree(TestTree& tree, uint64_t* total) {
    *total = 0;
    for (int i = 0; i < 150; ++i) {
        for (int j = 0; j < 2; ++j) {
            tree.File(L"f" + std::to_wstring(i) + L"\\g" + std::to_wstring(j) + L"\\x.bin",
                      uint64_t(i + j + 1));
            *total += uint64_t(i + j + 1);
        }
    }
}

TEST_F(ComClient, RegistrationWritesAndRemovesExactlyItsEntries) {
    StopServer();
    Install();
    ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /UnregServer"), 0u);
    ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" -regserver"), 0u);

    const std::wstring clsid = kClsidKey;
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring data;
    } values[] = {
        {L"AppID\\{11B2FC3C-1C54-495F-809C-0F2E6A916E8D}", nullptr, L"TVNCache"},
        {L"AppID\\TVN Cache.EXE", L"AppID", L"{11B2FC3C-1C54-495F-809C-0F2E6A916E8D}"},
        {L"TVNCache.FolderSizeCache.1", nullptr, L"FolderSizeCache Class"},
        {L"TVNCache.FolderSizeCache.1\\CLSID", nullptr, L"{D6636C89-54F2-4CDB-9167-FF4B71150B25}"},
        {L"TVNCache.FolderSizeCache", nullptr, L"FolderSizeCache Class"},
        {L"TVNCache.FolderSizeCache\\CLSID", nullptr, L"{D6636C89-54F2-4CDB-9167-FF4B71150B25}"},
        {L"TVNCache.FolderSizeCache\\CurVer", nullptr, L"TVNCache.FolderSizeCache.1"},
        {clsid, nullptr, L"FolderSizeCache Class"},
        {clsid, L"AppID", L"{11B2FC3C-1C54-495F-809C-0F2E6A916E8D}"},
        {clsid + L"\\ProgID", nullptr, L"TVNCache.FolderSizeCache.1"},
        {clsid + L"\\VersionIndependentProgID", nullptr, L"TVNCache.FolderSizeCache"},
        {clsid + L"\\LocalServer32", nullptr, Quoted(kServerPath)},
        {clsid + L"\\TypeLib", nullptr, L"{51817188-A777-46EA-9E9D-0A5F9EEB9161}"},
        // From the type library's registration: the interface goes through the marshaller.
        {std::wstring(kInterfaceKey), nullptr, L"IFolderSizeCache"},
        {std::wstring(kInterfaceKey) + L"\\ProxyStubClsid32", nullptr,
         L"{00020424-0000-0000-C000-000000000046}"},
        {std::wstring(kInterfaceKey) + L"\\TypeLib", nullptr,
         L"{51817188-A777-46EA-9E9D-0A5F9EEB9161}"},
        {L"TypeLib\\{51817188-A777-46EA-9E9D-0A5F9EEB9161}\\1.0", nullptr,
         L"TVNCache 1.0 Type Library"},
        {L"TypeLib\\{51817188-A777-46EA-9E9D-0A5F9EEB9161}\\1.0\\409\\win64", nullptr, kServerPath},
        {L"TypeLib\\{51817188-A777-46EA-9E9D-0A5F9EEB9161}\\1.0\\0\\win64", nullptr, kServerPath},
    };
    for (const auto& v : values) {
        EXPECT_EQ(Narrow(ReadString(v.key, v.name)), Narrow(v.data))
            << Narrow(v.key) << " " << (v.name ? Narrow(v.name) : "(default)");
    }
    EXPECT_TRUE(KeyExists(clsid + L"\\Programmable"));

    // Registering again replaces the class key whole: a stray subkey goes.
    HKEY stray = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, (clsid + L"\\Stray").c_str(), &stray),
              ERROR_SUCCESS);
    RegCloseKey(stray);
    ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer"), 0u);
    EXPECT_FALSE(KeyExists(clsid + L"\\Stray"));

    ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /UNREGSERVER"), 0u);
    for (const auto& v : values) {
        EXPECT_EQ(Narrow(ReadString(v.key, v.name)), "<missing>") << Narrow(v.key);
    }
    for (const wchar_t* gone :
         {L"TVNCache.FolderSizeCache", L"TVNCache.FolderSizeCache.1", L"AppID\\TVN Cache.EXE",
          kClsidKey, kInterfaceKey, L"AppID\\{11B2FC3C-1C54-495F-809C-0F2E6A916E8D}",
          L"TypeLib\\{51817188-A777-46EA-9E9D-0A5F9EEB9161}"}) {
        EXPECT_FALSE(KeyExists(gone)) << Narrow(gone);
    }
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    // Unregistering twice finds nothing to remove and still succeeds.
    EXPECT_EQ(RunProgram(Quoted(kServerPath) + L" /UnregServer"), 0u);
    ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer"), 0u);
}

TEST_F(ComClient, AnswersByDriveTypeAndLateBindingAgrees) {
    EnsureRegistered();
    IFolderSizeCache* cache = Connect();
    ASSERT_NE(cache, nullptr);

    TestTree fixed(test::kFixedDrive);
    fixed.File(L"a.bin", 1000);
    fixed.File(L"sub\\sparse.bin", 4ull << 30);
    fixed.File(L"sub\\deep\\b.bin", 3);
    const uint64_t total = 1000 + (4ull << 30) + 3;
    Answer a = Size(cache, fixed.Root());
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.bytes, total);

    Answer missing = Size(cache, fixed.Path(L"not there"));
    EXPECT_EQ(missing.hr, E_FAIL);
    EXPECT_EQ(missing.bytes, 0u);
    Answer empty = Size(cache, L"");
    EXPECT_EQ(empty.hr, E_INVALIDARG);
    unsigned __int64 bytes = 9;
    EXPECT_EQ(cache->GetFolderSize(nullptr, &bytes), E_INVALIDARG);

    // Network and optical drives are scanned each time, so a change shows at once although
    // no watcher looks at them.
    for (const wchar_t* drive : {test::kNetworkDrive, test::kOpticalDrive}) {
        TestTree other(drive);
        other.File(L"x\\y.bin", 300);
        Answer first = Size(cache, other.Root());
        EXPECT_EQ(first.hr, S_OK);
        EXPECT_EQ(first.bytes, 300u);
        other.File(L"x\\z.bin", 20);
        Answer second = Size(cache, other.Root());
        EXPECT_EQ(second.bytes, 320u) << char(drive[0]);
        EXPECT_EQ(Size(cache, other.Path(L"gone")).hr, E_INVALIDARG);
    }

    // Late binding reaches the same method through the type information.
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(cache->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    const wchar_t* names[] = {L"GetFolderSize", L"ReleaseServer", L"CreateCache", L"ResetCache"};
    for (DISPID expected = 1; expected <= 4; ++expected) {
        LPOLESTR name = const_cast<LPOLESTR>(names[expected - 1]);
        DISPID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0x409, &id), S_OK);
        EXPECT_EQ(id, expected);
    }
    unsigned long long late = 0;
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[1].vt = VT_BSTR;  // arguments go in reverse order
    args[1].bstrVal = SysAllocString(fixed.Root().c_str());
    args[0].vt = VT_BYREF | VT_UI8;
    args[0].pullVal = &late;
    DISPPARAMS params{args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(
        dispatch->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(late, total);
    SysFreeString(args[1].bstrVal);
    dispatch->Release();
    cache->Release();
}

TEST_F(ComClient, EveryClientSharesOneCacheThatFollowsChanges) {
    EnsureRegistered();
    Install();  // the client program too
    IFolderSizeCache* first = Connect();
    IFolderSizeCache* second = Connect();
    ASSERT_TRUE(first && second);
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();

    TestTree tree(test::kFixedDrive);
    uint64_t total = 0;
    MakeWideTree(tree, &total);
    Answer scan = Size(first, tree.Root());
    ASSERT_EQ(scan.hr, S_OK);
    EXPECT_EQ(scan.bytes, total);

    // Another process asks for the same folder while it cannot be listed: answered from the
    // table.
    FolderLock lock(tree.Root());
    const wchar_t* out = L"C:\\client-out.txt";
    EXPECT_EQ(RunProgram(Quoted(kClientPath) + L" size " + Quoted(tree.Root()), 60000, out), 0u);
    unsigned long hr = 1;
    unsigned long long bytes = 0;
    long long micros = 0;
    if (FILE* file = _wfopen(out, L"r")) {
        EXPECT_EQ(fscanf(file, "%lx %llu %lld", &hr, &bytes, &micros), 3);
        fclose(file);
    }
    DeleteFileW(out);
    EXPECT_EQ(hr, 0u);
    EXPECT_EQ(bytes, total);
    std::printf("scan %.2f ms, other client from memory %.3f ms\n", scan.ms, micros / 1000.0);
    lock.Unlock();

    // A change made inside Wine reaches the cache through the watcher.
    tree.File(L"f7\\g1\\new.bin", 5000);
    EXPECT_TRUE(SizeBecomes(second, tree.Root(), total + 5000));

    // The change comes in several batches (ADDED, then MODIFIED): the first right answer need
    // not be the last recount. Settled means answered from memory while the folder is held;
    // between tries the folder is free, so that a late mark can be recounted.
    Answer memory;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
        Size(first, tree.Root());  // a recount of what the last batch marked, if any
        FolderLock held(tree.Root());
        memory = Size(first, tree.Root());
        if (memory.hr == S_OK && memory.bytes == total + 5000) {
            break;
        }
    }
    EXPECT_EQ(memory.hr, S_OK);
    EXPECT_EQ(memory.bytes, total + 5000);

    // After a reset the next answer lists again (and fails while the folder is held), and
    // change marks keep working.
    FolderLock again(tree.Root());
    EXPECT_EQ(first->ResetCache(), S_OK);
    EXPECT_EQ(Size(second, tree.Root()).hr, E_FAIL) << "answered without listing after reset";
    again.Unlock();
    Answer rescan = Size(second, tree.Root());
    EXPECT_EQ(rescan.hr, S_OK);
    EXPECT_EQ(rescan.bytes, total + 5000);
    tree.Remove(L"f7\\g1\\new.bin");
    EXPECT_TRUE(SizeBecomes(first, tree.Root(), total));
    first->Release();
    second->Release();
}

TEST_F(ComClient, SecondStartEndsAtOnceAndRegistersNothing) {
    EnsureRegistered();
    IFolderSizeCache* cache = Connect();
    ASSERT_NE(cache, nullptr);
    ASSERT_TRUE(ServerRunning());
    const std::wstring progId = L"TVNCache.FolderSizeCache\\CurVer";
    ASSERT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, progId.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer", 20000), 0u);
    EXPECT_FALSE(KeyExists(progId));  // the second copy did not register
    EXPECT_EQ(RunProgram(Quoted(kServerPath), 20000), 0u);
    EXPECT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServerX", 20000), 0u);
    cache->Release();
    StopServer();
    Install();
    ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer"), 0u);
    EXPECT_TRUE(KeyExists(progId));
}

TEST_F(ComClient, ProcessEndsOnlyAfterReleaseServerAndFiveSecondsIdle) {
    StopServer();
    EnsureRegistered();
    IFolderSizeCache* cache = Connect();
    ASSERT_NE(cache, nullptr);
    HANDLE process = OpenServerProcess();
    ASSERT_NE(process, nullptr);
    cache->Release();
    // Every client has gone, but the server's own reference keeps it running.
    EXPECT_EQ(WaitForSingleObject(process, 7000), WAIT_TIMEOUT);

    cache = Connect();
    ASSERT_NE(cache, nullptr);
    HRESULT left = cache->ReleaseServer();
    EXPECT_GE(left, 1);  // this client's reference and the factory's remain
    EXPECT_EQ(cache->ReleaseServer(), E_UNEXPECTED);              // only once
    EXPECT_EQ(WaitForSingleObject(process, 3000), WAIT_TIMEOUT);  // still held by this client
    DWORD released = GetTickCount();
    cache->Release();
    EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    DWORD elapsed = GetTickCount() - released;
    std::printf("process ended %lu ms after the last release\n", elapsed);
    EXPECT_GE(elapsed, 4500u);
    EXPECT_LE(elapsed, 12000u);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(process);
}

TEST_F(ComClient, CacheAllScansEveryFixedDriveAtStart) {
    StopServer();
    EnsureRegistered();
    TestTree tree(test::kSecondFixedDrive);
    uint64_t total = 0;
    MakeWideTree(tree, &total);

    HKEY settings = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Quorlen\\Tolvane\\Settings", &settings),
              ERROR_SUCCESS);
    const unsigned long long one = 1;
    RegSetValueExW(settings, L"CacheAll", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&one), 8);

    DWORD start = GetTickCount();
    IFolderSizeCache* cache = Connect();
    RegDeleteValueW(settings, L"CacheAll");
    RegCloseKey(settings);
    ASSERT_NE(cache, nullptr);
    // Scans hold the server: wait until their threads are gone (the process drops back to its
    // resting thread count), without asking for the folder.
    HANDLE process = OpenServerProcess();
    ASSERT_NE(process, nullptr);
    DWORD pid = GetProcessId(process);
    auto threads = [pid] {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        int count = 0;
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry)) {
            count += entry.th32OwnerProcessID == pid;
        }
        CloseHandle(snapshot);
        return count;
    };
    int peak = threads();
    int now = peak;
    for (int i = 0; i < 600; ++i) {
        Sleep(200);
        now = threads();
        if (now < peak - 2) {  // c:, m: and p: scans have ended
            break;
        }
    }
    std::printf("threads %d -> %d; drive scans done after %lu ms\n", peak, now,
                GetTickCount() - start);
    // The start-up scan cached the tree: the first request is answered although the folder
    // cannot be listed; after a reset it must be listed again.
    FolderLock lock(tree.Root());
    Answer cached = Size(cache, tree.Root());
    EXPECT_EQ(cached.hr, S_OK);
    EXPECT_EQ(cached.bytes, total);
    EXPECT_EQ(cache->ResetCache(), S_OK);
    EXPECT_EQ(Size(cache, tree.Root()).hr, E_FAIL);
    lock.Unlock();
    Answer rescan = Size(cache, tree.Root());
    EXPECT_EQ(rescan.bytes, total);
    cache->Release();
    CloseHandle(process);
    StopServer();
}

// Links that lead back into the tree (fixture-loop, made on the Linux side) are counted
// once: the server answers the loop-free total, cached on the fixed drive and uncached on the
// network drive, instead of descending until the path buffers end.
TEST_F(ComClient, LinkLoopsAreCountedOnce) {
    EnsureRegistered();
    IFolderSizeCache* cache = Connect();
    ASSERT_NE(cache, nullptr);
    for (const wchar_t* folder : {L"m:\\fixture-loop", L"n:\\fixture-loop"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(folder)));
        Answer answer = Size(cache, folder);
        EXPECT_EQ(answer.hr, S_OK);
        EXPECT_EQ(answer.bytes, 1235u);
    }
    cache->Release();
    StopServer();
}

// The client pieces the properties program uses: a reset acts only on a running server and
// never starts one; the connection asked through IUnknown reaches the same object.
TEST_F(ComClient, ResetReachesOnlyARunningServer) {
    EnsureRegistered();
    StopServer();
    ASSERT_FALSE(IsCacheServerRunning());
    EXPECT_EQ(ResetRunningCacheServer(), S_FALSE);
    EXPECT_FALSE(IsCacheServerRunning()) << "a reset must not start the server";

    TestTree tree;
    tree.File(L"f.bin", 40);
    IFolderSizeCache* cache = Connect();
    ASSERT_NE(cache, nullptr);
    EXPECT_TRUE(IsCacheServerRunning());
    EXPECT_EQ(Size(cache, tree.Root()).bytes, 40u);
    ComPtr<IFolderSizeCache> viaUnknown;
    EXPECT_EQ(ConnectCacheServer(viaUnknown, IID_IUnknown), S_OK);
    EXPECT_TRUE(viaUnknown);
    {
        // Answered from memory while the folder cannot be listed; after the reset it must be
        // listed again, which fails while it is held.
        FolderLock lock(tree.Root());
        EXPECT_EQ(Size(cache, tree.Root()).hr, S_OK);
        EXPECT_EQ(ResetRunningCacheServer(), S_OK);
        EXPECT_EQ(Size(cache, tree.Root()).hr, E_FAIL);
    }
    viaUnknown.reset();
    cache->Release();
    StopServer();
}

}  // namespace
}  // namespace tvn
