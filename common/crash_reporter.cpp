#include "crash_reporter.h"

#include <dbghelp.h>
#include <shlobj.h>

#include "unique_handle.h"

namespace tvn::CrashReporter {
namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                          PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION,
                                          PMINIDUMP_CALLBACK_INFORMATION);

constexpr size_t kCaptionUnits = 256;
constexpr size_t kMessageUnits = 1024;

// Everything the filter touches lives here, in static storage: a failing process may have a
// broken heap or an exhausted stack.
wchar_t g_caption[kCaptionUnits];
wchar_t g_message[kMessageUnits];
wchar_t g_dumpName[MAX_PATH];
wchar_t g_dumpPath[MAX_PATH];
MINIDUMP_EXCEPTION_INFORMATION g_exceptionInfo;
HWND volatile g_owner = nullptr;

// The filter that was current before the reporter's, put back by Uninstall. Never called.
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;
bool g_installed = false;

// Every copy of the reporter in the process (one per module that links it: the column
// extension and the toolbar share an Explorer) records its filter and the filter it replaced
// in one table of the process, a small named section. A copy whose module leaves while a
// later copy's filter replaced its own hands that later copy the filter it had itself
// replaced, so no copy ever puts back a filter whose code has gone, whatever the order in
// which the modules come and go. Modules come and go under the loader lock, which keeps the
// table's changes apart.
struct ChainLink {
    LPTOP_LEVEL_EXCEPTION_FILTER filter;    // null: a free row
    LPTOP_LEVEL_EXCEPTION_FILTER previous;  // what `filter` replaced
};
struct SharedChain {
    ChainLink links[16];
};
HANDLE g_chainSection = nullptr;
SharedChain* g_chain = nullptr;
ChainLink* g_link = nullptr;  // this copy's row, when the table could be had

// "Local\Tolvane.CrashFilters.<process id in hex>", built without allocating.
void ChainName(wchar_t (&name)[64]) {
    const wchar_t prefix[] = L"Local\\Tolvane.CrashFilters.";
    size_t length = 0;
    for (; prefix[length] != L'\0'; ++length) {
        name[length] = prefix[length];
    }
    const DWORD id = GetCurrentProcessId();
    for (int shift = 28; shift >= 0; shift -= 4) {
        name[length++] = L"0123456789abcdef"[(id >> shift) & 0xF];
    }
    name[length] = L'\0';
}

// This copy's row in the shared table, made on first use; null when the table cannot be had
// (each copy then only knows its own previous filter, as a lone copy needs).
ChainLink* OwnLink() {
    if (g_link != nullptr) {
        return g_link;
    }
    if (g_chain == nullptr) {
        wchar_t name[64];
        ChainName(name);
        g_chainSection = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(SharedChain), name);
        if (g_chainSection == nullptr) {
            return nullptr;
        }
        g_chain = static_cast<SharedChain*>(
            MapViewOfFile(g_chainSection, FILE_MAP_WRITE, 0, 0, sizeof(SharedChain)));
        if (g_chain == nullptr) {
            CloseHandle(g_chainSection);
            g_chainSection = nullptr;
            return nullptr;
        }
    }
    for (ChainLink& link : g_chain->links) {
        if (link.filter == &Filter) {
            link.filter = nullptr;  // a row left by a module loaded at this address before
        }
    }
    for (ChainLink& link : g_chain->links) {
        if (link.filter == nullptr) {
            link.filter = &Filter;
            g_link = &link;
            return g_link;
        }
    }
    return nullptr;
}

// The table is a named object, which another program of the session could have made first:
// a filter taken from it is used only when it lies in a module image of this process.
LPTOP_LEVEL_EXCEPTION_FILTER InLoadedImage(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    HMODULE module = nullptr;
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    return filter != nullptr &&
                   GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(filter), &module)
               ? filter
               : nullptr;
}

void CloseChain() {
    if (g_link != nullptr) {
        g_link->filter = nullptr;
        g_link->previous = nullptr;
        g_link = nullptr;
    }
    if (g_chain != nullptr) {
        UnmapViewOfFile(g_chain);
        g_chain = nullptr;
    }
    if (g_chainSection != nullptr) {
        CloseHandle(g_chainSection);
        g_chainSection = nullptr;
    }
}

// Id of the thread running the filter, 0 when none. Other failing threads wait for it (it
// ends the process, or gives way when no dump can be written); the same thread failing again
// inside the filter steps aside.
LONG volatile g_filterThread = 0;

size_t BoundedLength(const wchar_t* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != L'\0') {
        ++length;
    }
    return length;
}

