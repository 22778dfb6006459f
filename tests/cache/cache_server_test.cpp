// TVN Cache.exe end to end: registration by its switches, activation through COM, answers by
// drive type, one object for every client, and the rules by which the process ends.
// Cases run in separate processes; each one starts the server it needs and ends it again.
#include <windows.h>
#include <dbt.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache_client.h"
#include "device_notice_window.h"
#include "server_setup.h"
#include "programs.h"
#include "server_harness.h"
#include "settled_cache.h"
#include "test_tree.h"
#include "tvn_cache.h"

namespace tvn {
namespace {

using test::Answer;
using test::DriveScansRunning;
using test::FolderLock;
using test::InstallServer;
using test::kClientPath;
using test::kServerPath;
using test::Narrow;
using test::OpenServerProcess;
using test::Quoted;
using test::RunProgram;
using test::ServerRunning;
using test::TestTree;
using test::WaitUntilDriveScansEnd;

constexpr wchar_t kClsidKey[] = L"CLSID\\{D6636C89-54F2-4CDB-9167-FF4B71150B25}";
constexpr wchar_t kInterfaceKey[] = L"Interface\\{EF840B08-4F29-4DAA-9E3A-DB7D04083FCD}";

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
    return test::KeyExists(HKEY_CLASSES_ROOT, key);
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

    IFolderSizeCache* Connect() { return test::ConnectServer(); }
    void EnsureRegistered() { test::EnsureServerRegistered(); }
    void StopServer() { test::StopServer(); }
    Answer Size(IFolderSizeCache* cache, const std::wstring& path) {
        return test::AskSize(cache, path);
    }

    // Waits until `path` is answered from memory with `bytes`: every notice of the changes
    // made so far has reached the table.
    void Settle(IFolderSizeCache* cache, const std::wstring& path, uint64_t bytes) {
        test::SettleResult settled =
            test::WaitUntilAnsweredFromMemory(test::Asker(cache), path, bytes);
        ASSERT_TRUE(settled.settled) << test::Describe(settled);
    }
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
    InstallServer();
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
    InstallServer();  // the client program too
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
    // Making the tree gave a stream of notices that may still mark it after the scan.
    Settle(first, tree.Root(), total);

    // Another process asks for the same folder while it cannot be listed: answered from the
    // table.
    FolderLock lock(tree.Root());
    ASSERT_TRUE(lock.Holds());
    const wchar_t* out = L"C:\\client-out.txt";
    EXPECT_EQ(RunProgram(Quoted(kClientPath) + L" size " + Quoted(tree.Root()), 60000, out), 0u);
    unsigned long hr = 1;
    unsigned long long bytes = 0;
    long long micros = 0;
    if (FILE* file = _wfopen(out, L"r")) {
        EXPECT_EQ(fscanf(file, "calling %lx %llu %lld", &hr, &bytes, &micros), 3);
        fclose(file);
    }
    DeleteFileW(out);
    EXPECT_EQ(hr, 0u);
    EXPECT_EQ(bytes, total);
    std::printf("scan %.2f ms, other client from memory %.3f ms\n", scan.ms, micros / 1000.0);
    lock.Unlock();

    // A change made inside Wine reaches the cache through the watcher.
    tree.File(L"f7\\g1\\new.bin", 5000);
    Settle(second, tree.Root(), total + 5000);

    // After a reset the next answer lists again (and fails while the folder is held), and
    // change marks keep working.
    FolderLock again(tree.Root());
    ASSERT_TRUE(again.Holds());
    Answer memory = Size(first, tree.Root());
    EXPECT_EQ(memory.hr, S_OK);
    EXPECT_EQ(memory.bytes, total + 5000);
    EXPECT_EQ(first->ResetCache(), S_OK);
    EXPECT_EQ(Size(second, tree.Root()).hr, E_FAIL) << "answered without listing after reset";
    again.Unlock();
    Answer rescan = Size(second, tree.Root());
    EXPECT_EQ(rescan.hr, S_OK);
    EXPECT_EQ(rescan.bytes, total + 5000);
    tree.Remove(L"f7\\g1\\new.bin");
    Settle(first, tree.Root(), total);
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
    InstallServer();
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
    // The server answers from its message loop, which it enters after starting the scans of
    // c:, m: and p:; wait until they have ended, without asking for the folder.
    HANDLE process = OpenServerProcess();
    ASSERT_NE(process, nullptr);
    const int scans = DriveScansRunning(process);
    ASSERT_TRUE(WaitUntilDriveScansEnd(process, 300000)) << "drive scans still running";
    std::printf("%d drive scans running at the first answer; all done after %lu ms\n", scans,
                GetTickCount() - start);
    // The start-up scan cached the tree: the first request is answered although the folder
    // cannot be listed; after a reset it must be listed again.
    FolderLock lock(tree.Root(), GetTickCount64() + 30000);
    ASSERT_TRUE(lock.Holds());
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

// Links that lead back into the tree (fixture-loop) or branch (fixture-branch, 2^24 paths;
// both made on the Linux side) are counted once: the server answers the total of each folder
// once, cached on the fixed drive and uncached on the network drive, instead of descending
// until the path buffers end or the paths run out.
TEST_F(ComClient, LinkLoopsAreCountedOnce) {
    EnsureRegistered();
    IFolderSizeCache* cache = Connect();
    ASSERT_NE(cache, nullptr);
    const struct {
        const wchar_t* folder;
        uint64_t bytes;
    } cases[] = {{L"m:\\fixture-loop", 1235},
                 {L"n:\\fixture-loop", 1235},
                 {L"m:\\fixture-branch\\L00", 325},
                 {L"n:\\fixture-branch\\L00", 325}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.folder)));
        Answer answer = Size(cache, c.folder);
        EXPECT_EQ(answer.hr, S_OK);
        EXPECT_EQ(answer.bytes, c.bytes);
        std::printf("%ls: %.1f ms\n", c.folder, answer.ms);
    }
    cache->Release();
    StopServer();
}

