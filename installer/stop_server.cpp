// TVN Stop Server: ends a running cache server the way a client would, so that setup can
// replace or remove its file and unregister it.
//
//   "TVN Stop Server.exe" [/deadline=MILLISECONDS] [/terminate]
//
// When a server runs (its single-instance mutex exists), the program connects to it through
// COM, calls ReleaseServer and lets go of the object at once; the server then ends on its own
// about six seconds later (5000 ms after its last client, then 1000 ms). The program waits for
// every "TVN Cache.exe" process it saw before the call, and for the mutex to go, until the
// deadline (30000 ms unless given). With /terminate a server still running at the deadline is
// ended by force: it holds nothing but its in-memory cache, so nothing is lost.
//
// Exit codes: 0 no server ran or it ended; 1 bad arguments; 2 the server still runs at the
// deadline (or could not be asked to end and /terminate was not given); 3 it was ended by force.
// A GUI-subsystem program without a window, so that setup shows no console.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "cache_client.h"
#include "com_core.h"
#include "unique_handle.h"

namespace {

constexpr DWORD kDefaultDeadlineMs = 30000;
constexpr DWORD kAfterTerminateMs = 5000;
constexpr DWORD kPollMs = 50;

enum ExitCode : int {
    kEnded = 0,
    kBadArguments = 1,
    kStillRunning = 2,
    kTerminated = 3,
};

struct Options {
    DWORD deadlineMs = kDefaultDeadlineMs;
    bool terminate = false;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (_wcsicmp(arg, L"/terminate") == 0 || _wcsicmp(arg, L"-terminate") == 0) {
            options.terminate = true;
            continue;
        }
        constexpr wchar_t kDeadline[] = L"/deadline=";
        constexpr size_t kDeadlineLength = sizeof(kDeadline) / sizeof(wchar_t) - 1;
        if ((arg[0] == L'/' || arg[0] == L'-') &&
            _wcsnicmp(arg + 1, kDeadline + 1, kDeadlineLength - 1) == 0) {
            const wchar_t* digits = arg + kDeadlineLength;
            wchar_t* end = nullptr;
            unsigned long value = wcstoul(digits, &end, 10);
            if (end == digits || *end != L'\0' || *digits == L'-' || value > 600000) {
                return false;
            }
            options.deadlineMs = static_cast<DWORD>(value);
            continue;
        }
        return false;
    }
    return true;
}

// Every process whose image is "TVN Cache.exe", opened for waiting (and ending, where allowed).
std::vector<tvn::UniqueHandleObj> OpenServerProcesses() {
    std::vector<tvn::UniqueHandleObj> processes;
    tvn::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return processes;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, L"TVN Cache.exe") != 0) {
            continue;
        }
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (process == nullptr) {
            process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
        }
        if (process != nullptr) {
            processes.emplace_back(process);
        }
    }
    return processes;
}

// Asks the running server to end once its clients have gone. The reference is released before
// returning: the server's count of clients must reach zero for it to end.
HRESULT AskServerToEnd() {
    tvn::com::ComInit com;
    if (FAILED(com.Result())) {
        return com.Result();
    }
    tvn::ComPtr<IFolderSizeCache> cache;
    HRESULT hr = tvn::ConnectCacheServer(cache, IID_IUnknown);
    if (FAILED(hr)) {
        return hr;
    }
    hr = cache->ReleaseServer();
    cache.reset();
    return hr;
}

bool AllEnded(const std::vector<tvn::UniqueHandleObj>& processes) {
    for (const auto& process : processes) {
        if (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
            return false;
        }
    }
    return !tvn::IsCacheServerRunning();
}

// Polls until every process has ended and the mutex is gone, or the time is up.
bool WaitUntilEnded(const std::vector<tvn::UniqueHandleObj>& processes, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (AllEnded(processes)) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {  // unsigned: right across the 49-day wrap
            return false;
        }
        Sleep(kPollMs);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Options options;
    bool parsed = argv != nullptr && ParseOptions(argc, argv, options);
    LocalFree(argv);
    if (!parsed) {
        return kBadArguments;
    }
    if (!tvn::IsCacheServerRunning()) {
        return kEnded;
    }
    // Taken before the request, so that the wait covers the process that was asked.
    std::vector<tvn::UniqueHandleObj> processes = OpenServerProcesses();
    HRESULT asked = AskServerToEnd();
    if (SUCCEEDED(asked) && WaitUntilEnded(processes, options.deadlineMs)) {
        return kEnded;
    }
    if (!options.terminate) {
        return kStillRunning;
    }
    for (const auto& process : processes) {
        TerminateProcess(process.get(), static_cast<UINT>(E_ABORT));
    }
    return WaitUntilEnded(processes, kAfterTerminateMs) ? kTerminated : kStillRunning;
}