// Copies as much of `source` as fits, always terminated.
void CopyText(wchar_t* target, size_t capacity, const wchar_t* source) {
    size_t length = source != nullptr ? BoundedLength(source, capacity - 1) : 0;
    for (size_t i = 0; i < length; ++i) {
        target[i] = source[i];
    }
    target[length] = L'\0';
}

// Builds "<documents>\<dump name>" in g_dumpPath; false when the folder is unknown or the
// whole path does not fit, in which case no dump is written.
bool BuildDumpPath() {
    g_dumpPath[0] = L'\0';
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, g_dumpPath))) {
        return false;
    }
    g_dumpPath[MAX_PATH - 1] = L'\0';
    size_t folder = BoundedLength(g_dumpPath, MAX_PATH);
    size_t name = BoundedLength(g_dumpName, MAX_PATH);
    if (folder == 0 || name == 0 || folder + 1 + name + 1 > MAX_PATH) {
        return false;
    }
    g_dumpPath[folder] = L'\\';
    for (size_t i = 0; i < name; ++i) {
        g_dumpPath[folder + 1 + i] = g_dumpName[i];
    }
    g_dumpPath[folder + 1 + name] = L'\0';
    return true;
}

void LeaveFilter() {
    InterlockedExchange(&g_filterThread, 0);
}

}  // namespace

bool Install(const wchar_t* caption, const wchar_t* message, const wchar_t* dumpFileName) {
    if (dumpFileName == nullptr) {
        return false;
    }
    size_t nameLength = BoundedLength(dumpFileName, MAX_PATH);
    if (nameLength == 0 || nameLength >= MAX_PATH) {
        return false;
    }
    CopyText(g_caption, kCaptionUnits, caption);
    CopyText(g_message, kMessageUnits, message);
    CopyText(g_dumpName, MAX_PATH, dumpFileName);
    LPTOP_LEVEL_EXCEPTION_FILTER replaced = SetUnhandledExceptionFilter(&Filter);
    const bool firstRow = g_link == nullptr;
    ChainLink* link = OwnLink();
    if (replaced != &Filter) {
        g_previous = replaced;
        if (link != nullptr) {
            link->previous = replaced;
        }
    } else if (link != nullptr && firstRow) {
        link->previous = g_previous;
    }
    g_installed = true;
    return true;
}

void SetOwnerWindow(HWND owner) {
    g_owner = owner;
}

void Uninstall() {
    if (!g_installed) {
        return;
    }
    // Another copy that left before may have handed this one its own previous filter.
    LPTOP_LEVEL_EXCEPTION_FILTER previous =
        g_link != nullptr ? InLoadedImage(g_link->previous) : g_previous;
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(previous);
    if (current != &Filter) {
        SetUnhandledExceptionFilter(current);  // a later filter is someone else's: keep it
    }
    if (g_chain != nullptr) {
        // A copy whose filter replaced this one's would put this one back: it gets what this
        // one had replaced instead (never itself).
        for (ChainLink& link : g_chain->links) {
            if (&link != g_link && link.filter != nullptr && link.previous == &Filter) {
                link.previous = previous != link.filter ? previous : nullptr;
            }
        }
    }
    CloseChain();
    g_previous = nullptr;
    g_installed = false;
}

LONG WINAPI Filter(EXCEPTION_POINTERS* pointers) {
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    for (;;) {
        LONG running = InterlockedCompareExchange(&g_filterThread, self, 0);
        if (running == 0) {
            break;
        }
        if (running == self) {
            return EXCEPTION_CONTINUE_SEARCH;
        }
        Sleep(50);
    }

    HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    if (dbghelp == nullptr) {
        LeaveFilter();
        return EXCEPTION_CONTINUE_SEARCH;
    }
    auto writeDump = reinterpret_cast<MiniDumpWriteDumpFn>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (writeDump == nullptr) {
        FreeLibrary(dbghelp);
        LeaveFilter();
        return EXCEPTION_CONTINUE_SEARCH;
    }

    g_exceptionInfo.ThreadId = GetCurrentThreadId();
    g_exceptionInfo.ExceptionPointers = pointers;
    g_exceptionInfo.ClientPointers = FALSE;

    // A dump that cannot be written changes nothing else: the user is still told and the
    // process still ends.
    if (BuildDumpPath()) {
        tvn::UniqueFile file(CreateFileW(g_dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            writeDump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal,
                      pointers != nullptr ? &g_exceptionInfo : nullptr, nullptr, nullptr);
        }
    }

    MessageBoxW(g_owner, g_message, g_caption, MB_ICONERROR);
    ExitProcess(0xFFFF);
}

}  // namespace tvn::CrashReporter
