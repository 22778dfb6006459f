// A program that installs the crash reporter and then fails, for the crash reporter's tests.
//   crash_victim MODE CAPTION DUMPNAME
// MODE: "fault"       an access violation reaches the reporter's filter
//       "null"        the filter is called with no exception information
//       "uninstalled" the reporter is installed and uninstalled again before the fault
//   crash_victim hosted STEPS BUILD
// A host with an unhandled-exception filter of its own (it ends the process with 0x600D)
// loads and frees the libraries of the build tree BUILD as STEPS says, then fails: "C" loads
// TVN.dll, "B" loads TVN Bar.dll, "c" and "b" free them again.
// The texts given to the reporter are wiped right after installing, so the message box shows
// the caption only if the reporter kept copies of its own.
#include <windows.h>

#include <cwctype>
#include <string>

#include "crash_reporter.h"

namespace cr = tvn::CrashReporter;

namespace {

int Host(const std::wstring& steps, const std::wstring& build) {
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { ExitProcess(0x600D); });
    HMODULE loaded[2] = {};  // TVN.dll, TVN Bar.dll
    for (wchar_t step : steps) {
        HMODULE& module = loaded[towupper(step) == L'B'];
        if (iswupper(step)) {
            module = LoadLibraryW(
                (build + (step == L'C' ? L"\\columns\\TVN.dll" : L"\\bar\\TVN Bar.dll")).c_str());
        }
        if (module == nullptr || (iswlower(step) && !FreeLibrary(module))) {
            return 6;
        }
    }
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 5;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // No system crash dialog or debugger once the reporter has stepped aside.
    SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
    if (argc != 4) {
        return 2;
    }
    const std::wstring mode = argv[1];
    if (mode == L"hosted") {
        return Host(argv[2], argv[3]);
    }
    std::wstring caption = argv[2];
    std::wstring dumpName = argv[3];
    if (!cr::Install(caption.c_str(), cr::kMessage, dumpName.c_str())) {
        return 3;
    }
    caption.assign(caption.size(), L'X');
    dumpName.assign(dumpName.size(), L'X');

    if (mode == L"null") {
        cr::Filter(nullptr);
        return 4;  // not reached: the filter ends the process
    }
    if (mode == L"uninstalled") {
        cr::Uninstall();
    } else if (mode != L"fault") {
        return 2;
    }
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 5;
}
