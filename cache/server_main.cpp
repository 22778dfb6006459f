// Entry of TVN Cache.exe, the out-of-process server of FolderSizeCache.
//
// Start-up, in the order of wWinMain: the crash reporter, the single-instance mutex (a second
// copy ends at once), the multithreaded apartment, then either a registration switch or the
// server (RunServer: the server's own object, shutdown monitor, class object, the message
// loop). The process runs until its own reference on the object has been given up
// (ReleaseServer) and then ends 5000 ms after the last client released the object.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <string>

#include "cache_client.h"
#include "com_core.h"
#include "crash_reporter.h"
#include "folder_size_cache.h"
#include "server_setup.h"
#include "settings_store.h"
#include "tvn_cache.h"
#include "unique_handle.h"

namespace {

using tvn::UniqueHandleObj;
using tvn::com::ModuleLock;

constexpr DWORD kShutdownDelayMs = 5000;
constexpr DWORD kExitDelayMs = 1000;

tvn::com::SingletonClassFactory<tvn::FolderSizeCache> g_factory;

// Shutdown monitor state. The event stays open until the process ends, so a late unlock never
// signals a closed (or reused) handle.
HANDLE g_shutdownEvent = nullptr;
std::atomic<bool> g_activity{false};
DWORD g_mainThreadId = 0;

void OnModuleIdle() {
    g_activity = true;
    SetEvent(g_shutdownEvent);
}

// Waits until the module has stayed unlocked, with no unlock in between, for 5000 ms, then
// ends the message loop.
DWORD WINAPI ShutdownMonitor(void*) {
    for (;;) {
        WaitForSingleObject(g_shutdownEvent, INFINITE);
        for (;;) {
            DWORD wait;
            do {
                g_activity = false;
                wait = WaitForSingleObject(g_shutdownEvent, kShutdownDelayMs);
            } while (wait == WAIT_OBJECT_0);
            if (ModuleLock::Count() != 0) {
                break;  // locked again: wait for the next unlock to zero
            }
            if (!g_activity) {
                PostThreadMessageW(g_mainThreadId, WM_QUIT, 0, 0);
                return 0;
            }
        }
    }
}

// Reads CacheAll (an 8-byte value) once; 1 asks for a scan of every fixed drive. A missing
// key or value means no scan.
bool CacheAllRequested() {
    namespace S = tvn::SettingsStore;
    tvn::UniqueHKey key = S::OpenForRead(KEY_READ);
    S::Settings settings;
    S::Read(key.get(), S::kCacheServerReads, settings);
    return settings.cacheAll == 1;
}

int RunServer() {
    // The object is made first, here on the main thread, before any client can reach it: its
    // device notice window belongs to this thread, whose message loop delivers the events.
    // The server's own reference keeps the object, and so the process, alive until a client
    // gives it up with ReleaseServer. It is given up by ReleaseServer (a client's or the one
    // below), never by Release, so it is held as a plain pointer.
    IFolderSizeCache* own = nullptr;
    HRESULT hr =
        g_factory.CreateInstance(nullptr, IID_IFolderSizeCache, reinterpret_cast<void**>(&own));
    if (FAILED(hr)) {
        return hr;
    }

    UniqueHandleObj shutdownEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    g_shutdownEvent = shutdownEvent.get();
    g_mainThreadId = GetCurrentThreadId();
    UniqueHandleObj monitor;
    if (shutdownEvent) {
        ModuleLock::SetIdleHandler(OnModuleIdle);
        monitor.reset(CreateThread(nullptr, 0, ShutdownMonitor, nullptr, 0, nullptr));
    }
    DWORD cookie = 0;
    hr = shutdownEvent && monitor
             ? CoRegisterClassObject(CLSID_FolderSizeCache, &g_factory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie)
             : E_FAIL;
    if (FAILED(hr)) {
        ModuleLock::SetIdleHandler(nullptr);
        own->ReleaseServer();
        g_factory.ReleaseObject();
        return hr;
    }
    if (CacheAllRequested()) {
        own->CreateCache();
    }

    // Client calls arrive on the apartment's own threads, each served while others run; this
    // thread only delivers the notice window's messages and waits for the monitor's quit.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    hr = CoRevokeClassObject(cookie);
    Sleep(kExitDelayMs);
    ModuleLock::SetIdleHandler(nullptr);
    // The own reference goes here unless a client gave it up already (a second ReleaseServer
    // releases nothing), then the factory's; running drive scans hold their own.
    own->ReleaseServer();
    g_factory.ReleaseObject();
    return FAILED(hr) ? hr : 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tvn::CrashReporter::Install(L"Tolvane\u2122", tvn::CrashReporter::kMessage, L"TVN Cache.dmp");

    // One server per logon session. A second copy ends before reading its command line, so a
    // registration request made while a server runs does nothing.
    UniqueHandleObj mutex(CreateMutexW(nullptr, TRUE, tvn::kCacheServerMutexName));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    // The process joins the multithreaded apartment, left when the entry function returns:
    // calls of different clients run at once on COM's threads, so no window waits behind
    // another window's scan.
    tvn::com::ComInit apartment(COINIT_MULTITHREADED);
    if (FAILED(apartment.Result())) {
        return -1;
    }

    tvn::server::ServerCommand command = tvn::server::ParseServerCommandLine(GetCommandLineW());
    if (command != tvn::server::ServerCommand::Run) {
        std::wstring module = tvn::Registration::ModulePath(nullptr);
        if (module.empty()) {
            return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        }
        return command == tvn::server::ServerCommand::RegServer
                   ? tvn::server::RegisterServer(module.c_str())
                   : tvn::server::UnregisterServer(module.c_str());
    }
    return RunServer();
}