// m:\late-q appears as the fixed drive q: (scripts/wine-env.sh maps it) while the server runs,
// and goes again once the server, which may hold it, has ended.
struct LateDrive {
    LateDrive() { CreateDirectoryW(L"m:\\late-q", nullptr); }
    ~LateDrive() {
        test::StopServer();
        test::RemoveTree(L"m:\\late-q");
    }
};

// A fixed drive attached after the server started is watched by the first request for it and
// then cached. When Windows asks to remove its device, the server closes the drive's handle at
// once and answers the drive without the cache until the removal has failed.
TEST_F(ComClient, DriveAttachedLaterIsWatchedAndLetGoForRemoval) {
    EnsureRegistered();
    ASSERT_TRUE(test::EnsureServerStarted());
    LateDrive late;
    auto cache = ComPtr<IFolderSizeCache>::Attach(Connect());
    ASSERT_TRUE(cache);
    ASSERT_EQ(GetDriveTypeW(L"q:\\"), UINT(DRIVE_FIXED));
    {
        TestTree tree(L"q:");
        tree.File(L"a.bin", 100);
        EXPECT_EQ(Size(cache.get(), tree.Root()).bytes, 100u);
        tree.File(L"b.bin", 50);
        Settle(cache.get(), tree.Root(), 150);  // only a watch marks the record

        const HANDLE watch = test::ServerHandleOnFolder(L"q:\\");
        ASSERT_NE(watch, nullptr);
        HWND window = FindWindowExW(HWND_MESSAGE, nullptr, DeviceNoticeWindow::kClassName, nullptr);
        ASSERT_NE(window, nullptr);
        DEV_BROADCAST_HANDLE event{};
        event.dbch_size = sizeof(event);
        event.dbch_devicetype = DBT_DEVTYP_HANDLE;
        event.dbch_handle = watch;
        EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, LPARAM(&event)),
                  TRUE);
        EXPECT_EQ(test::ServerHandleOnFolder(L"q:\\"), nullptr) << "q: is still held";
        {
            FolderLock lock(tree.Root());
            ASSERT_TRUE(lock.Holds());
            EXPECT_EQ(Size(cache.get(), tree.Root()).hr, E_INVALIDARG) << "answered from the cache";
        }
        EXPECT_EQ(test::ServerHandleOnFolder(L"q:\\"), nullptr) << "watched during removal";

        SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVEFAILED, LPARAM(&event));
        tree.File(L"c.bin", 25);
        Settle(cache.get(), tree.Root(), 175);
        EXPECT_NE(test::ServerHandleOnFolder(L"q:\\"), nullptr);
    }
}

// A watch whose read fails (its handle closed under it here, as a failing volume ends its
// reads) marks the drive's records and is opened anew by the next request.
TEST_F(ComClient, FailedWatchIsOpenedAgainByTheNextRequest) {
    EnsureRegistered();
    auto cache = ComPtr<IFolderSizeCache>::Attach(Connect());
    ASSERT_TRUE(cache);
    TestTree tree(test::kFixedDrive);
    tree.File(L"a.bin", 100);
    Settle(cache.get(), tree.Root(), 100);
    const HANDLE watch = test::ServerHandleOnFolder(L"m:\\");
    ASSERT_NE(watch, nullptr);
    ASSERT_TRUE(test::CloseServerHandle(watch));
    tree.File(L"b.bin", 50);  // nothing watches m: now
    Settle(cache.get(), tree.Root(), 150);
    tree.File(L"c.bin", 25);  // seen only by a watch opened again
    Settle(cache.get(), tree.Root(), 175);
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
    Settle(cache, tree.Root(), 40);
    {
        // Answered from memory while the folder cannot be listed; after the reset it must be
        // listed again, which fails while it is held.
        FolderLock lock(tree.Root());
        ASSERT_TRUE(lock.Holds());
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
