// Crash reporter: an unhandled-exception filter that writes a minidump of the whole process
// into the user's documents folder, tells the user where it is and ends the process with
// exit code 65535. Every deliverable installs it once, early, with its own caption and dump
// file name.
//
// The filter runs in a process that has just failed: it allocates nothing itself and uses
// only storage prepared at install time. dbghelp is loaded only when a crash happens; when it
// or MiniDumpWriteDump is missing, the filter steps aside (EXCEPTION_CONTINUE_SEARCH) and the
// system's own handling goes on without a message box.
#pragma once

#include <windows.h>

namespace tvn::CrashReporter {

// The body of the message box, the same for every deliverable.
inline constexpr const wchar_t* kMessage =
    L"The program has crashed.\nPlease send us the crash report file (.dmp), which you can "
    L"find in the 'My Documents' folder.\nThis will help us to fix this problem sooner.";

// Copies the three texts (replacing earlier copies; the caller's strings need not live on)
// and makes the reporter the process's unhandled-exception filter. Installing again only
// replaces texts and filter. Fails, changing nothing, when the dump file name is null, empty,
// or does not fit MAX_PATH; a caption or message longer than the reporter's storage is cut.
// Safe to call from DllMain: it loads nothing (it maps the process's small table of
// reporters, see Uninstall).
bool Install(const wchar_t* caption, const wchar_t* message, const wchar_t* dumpFileName);

// Makes `owner` the owner of the message box from now on (nullptr: no owner).
void SetOwnerWindow(HWND owner);

// Puts back the filter that was current before the first Install, provided the reporter's
// filter is still the current one (a filter installed later by someone else is left alone).
// A library calls this when it is detached, so that the filter never outlives its code. The
// copies of the reporter in one process (one per module) share a table of what each
// replaced: when a later copy's filter replaced this one's, that copy is handed this one's
// previous filter instead, so no copy ever puts back a filter of a module that has gone.
void Uninstall();

// The filter itself. Writes the dump, shows the message box and ends the process; returns
// EXCEPTION_CONTINUE_SEARCH only when no dump can be attempted (dbghelp or its
// MiniDumpWriteDump missing, or the filter re-entered on a thread that failed inside it).
// `pointers` may be null: the dump then carries no exception information.
LONG WINAPI Filter(EXCEPTION_POINTERS* pointers);

}  // namespace tvn::CrashReporter
