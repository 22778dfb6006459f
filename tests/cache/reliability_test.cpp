// The real cache server under stress, through COM as Explorer's processes reach it: bad
// requests, giving up the server during scans, a seeded random sequence of file operations
// compared with fresh scans, and several client processes at once.
//
// TVN_SOAK (a whole number, default 1) multiplies the operations and the load time; the suite
// runs with 1, bench/run-soak.sh with more.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "process_usage.h"
#include "programs.h"
#include "server_harness.h"
#include "settled_cache.h"
#include "test_tree.h"

namespace tvn::test {
namespace {

int SoakFactor() {
    wchar_t text[16] = {};
    DWORD length = GetEnvironmentVariableW(L"TVN_SOAK", text, 16);
    int factor = length > 0 && length < 16 ? _wtoi(text) : 1;
    return factor < 1 ? 1 : factor;
}

// Total of every file below `folder`, walked here without the cache: the oracle.
uint64_t Walk(const std::wstring& folder) {
    uint64_t total = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        std::wstring name = data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L"..") {
                total += Walk(folder + L"\\" + name);
            }
        } else {
            total += (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return total;
}

// Every folder below `folder` (itself first), found by walking.
void Folders(const std::wstring& folder, std::vector<std::wstring>* out) {
    out->push_back(folder);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        std::wstring name = data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
            Folders(folder + L"\\" + name, out);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

std::wstring DumpPath() {
    wchar_t documents[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents);
    return std::wstring(documents) + L"\\TVN Cache.dmp";
}

class CacheServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        DeleteFileW(DumpPath().c_str());
        EnsureServerRegistered();
        InstallServer();  // the client program too
    }
    void TearDown() override {
        StopServer();
        EXPECT_EQ(GetFileAttributesW(DumpPath().c_str()), INVALID_FILE_ATTRIBUTES)
            << "the server wrote a crash dump";
        CoUninitialize();
    }
    static void Settle(IFolderSizeCache* cache, const std::wstring& path, uint64_t bytes) {
        SettleResult settled = WaitUntilAnsweredFromMemory(Asker(cache), path, bytes);
        EXPECT_TRUE(settled.settled) << Narrow(path) << ": " << Describe(settled);
    }
};

// ---- bad input -----------------------------------------------------------------------------

TEST_F(CacheServer, BadRequestsGetAnErrorAndTheServerStaysRight) {
    IFolderSizeCache* cache = ConnectServer();
    ASSERT_NE(cache, nullptr);
    TestTree tree;
    tree.File(L"a.bin", 700);
    tree.File(L"sub\\b.bin", 77);
    const uint64_t total = 777;
    ASSERT_EQ(AskSize(cache, tree.Root()).bytes, total);

    auto longPath = [](size_t units) {
        std::wstring path = L"m:\\tvn-long";
        while (path.size() < units) {
            path += path.size() % 100 == 0 ? L'\\' : L'x';
        }
        path.resize(units);
        return path;
    };
    struct Case {
        const char* what;
        std::wstring path;
    };
    const Case cases[] = {
        {"259 units", longPath(259)},
        {"260 units", longPath(260)},
        {"261 units", longPath(261)},
        {"519 units", longPath(519)},
        {"520 units", longPath(520)},
        {"521 units", longPath(521)},
        {"1000 units", longPath(1000)},
        {"32000 units", longPath(32000)},
        {"relative", L"tvn-no-such-folder"},
        {"UNC", L"\\\\tvn-no-such-host\\share\\folder"},
        {"forward slashes", L"m:/tvn-no/such/folder"},
        {"zero inside", tree.Root() + std::wstring(1, L'\0') + L"\\sub"},
        {"zero inside, network", std::wstring(L"n:\\") + std::wstring(1, L'\0') + L"x"},
        {"a file", tree.Path(L"a.bin")},
        {"device name", L"m:\\nul"},
        {"wildcard", tree.Root() + L"\\*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Answer a = AskSize(cache, c.path);
        EXPECT_TRUE(FAILED(a.hr)) << std::hex << a.hr;
        EXPECT_EQ(a.bytes, 0u);
    }
    // A file on a drive scanned without the cache.
    TestTree network(kNetworkDrive);
    network.File(L"f.bin", 5);
    EXPECT_EQ(AskSize(cache, network.Path(L"f.bin")).hr, E_INVALIDARG);

    // Null and empty strings, a null out pointer: an error from the server, not a crash.
    unsigned __int64 bytes = 9;
    EXPECT_EQ(cache->GetFolderSize(nullptr, &bytes), E_INVALIDARG);
    BSTR empty = SysAllocString(L"");
    EXPECT_EQ(cache->GetFolderSize(empty, &bytes), E_INVALIDARG);
    BSTR root = SysAllocString(tree.Root().c_str());
    EXPECT_TRUE(FAILED(cache->GetFolderSize(root, nullptr)));
    SysFreeString(empty);

    // Late binding with arguments of the wrong kind or number.
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(cache->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    unsigned long long late = 0;
    auto invoke = [&](std::vector<VARIANT> args) {
        DISPPARAMS params{args.data(), nullptr, UINT(args.size()), 0};
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = dispatch->Invoke(1, IID_NULL, 0x409, DISPATCH_METHOD, &params, &result,
                                      nullptr, nullptr);
        VariantClear(&result);
        return hr;
    };
    VARIANT text, number, out;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = root;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 42;
    VariantInit(&out);
    out.vt = VT_BYREF | VT_UI8;
    out.pullVal = &late;
    struct DispatchCase {
        const char* what;
        std::vector<VARIANT> args;  // in reverse order, as DISPPARAMS holds them
    };
    // (Wine's type-library dispatch accepts a surplus argument and a size not passed by
    // reference, so those are not listed.)
    const DispatchCase dispatchCases[] = {
        {"no arguments", {}},
        {"one argument", {text}},
        {"a number for the path", {out, number}},
        {"arguments swapped", {text, out}},
    };
    for (const auto& c : dispatchCases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(FAILED(invoke(c.args)));
    }
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(
        dispatch->Invoke(77, IID_NULL, 0x409, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
        DISP_E_MEMBERNOTFOUND);
    // The right call still works through the same interface.
    EXPECT_EQ(invoke({out, text}), S_OK);
    EXPECT_EQ(late, total);
    dispatch->Release();
    SysFreeString(root);

    // Alive and right afterwards, for this client and a new one.
    EXPECT_EQ(AskSize(cache, tree.Root()).bytes, total);
    tree.File(L"sub\\c.bin", 3);
    Settle(cache, tree.Root(), total + 3);
    EXPECT_EQ(RunProgram(Quoted(kClientPath) + L" size " + Quoted(tree.Root())), 0u);
    cache->Release();
}

// ---- lifetime ------------------------------------------------------------------------------

// Waits for the server process to end; the milliseconds from `since` (GetTickCount64) to its
// end, or ~0 when it did not end within two minutes. Its exit code goes to `code`.
ULONGLONG EndAfter(HANDLE process, ULONGLONG since, DWORD* code) {
    if (WaitForSingleObject(process, 120000) != WAIT_OBJECT_0) {
        return ~0ull;
    }
    ULONGLONG elapsed = GetTickCount64() - since;
    GetExitCodeProcess(process, code);
    return elapsed;
}

// A tree whose uncached scan lists a few thousand folders: a second or more under Wine.
uint64_t MakeLongScan(TestTree& tree, int folders) {
    uint64_t total = 0;
    for (int i = 0; i < folders; ++i) {
        const uint64_t size = uint64_t(i % 13 + 1);
        tree.File(L"d" + std::to_wstring(i / 50) + L"\\e" + std::to_wstring(i) + L"\\f.bin", size);
        total += size;
    }
    return total;
}

// The wide fixture trees (made by tests/fixtures/make-fixtures.sh): scans of a few seconds
// under Wine, on the fixed drive m: (cached) and the network drive (listed afresh).
constexpr uint64_t kWideTreeBytes = 4000000;
constexpr const wchar_t* kWideCached = L"m:\\fixture-wide";
constexpr const wchar_t* kWideUncached = L"n:\\fixture-wide";

// Another client process asking for one folder's size.
class ScanningClient {
  public:
    struct Result {
        unsigned long hr = 1;
        unsigned long long bytes = 0;
        long long micros = 0;
        DWORD exitCode = 1;
        ULONGLONG endedAt = 0;  // GetTickCount64 when the process was seen ending
    };

    ScanningClient(const std::wstring& folder, const std::wstring& output)
        : output_(output),
          process_(StartProgram(Quoted(kClientPath) + L" size " + Quoted(folder), output)) {}
    ~ScanningClient() {
        if (process_) {
            WaitForSingleObject(process_, 120000);
            CloseHandle(process_);
        }
    }
    ScanningClient(const ScanningClient&) = delete;
    ScanningClient& operator=(const ScanningClient&) = delete;

    // True once the client wrote "calling", just before its call.
    bool Calling() const {
        const ULONGLONG deadline = GetTickCount64() + 30000;
        while (ReadFileText(output_).find("calling") == std::string::npos &&
               GetTickCount64() < deadline && Running()) {
            Sleep(5);
        }
        return ReadFileText(output_).find("calling") != std::string::npos;
    }
    bool Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    // Waits for the client's end and reads what it printed.
    Result Finish() const {
        Result result;
        if (process_ && WaitForSingleObject(process_, 120000) == WAIT_OBJECT_0) {
            result.endedAt = GetTickCount64();
            GetExitCodeProcess(process_, &result.exitCode);
        }
        const std::string text = ReadFileText(output_);
        EXPECT_EQ(std::sscanf(text.c_str(), "calling %lx %llu %lld", &result.hr, &result.bytes,
                              &result.micros),
                  3)
            << text;
        return result;
    }

  private:
    std::wstring output_;
    HANDLE process_;
};

TEST_F(CacheServer, ReleaseServerWhileTwoClientsScanEndsFiveSecondsAfterTheLastAnswer) {
    StopServer();
    IFolderSizeCache* cache = ConnectServer();
    ASSERT_NE(cache, nullptr);
    HANDLE process = OpenServerProcess();
    ASSERT_NE(process, nullptr);

    // Two other client processes scan; this one gives the server up meanwhile.
    ScanningClient cached(kWideCached, L"C:\\tvn-scan-cached.txt");
    ScanningClient uncached(kWideUncached, L"C:\\tvn-scan-uncached.txt");
    ASSERT_TRUE(cached.Calling());
    ASSERT_TRUE(uncached.Calling());
    const ULONGLONG releasing = GetTickCount64();
    EXPECT_GE(cache->ReleaseServer(), 0);
    const ULONGLONG released = GetTickCount64();
    cache->Release();

    ULONGLONG lastAnswer = released;
    for (const ScanningClient* client : {&cached, &uncached}) {
        const ScanningClient::Result answer = client->Finish();
        EXPECT_EQ(answer.exitCode, 0u);
        EXPECT_EQ(answer.hr, 0u);
        EXPECT_EQ(answer.bytes, kWideTreeBytes);
        std::printf("scan %.0f ms\n", answer.micros / 1000.0);
        lastAnswer = std::max(lastAnswer, answer.endedAt);
    }

    DWORD code = 1;
    ULONGLONG ended = EndAfter(process, released, &code);
    CloseHandle(process);
    ASSERT_NE(ended, ~0ull) << "the server did not end";
    std::printf(
        "ReleaseServer answered after %llu ms; server ended %llu ms after the release, "
        "%llu ms after the last answer\n",
        released - releasing, ended, ended - (lastAnswer - released));
    EXPECT_GE(ended, lastAnswer - released + 4000)
        << "ended before 5 s had passed after the last scan";
    EXPECT_EQ(code, 0u);
}

// Calls of different clients run at once: a clean folder is answered from memory while other
// clients scan (two of them the same dirty folder), and a reset and a change made during the
// scans are not lost.
TEST_F(CacheServer, ACleanFolderIsAnsweredWhileOtherClientsScan) {
    StopServer();
    IFolderSizeCache* cache = ConnectServer();
    ASSERT_NE(cache, nullptr);
    TestTree tree;
    tree.File(L"a.bin", 300);
    tree.File(L"s\\b.bin", 20);
    Settle(cache, tree.Root(), 320);
    const std::wstring late = std::wstring(kWideCached) + L"\\d07\\e042\\late.bin";
    DeleteFileW(late.c_str());

    ScanningClient first(kWideCached, L"C:\\tvn-scan-first.txt");
    ScanningClient second(kWideCached, L"C:\\tvn-scan-second.txt");
    ScanningClient uncached(kWideUncached, L"C:\\tvn-scan-uncached.txt");
    for (const ScanningClient* client : {&first, &second, &uncached}) {
        ASSERT_TRUE(client->Calling());
    }
    // Another client's create and call, as a column cell makes them.
    IFolderSizeCache* other = ConnectServer();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(AskSize(other, tree.Root()).bytes, 320u);
    other->Release();
    EXPECT_TRUE(first.Running() && second.Running() && uncached.Running())
        << "the clean folder's answer waited for the scans";

    EXPECT_EQ(cache->ResetCache(), S_OK);
    {
        HANDLE file =
            CreateFileW(late.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        char bytes[777] = {};
        DWORD written = 0;
        WriteFile(file, bytes, sizeof bytes, &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(written, sizeof bytes);
    }
    for (const ScanningClient* client : {&first, &second}) {
        const ScanningClient::Result answer = client->Finish();
        EXPECT_EQ(answer.hr, 0u);
        EXPECT_TRUE(answer.bytes == kWideTreeBytes || answer.bytes == kWideTreeBytes + 777)
            << answer.bytes;
    }
    EXPECT_EQ(uncached.Finish().bytes, kWideTreeBytes);

    Settle(cache, kWideCached, kWideTreeBytes + 777);
    Settle(cache, tree.Root(), 320);
    EXPECT_TRUE(DeleteFileW(late.c_str()));
    Settle(cache, kWideCached, kWideTreeBytes);
    cache->Release();
}

TEST_F(CacheServer, ReleaseServerDuringDriveScansEndsOnlyAfterThem) {
    StopServer();
    TestTree tree(kSecondFixedDrive);
    const uint64_t total = MakeLongScan(tree, 1500);
    IFolderSizeCache* cache = ConnectServer();
    ASSERT_NE(cache, nullptr);
    HANDLE process = OpenServerProcess();
    ASSERT_NE(process, nullptr);
    ASSERT_EQ(cache->CreateCache(), S_OK);
    // Answers stay right while the drive scans run beside the request.
    EXPECT_EQ(AskSize(cache, tree.Root()).bytes, total);
    EXPECT_EQ(AskSize(cache, tree.Path(L"d3")).bytes, Walk(tree.Path(L"d3")));
    EXPECT_GE(cache->ReleaseServer(), 0);
    ULONGLONG released = GetTickCount64();
    cache->Release();

    DWORD code = 1;
    ULONGLONG ended = EndAfter(process, released, &code);
    CloseHandle(process);
    ASSERT_NE(ended, ~0ull) << "the server did not end";
    std::printf("server ended %llu ms after the last release\n", ended);
    EXPECT_GE(ended, 4500u);
    EXPECT_EQ(code, 0u);
}

// ---- differential --------------------------------------------------------------------------

// A model-free random walk over a tree: the oracle is a fresh walk of the disk, so only the
// choice of operations needs to know what exists.
//
// Folders are renamed and moved to other parents too. Wine 8 reports the move itself rightly,
// but goes on reporting changes made inside a moved folder under the path the folder had when
// its watch was set up, so no watcher can hear of them; and once a folder holding a moved one
// is removed, Wine reports nothing at all from some folders made afterwards. Unless
// `changesInsideMovedFolders` (a platform that reports them rightly), a moved folder is
// therefore left as it is: no operation reaches into it afterwards and it is not removed, while
// it can still be moved again, since those notices come from its parent.
class RandomChanges {
  public:
    RandomChanges(const TestTree& tree, uint32_t seed, bool changesInsideMovedFolders)
        : tree_(tree), random_(seed), changesInsideMoved_(changesInsideMovedFolders) {}

    // One operation; returns its name for the trace.
    const char* Step() {
        std::vector<std::wstring> all;
        Folders(tree_.Root(), &all);
        std::vector<std::wstring> open;       // folders whose changes are reported
        std::vector<std::wstring> movable;    // folders that can move as a whole
        std::vector<std::wstring> removable;  // ... and go as a whole
        for (const auto& folder : all) {
            if (IsOpen(folder)) {
                open.push_back(folder);
            }
            if (folder != tree_.Root() && IsOpen(folder.substr(0, folder.rfind(L'\\')))) {
                movable.push_back(folder);
                if (!HoldsMoved(folder)) {
                    removable.push_back(folder);
                }
            }
        }
        std::vector<std::wstring> files = Files(open);
        const std::wstring& folder = open[Pick(open.size())];
        switch (Pick(8)) {
            case 0:
            case 1:
                Write(folder + L"\\n" + std::to_wstring(serial_++) + L".bin", Size());
                return "create";
            case 2:
                if (!files.empty()) {
                    Write(files[Pick(files.size())], Size());
                    return "overwrite";
                }
                return "none";
            case 3:
                if (!files.empty()) {
                    EXPECT_TRUE(DeleteFileW(files[Pick(files.size())].c_str()));
                    return "delete";
                }
                return "none";
            case 4:
                EXPECT_TRUE(CreateDirectoryW((folder + L"\\d" + std::to_wstring(serial_++)).c_str(),
                                             nullptr));
                return "make folder";
            case 5:
                if (!removable.empty() && Pick(3) == 0) {
                    EXPECT_TRUE(RemoveTree(removable[Pick(removable.size())]));
                    return "remove folder";
                }
                return "none";
            case 6:
                if (!files.empty()) {
                    const std::wstring& file = files[Pick(files.size())];
                    EXPECT_TRUE(
                        MoveFileW(file.c_str(),
                                  (folder + L"\\r" + std::to_wstring(serial_++) + L".bin").c_str()))
                        << GetLastError();
                    return "rename file";
                }
                return "none";
            default: {
                if (movable.empty()) {
                    return "none";
                }
                // A folder to a new name, in its own parent or another one outside it.
                const std::wstring moved = movable[Pick(movable.size())];
                if (IsAtOrBelow(folder, moved)) {
                    return "none";  // not into itself
                }
                const std::wstring target = folder + L"\\m" + std::to_wstring(serial_++);
                EXPECT_TRUE(MoveFileW(moved.c_str(), target.c_str())) << GetLastError();
                if (!changesInsideMoved_) {
                    moved_.push_back(target);
                }
                return folder == moved.substr(0, moved.rfind(L'\\')) ? "rename folder"
                                                                     : "move folder";
            }
        }
    }

  private:
    // Names are never used twice, so a path of a moved folder that has gone again stays out
    // of the way.
    bool IsOpen(const std::wstring& folder) const {
        for (const auto& m : moved_) {
            if (IsAtOrBelow(folder, m)) {
                return false;
            }
        }
        return true;
    }
    bool HoldsMoved(const std::wstring& folder) const {
        for (const auto& m : moved_) {
            if (IsAtOrBelow(m, folder)) {
                return true;
            }
        }
        return false;
    }
    static bool IsAtOrBelow(const std::wstring& path, const std::wstring& folder) {
        return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
               (path.size() == folder.size() || path[folder.size()] == L'\\');
    }
    size_t Pick(size_t count) { return size_t(random_() % count); }
    uint64_t Size() { return random_() % 3 == 0 ? 0 : random_() % 100000; }
    void Write(const std::wstring& path, uint64_t size) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        LARGE_INTEGER end;
        end.QuadPart = LONGLONG(size);
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
    }
    static std::vector<std::wstring> Files(const std::vector<std::wstring>& folders) {
        std::vector<std::wstring> files;
        for (const auto& folder : folders) {
            WIN32_FIND_DATAW data;
            HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
            if (find == INVALID_HANDLE_VALUE) {
                continue;
            }
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    files.push_back(folder + L"\\" + data.cFileName);
                }
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        return files;
    }

    const TestTree& tree_;
    std::mt19937 random_;
    bool changesInsideMoved_;
    std::vector<std::wstring> moved_;  // folders moved, by their new paths
    int serial_ = 0;
};

TEST_F(CacheServer, RandomChangesEndInAnswersEqualToFreshScans) {
    const uint32_t seed = 20261208;
    const int operations = 300 * SoakFactor();
    RecordProperty("seed", std::to_string(seed));
    IFolderSizeCache* cache = ConnectServer();
    ASSERT_NE(cache, nullptr);
    TestTree tree;
    for (int i = 0; i < 4; ++i) {
        tree.File(L"s" + std::to_wstring(i) + L"\\t\\x.bin", uint64_t(100 * (i + 1)));
    }
    // TVN_INSIDE_MOVED=1 on a platform that reports changes inside moved folders rightly.
    wchar_t inside[4] = {};
    const bool insideMoved =
        GetEnvironmentVariableW(L"TVN_INSIDE_MOVED", inside, 4) == 1 && inside[0] == L'1';
    RandomChanges changes(tree, seed, insideMoved);
    std::map<std::string, int> counts;
    std::mt19937 asks(seed + 1);
    for (int op = 1; op <= operations; ++op) {
        ++counts[changes.Step()];
        if (HasFatalFailure()) {
            break;
        }
        if (op % 7 == 0) {  // queries between changes: records made, marked and rescanned
            std::vector<std::wstring> folders;
            Folders(tree.Root(), &folders);
            AskSize(cache, folders[asks() % folders.size()]);
        }
        if (op % 100 == 0 || op == operations) {
            // Quiet now: every folder's answer must be what a fresh scan gives.
            std::vector<std::wstring> folders;
            Folders(tree.Root(), &folders);
            SCOPED_TRACE(testing::Message() << "after operation " << op << " of seed " << seed);
            Settle(cache, tree.Root(), Walk(tree.Root()));
            for (const auto& folder : folders) {
                Settle(cache, folder, Walk(folder));
            }
        }
    }
    std::string summary;
    for (const auto& [name, count] : counts) {
        summary += name + " " + std::to_string(count) + ", ";
    }
    std::printf("seed %u, %d operations: %s\n", seed, operations, summary.c_str());
    cache->Release();
}

// ---- load ----------------------------------------------------------------------------------

TEST_F(CacheServer, SeveralClientsAResetAndChangesAtOnce) {
    IFolderSizeCache* cache = ConnectServer();
    ASSERT_NE(cache, nullptr);
    HANDLE process = OpenServerProcess();
    ASSERT_NE(process, nullptr);
    TestTree tree;
    uint64_t stable = 0;
    for (int i = 0; i < 40; ++i) {
        tree.File(L"stable\\f" + std::to_wstring(i % 8) + L"\\x" + std::to_wstring(i) + L".bin",
                  uint64_t(1000 + i));
        stable += uint64_t(1000 + i);
    }
    tree.Folder(L"churn");
    const std::wstring stablePath = tree.Path(L"stable");
    ASSERT_EQ(AskSize(cache, stablePath).bytes, stable);

    const int rounds = 3 + 2 * (SoakFactor() - 1);
    const DWORD roundMs = 4000;
    const int askers = 3;
    std::vector<tools::ProcessUsage> usage;
    int churnSerial = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::vector<HANDLE> clients;
        for (int i = 0; i < askers; ++i) {
            clients.push_back(StartProgram(Quoted(kClientPath) + L" ask " + Quoted(stablePath) +
                                               L" " + std::to_wstring(stable) + L" " +
                                               std::to_wstring(roundMs),
                                           L"C:\\tvn-ask-" + std::to_wstring(i) + L".txt"));
        }
        clients.push_back(StartProgram(Quoted(kClientPath) + L" reset " + std::to_wstring(roundMs),
                                       L"C:\\tvn-reset.txt"));
        // This process makes the changes, beside the stable folder.
        const ULONGLONG end = GetTickCount64() + roundMs;
        while (GetTickCount64() < end) {
            const std::wstring name = L"churn\\c" + std::to_wstring(churnSerial++ % 30);
            tree.File(name + L"\\y.bin", uint64_t(churnSerial));
            if (churnSerial % 3 == 0) {
                tree.Remove(name);
            }
            AskSize(cache, tree.Root());
        }
        for (size_t i = 0; i < clients.size(); ++i) {
            ASSERT_NE(clients[i], nullptr);
            ASSERT_EQ(WaitForSingleObject(clients[i], 60000), WAIT_OBJECT_0);
            DWORD code = 1;
            GetExitCodeProcess(clients[i], &code);
            CloseHandle(clients[i]);
            const std::wstring out = i < size_t(askers)
                                         ? L"C:\\tvn-ask-" + std::to_wstring(i) + L".txt"
                                         : std::wstring(L"C:\\tvn-reset.txt");
            EXPECT_EQ(code, 0u) << "client " << i
                                << " (calls, failed, wrong): " << ReadFileText(out);
            if (round == rounds - 1) {
                std::printf("client %zu: %s", i, ReadFileText(out).c_str());
            }
        }
        // Quiet: the whole tree as a fresh scan sees it.
        Settle(cache, tree.Root(), Walk(tree.Root()));
        usage.push_back(tools::UsageOf(process));
        std::printf("round %d: %lu handles (%s), %zu KB private (%s)\n", round,
                    static_cast<unsigned long>(usage.back().handles), usage.back().handlesFrom,
                    usage.back().privateBytes / 1024, usage.back().privateFrom);
    }
    // Flat after the first round (warm-up). The server's heaps grow and shrink in steps of
    // one to three megabytes while it works (seen: 47.6 to 50.8 MB in one step, 51.7 and back
    // to 50.7), so the bound is 8 MB: over the suite's two compared rounds (some 2,500 calls)
    // it catches a leak of about 3 KB per call, over the twenty of bench/run-soak.sh one of
    // about 300 bytes. The handle count stood still in every round measured; a handle left open
    // per call shows at once.
    ASSERT_NE(usage[1].handles, 0u) << "the server's handles could not be read";
    ASSERT_NE(usage[1].privateBytes, 0u) << "the server's private bytes could not be read";
    for (size_t i = 2; i < usage.size(); ++i) {
        EXPECT_LE(usage[i].handles, usage[1].handles + 2) << "round " << i;
        EXPECT_LE(usage[i].privateBytes, usage[1].privateBytes + (size_t(8) << 20))
            << "round " << i;
    }
    CloseHandle(process);
    cache->Release();
}

}  // namespace
}  // namespace tvn::test
