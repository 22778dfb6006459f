// Cache server concurrency benchmark: what a client pays for a clean folder while another
// client's long scan runs, against the same call with the server idle, and two clients
// scanning two trees at once against each scan alone.
//
// Usage (under Wine, see bench/run-concurrency-bench.sh):
//   concurrency_bench CLEAN_FOLDER TREE_A TREE_B   the benchmark; prints a table
//   concurrency_bench call FOLDER EVENT OUTPUT      one client: creates the object, signals the
//                                                  named event just before its call, writes
//                                                  "<hresult> <bytes> <microseconds>" to OUTPUT
// The server must be registered ("TVN Cache.exe" /RegServer). Every scan starts from an empty
// cache (ResetCache), and the clean folder is asked once after each reset.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "tvn_cache.h"

namespace {

double NowMs() {
    return bench::NowSeconds() * 1e3;
}

HRESULT Ask(IFolderSizeCache* server, const std::wstring& folder, unsigned __int64* bytes) {
    BSTR text = SysAllocString(folder.c_str());
    HRESULT hr = text ? server->GetFolderSize(text, bytes) : E_OUTOFMEMORY;
    SysFreeString(text);
    return hr;
}

// What a column cell costs the client: the object created, one call, the object released.
double CreateCallReleaseMs(const std::wstring& folder, unsigned __int64* bytes) {
    const double start = NowMs();
    IFolderSizeCache* server = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                   IID_IFolderSizeCache, reinterpret_cast<void**>(&server)))) {
        Ask(server, folder, bytes);
        server->Release();
    }
    return NowMs() - start;
}

int RunClient(const wchar_t* folder, const wchar_t* eventName, const wchar_t* output) {
    if (FAILED(CoInitialize(nullptr))) {
        return 1;
    }
    IFolderSizeCache* server = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IFolderSizeCache, reinterpret_cast<void**>(&server));
    unsigned __int64 bytes = 0;
    double ms = 0;
    if (SUCCEEDED(hr)) {
        HANDLE calling = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
        if (calling) {
            SetEvent(calling);
            CloseHandle(calling);
        }
        const double start = NowMs();
        hr = Ask(server, folder, &bytes);
        ms = NowMs() - start;
        server->Release();
    }
    CoUninitialize();
    if (FILE* file = _wfopen(output, L"w")) {
        std::fprintf(file, "%08lx %llu %.0f\n", (unsigned long)hr, (unsigned long long)bytes,
                     ms * 1000);
        std::fclose(file);
    }
    return SUCCEEDED(hr) ? 0 : 1;
}

// A client process asking for one folder (this program in its "call" mode).
class Client {
  public:
    Client(const std::wstring& folder, int serial) {
        eventName_ = L"Local\\tvn-bench-calling-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                     std::to_wstring(serial);
        output_ = L"C:\\tvn-bench-client-" + std::to_wstring(serial) + L".txt";
        DeleteFileW(output_.c_str());
        calling_ = CreateEventW(nullptr, TRUE, FALSE, eventName_.c_str());
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" call \"" + folder + L"\" " +
                            eventName_ + L" \"" + output_ + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            process_ = info.hProcess;
        } else {
            std::fprintf(stderr, "cannot start a client: error %lu\n", GetLastError());
        }
    }
    ~Client() {
        if (process_) {
            WaitForSingleObject(process_, INFINITE);
            CloseHandle(process_);
        }
        if (calling_) {
            CloseHandle(calling_);
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // True once the client is about to call.
    bool WaitCalling() const {
        HANDLE both[] = {calling_, process_};
        return process_ && calling_ &&
               WaitForMultipleObjects(2, both, FALSE, 120000) == WAIT_OBJECT_0;
    }
    bool Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    HANDLE Process() const { return process_; }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return code;
    }
    // The bytes the client was answered (0 when it failed).
    unsigned long long Bytes() const {
        WaitForSingleObject(process_, INFINITE);
        unsigned long hr = 1;
        unsigned long long bytes = 0;
        double micros = 0;
        if (FILE* file = _wfopen(output_.c_str(), L"r")) {
            if (std::fscanf(file, "%lx %llu %lf", &hr, &bytes, &micros) != 3) {
                hr = 1;
            }
            std::fclose(file);
        }
        return hr == 0 ? bytes : 0;
    }

  private:
    std::wstring eventName_;
    std::wstring output_;
    HANDLE calling_ = nullptr;
    HANDLE process_ = nullptr;
};

void Row(const char* what, double value, const char* note) {
    std::printf("| %-56s | %10.1f ms | %s\n", what, value, note);
}

