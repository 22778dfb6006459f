// Asks one sorting-column cell of a file from a FolderSize object created through COM and
// writes the text, in brackets, as UTF-8 into a file. The tests start it as a process of its
// own when the answer depends on what the system reports about itself at process start
// (its Windows version).
//   column_cell.exe OUTPUT_FILE ITEM_PATH
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <string>

#include "column_support.h"
#include "folder_size.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 3;
    }
    IColumnProvider* provider = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FolderSize, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IColumnProvider, reinterpret_cast<void**>(&provider)))) {
        return 4;
    }
    tvn::test::Cell cell = tvn::test::AskCell(provider, tvn::SortColumn, argv[2], false);
    provider->Release();
    CoUninitialize();

    std::wstring line = L"[" + cell.text + L"]";
    char utf8[1024];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8,
                                    sizeof(utf8), nullptr, nullptr);
    HANDLE out = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return 5;
    }
    DWORD written = 0;
    WriteFile(out, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(out);
    return cell.hr == S_OK ? 0 : 6;
}
