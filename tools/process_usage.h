// What another process holds, read from outside: its open handles and its private bytes.
// The documented counters come first; where they report nothing (Wine answers 0 for
// GetProcessHandleCount and leaves PrivateUsage 0 for other processes) the same figure is
// counted another way, and the result says which way was used.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace tvn::tools {

// The first running process whose program file is named `exeName` (no folder), opened with
// `access`; null when none runs.
HANDLE OpenProcessNamed(const wchar_t* exeName, DWORD access);

struct ProcessUsage {
    DWORD handles = 0;
    const char* handlesFrom = "";  // "GetProcessHandleCount", "SystemHandleInformation" or ""
    size_t privateBytes = 0;
    const char* privateFrom = "";  // "GetProcessMemoryInfo", "VirtualQueryEx" or ""
};

// Committed private pages of `process` (GetCurrentProcess() for this one), summed over its
// address space with VirtualQueryEx; `process` needs PROCESS_QUERY_INFORMATION.
size_t CommittedPrivateBytes(HANDLE process);

// The handle values that process `processId` holds, as the system's handle table lists them;
// empty when the table cannot be read.
std::vector<HANDLE> HandlesInSystemTable(DWORD processId);

// `process` needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ. A figure that could not be
// read by either way is 0 with an empty source.
ProcessUsage UsageOf(HANDLE process);

}  // namespace tvn::tools