// Wall time of `clients` scanning the given trees at once, from an empty cache; false when a
// client's answer differs from `expected`.
bool TimeScans(IFolderSizeCache* server, const std::vector<std::wstring>& trees,
               const std::vector<unsigned long long>& expected, int* serial, double* ms) {
    server->ResetCache();
    std::vector<Client*> clients;
    const double start = NowMs();
    for (const std::wstring& tree : trees) {
        clients.push_back(new Client(tree, ++*serial));
    }
    bool right = true;
    for (size_t i = 0; i < clients.size(); ++i) {
        right = clients[i]->Bytes() == expected[i] && right;
    }
    *ms = NowMs() - start;
    for (Client* client : clients) {
        delete client;
    }
    return right;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && wcscmp(argv[1], L"call") == 0) {
        return RunClient(argv[2], argv[3], argv[4]);
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: concurrency_bench CLEAN_FOLDER TREE_A TREE_B\n");
        return 2;
    }
    const std::wstring clean = argv[1], treeA = argv[2], treeB = argv[3];
    if (FAILED(CoInitialize(nullptr))) {
        return 1;
    }
    IFolderSizeCache* server = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FolderSizeCache, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_IFolderSizeCache, reinterpret_cast<void**>(&server)))) {
        std::fprintf(stderr, "the cache server cannot be created\n");
        return 1;
    }
    unsigned __int64 cleanBytes = 0, bytesA = 0, bytesB = 0;
    Ask(server, treeA, &bytesA);
    Ask(server, treeB, &bytesB);
    Ask(server, clean, &cleanBytes);
    int serial = 0;

    // The reference: a clean folder's create + call + release with the server idle.
    std::vector<double> idle;
    for (int i = 0; i < 30; ++i) {
        unsigned __int64 bytes = 0;
        idle.push_back(CreateCallReleaseMs(clean, &bytes));
    }
    const double idleMs = bench::Percentile(idle, 0.5);

    // The same while another client's first scan of TREE_A runs: only calls that both began
    // and ended while the scan was still running count.
    std::vector<double> during;
    std::vector<double> first;  // the first call after the scan began, counted in any case
    std::vector<double> scans;
    bool right = true;
    for (int round = 0; round < 3; ++round) {
        server->ResetCache();
        unsigned __int64 bytes = 0;
        Ask(server, clean, &bytes);
        const double start = NowMs();
        Client scanner(treeA, ++serial);
        if (!scanner.WaitCalling()) {
            std::fprintf(stderr, "the scanning client did not start (exit code %lu)\n",
                         scanner.ExitCode());
            return 1;
        }
        while (scanner.Running()) {
            const double ms = CreateCallReleaseMs(clean, &bytes);
            right = right && bytes == cleanBytes;
            if (first.size() == size_t(round)) {
                first.push_back(ms);
            }
            if (scanner.Running()) {
                during.push_back(ms);
            }
            WaitForSingleObject(scanner.Process(), 100);  // one cell every 100 ms or so
        }
        right = right && scanner.Bytes() == bytesA;
        scans.push_back(NowMs() - start);
    }

    // Two clients scanning two trees at once, against each alone (medians of 3).
    std::vector<double> aloneA, aloneB, together;
    for (int round = 0; round < 3; ++round) {
        double ms = 0;
        right = TimeScans(server, {treeA}, {bytesA}, &serial, &ms) && right;
        aloneA.push_back(ms);
        right = TimeScans(server, {treeB}, {bytesB}, &serial, &ms) && right;
        aloneB.push_back(ms);
        right = TimeScans(server, {treeA, treeB}, {bytesA, bytesB}, &serial, &ms) && right;
        together.push_back(ms);
    }
    server->ReleaseServer();  // let the server end after this client
    server->Release();
    CoUninitialize();
    if (!right) {
        std::fprintf(stderr, "a client was answered a wrong size\n");
        return 1;
    }

    char note[200];
    std::printf("| %-56s | %13s | %s\n", "measure", "value", "note");
    std::printf("|%s|%s|------\n", std::string(58, '-').c_str(), std::string(15, '-').c_str());
    std::snprintf(note, sizeof note, "median of %zu; p99 %.1f ms; reference", idle.size(),
                  bench::Percentile(idle, 0.99));
    Row("clean folder, create + call + release, server idle", idleMs, note);
    const double duringMs = bench::Percentile(during, 0.5);
    const double goal = std::max(100.0, 2 * idleMs);
    if (during.empty()) {
        std::printf(
            "| %-56s | %13s | no call was answered while a scan ran; goal <= %.1f ms: "
            "not met\n",
            "the same while another client's first scan runs", "none", goal);
    } else {
        std::snprintf(note, sizeof note,
                      "median of %zu; max %.1f ms; %.2fx idle; goal <= %.1f ms: %s", during.size(),
                      bench::Percentile(during, 1.0), duringMs / idleMs, goal,
                      duringMs <= goal ? "met" : "not met");
        Row("the same while another client's first scan runs", duringMs, note);
    }
    std::snprintf(note, sizeof note, "median of 3; answered during the scan or after it");
    Row("the first such call after the scan began", bench::Percentile(first, 0.5), note);
    std::snprintf(note, sizeof note, "median of 3 (the scanning client, start to end)");
    Row("that client's scan of tree A", bench::Percentile(scans, 0.5), note);
    const double alone = std::max(bench::Percentile(aloneA, 0.5), bench::Percentile(aloneB, 0.5));
    std::snprintf(note, sizeof note, "median of 3; tree B alone %.1f ms",
                  bench::Percentile(aloneB, 0.5));
    Row("first scan of tree A alone", bench::Percentile(aloneA, 0.5), note);
    std::snprintf(note, sizeof note, "median of 3; %.2fx the longer one alone",
                  bench::Percentile(together, 0.5) / alone);
    Row("trees A and B scanned by two clients at once", bench::Percentile(together, 0.5), note);
    return 0;
}
