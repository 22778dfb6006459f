#include "process_usage.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

namespace tvn::tools {
namespace {

// The system's handle table as NtQuerySystemInformation(SystemHandleInformation) gives it.
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kInfoLengthMismatch = NTSTATUS(0xC0000004L);

struct HandleEntry {
    ULONG processId;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

using QuerySystemInformation = NTSTATUS(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// The handles of one process in the system's table, `handles` null to count them only; false
// when the table cannot be read.
bool ReadSystemTable(DWORD processId, DWORD* count, std::vector<HANDLE>* handles) {
    auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return false;
    }
    std::vector<unsigned char> buffer(1 << 16);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()),
                           &needed)) == kInfoLengthMismatch &&
           buffer.size() < (64u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (status < 0) {
        return false;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(HandleTable, entries)) / sizeof(HandleEntry);
    DWORD found = 0;
    for (ULONG i = 0; i < table->count && i < room; ++i) {
        if (table->entries[i].processId == processId) {
            ++found;
            if (handles) {
                handles->push_back(reinterpret_cast<HANDLE>(uintptr_t(table->entries[i].handle)));
            }
        }
    }
    *count = found;
    return true;
}

}  // namespace

std::vector<HANDLE> HandlesInSystemTable(DWORD processId) {
    std::vector<HANDLE> handles;
    DWORD count = 0;
    ReadSystemTable(processId, &count, &handles);
    return handles;
}

size_t CommittedPrivateBytes(HANDLE process) {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const char* address = nullptr;
         VirtualQueryEx(process, address, &info, sizeof info) == sizeof info;
         address = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) {
            total += info.RegionSize;
        }
    }
    return total;
}

HANDLE OpenProcessNamed(const wchar_t* exeName, DWORD access) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    HANDLE found = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == nullptr;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName) == 0) {
            found = OpenProcess(access, FALSE, entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

ProcessUsage UsageOf(HANDLE process) {
    ProcessUsage usage;
    if (GetProcessHandleCount(process, &usage.handles) && usage.handles != 0) {
        usage.handlesFrom = "GetProcessHandleCount";
    } else if (ReadSystemTable(GetProcessId(process), &usage.handles, nullptr) &&
               usage.handles != 0) {
        usage.handlesFrom = "SystemHandleInformation";
    } else {
        usage.handles = 0;
    }
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) &&
        counters.PrivateUsage != 0) {
        usage.privateBytes = counters.PrivateUsage;
        usage.privateFrom = "GetProcessMemoryInfo";
    } else if ((usage.privateBytes = CommittedPrivateBytes(process)) != 0) {
        usage.privateFrom = "VirtualQueryEx";
    }
    return usage;
}

}  // namespace tvn::tools
