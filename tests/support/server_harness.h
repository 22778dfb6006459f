// The real cache server for end-to-end tests: installed from the build tree where a setup puts
// it, started as COM starts it (but with its output away from the harness's pipe), asked
// through IFolderSizeCache, and ended again by giving up its own reference.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "programs.h"
#include "settled_cache.h"
#include "tvn_cache.h"

namespace tvn::test {

inline constexpr wchar_t kClientPath[] = L"C:\\Program Files\\Tolvane\\tvn_cache_client.exe";

// Copies the server and the separate client program from the build tree (a copy in use is
// the same file and stays).
void InstallServer();
// Installs and registers the server unless one runs (a running one was registered to start).
void EnsureServerRegistered();
bool ServerRunning();
// The running server process opened for waiting and for reading its counters; null if none.
HANDLE OpenServerProcess();
// The value of a handle that the running server holds open on `folder` (the same volume serial
// and file index), read from outside; null when it holds none.
HANDLE ServerHandleOnFolder(const wchar_t* folder);
// Closes the running server's handle `value` from outside; false when that fails.
bool CloseServerHandle(HANDLE value);
// Drive scans (CacheAll, CreateCache) are the server's only threads of idle priority, from
// their first instruction to their last: the number of them in `process`, read from outside.
int DriveScansRunning(HANDLE process);
// Polls until `process` runs no drive scan; false when `timeoutMs` ran out first.
bool WaitUntilDriveScansEnd(HANDLE process, DWORD timeoutMs);
// Starts the server with -Embedding unless one runs, and waits until its mutex is taken and
// its class object answers. False when it did not come up.
bool EnsureServerStarted();
// Ensures a server and creates the object; null (with a failure reported) when that fails.
IFolderSizeCache* ConnectServer();
// Gives up the server's own reference and waits until the process has gone.
void StopServer();

struct Answer {
    HRESULT hr;
    unsigned __int64 bytes;
    double ms;  // the call's duration, for printed figures only
};
Answer AskSize(IFolderSizeCache* cache, const std::wstring& path);
// The ask of WaitUntilAnsweredFromMemory through this client.
SizeRequest Asker(IFolderSizeCache* cache);

}  // namespace tvn::test
