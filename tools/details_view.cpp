// details_view: a stand-in for Explorer's Details view, for developers. It does with column
// handlers what Explorer does: finds every handler registered under
// HKCR\Folder\Shellex\ColumnHandlers, creates each in-process, initialises it with the folder,
// enumerates its columns with GetColumnInfo until S_FALSE, lists the folder's items and asks
// GetItemData for every item and column. The result is printed as a table (Name plus every
// column, with its title, width and alignment), or shown in a real ListView window. Below the
// table it says how long the cells took and where the folder sizes came from: the cache server
// (which keeps the sizes of fixed drives and counts other drives afresh) or the column
// handler's own scan when the cache is switched off.
//
//   details_view [--window [MILLISECONDS]] FOLDER
//
// With --window the table is shown in a window until it is closed (or for the given time, so
// that a script can take a screenshot). Above the ListView the window hosts the toolbar band
// (TVN Bar) as Explorer's toolbar area would, when the band is registered: it is created from
// its CLSID and given a site whose browser's Refresh asks the column handlers again and
// refills the list, so a choice from the band's menu shows at once. Exit code 0 on success,
// 1 for bad arguments, 2 when the folder cannot be listed.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "band_site.h"
#include "cache_client.h"
#include "com_ptr.h"
#include "gdi_scope.h"
#include "registry.h"
#include "settings_store.h"
#include "unique_handle.h"

namespace {

struct Column {
    std::wstring handler;  // CLSID of the handler, as registered
    IColumnProvider* provider = nullptr;
    SHCOLUMNINFO info{};
};

struct Item {
    std::wstring name;
    WIN32_FIND_DATAW data{};
    std::vector<std::wstring> cells;
};

// More columns than any handler offers: a handler that never answers S_FALSE is cut here.
constexpr DWORD kMaxColumnsPerHandler = 64;

void WriteOut(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::vector<std::wstring> RegisteredHandlers() {
    std::vector<std::wstring> handlers;
    tvn::OpenedKey opened =
        tvn::OpenKey(HKEY_CLASSES_ROOT, L"Folder\\Shellex\\ColumnHandlers", KEY_READ);
    if (!opened) {
        return handlers;
    }
    HKEY key = opened.key.get();
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        handlers.push_back(name);
    }
    return handlers;
}

// Creates every handler and collects its columns; a handler that cannot be created is
// reported on stderr and left out, as Explorer leaves it out.
std::vector<Column> LoadColumns(const std::wstring& folder) {
    std::vector<Column> columns;
    for (const std::wstring& handler : RegisteredHandlers()) {
        CLSID clsid;
        if (FAILED(CLSIDFromString(handler.c_str(), &clsid))) {
            continue;
        }
        IColumnProvider* provider = nullptr;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IColumnProvider,
                                      reinterpret_cast<void**>(&provider));
        if (FAILED(hr)) {
            fwprintf(stderr, L"column handler %ls: cannot be created (0x%08lX)\n", handler.c_str(),
                     static_cast<unsigned long>(hr));
            continue;
        }
        SHCOLUMNINIT init{};
        lstrcpynW(init.wszFolder, folder.c_str(), MAX_PATH);
        provider->Initialize(&init);
        for (DWORD index = 0; index < kMaxColumnsPerHandler; ++index) {
            Column column;
            column.handler = handler;
            if (provider->GetColumnInfo(index, &column.info) != S_OK) {
                break;
            }
            column.info.wszTitle[MAX_COLUMN_NAME_LEN - 1] = 0;
            provider->AddRef();
            column.provider = provider;
            columns.push_back(column);
        }
        provider->Release();
    }
    return columns;
}

bool ListItems(const std::wstring& folder, std::vector<Item>& items) {
    WIN32_FIND_DATAW data;
    tvn::UniqueFind search(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!search) {
        return false;
    }
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) {
            continue;
        }
        Item item;
        item.name = data.cFileName;
        item.data = data;
        items.push_back(item);
    } while (FindNextFileW(search.get(), &data));
    search.reset();
    // Folders first, then by name, as the Details view sorts by default.
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        bool aFolder = (a.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool bFolder = (b.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (aFolder != bFolder) {
            return aFolder;
        }
        return CompareStringOrdinal(a.name.c_str(), -1, b.name.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    return true;
}

std::wstring CellText(Column& column, const std::wstring& folder, const Item& item) {
    SHCOLUMNDATA data{};
    data.dwFileAttributes = item.data.dwFileAttributes;
    const wchar_t* dot = wcsrchr(item.name.c_str(), L'.');
    data.pwszExt = const_cast<wchar_t*>(dot != nullptr ? dot : L"");
    std::wstring path = folder + L"\\" + item.name;
    lstrcpynW(data.wszFile, path.c_str(), MAX_PATH);
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (column.provider->GetItemData(&column.info.scid, &data, &value) == S_OK) {
        if (V_VT(&value) != VT_BSTR) {
            VariantChangeType(&value, &value, 0, VT_BSTR);
        }
        if (V_VT(&value) == VT_BSTR && V_BSTR(&value) != nullptr) {
            text = V_BSTR(&value);
        }
    }
    VariantClear(&value);
    return text;
}

std::wstring Fit(const std::wstring& text, size_t width, bool right) {
    if (text.size() >= width) {
        return text;
    }
    std::wstring padding(width - text.size(), L' ');
    return right ? padding + text : text + padding;
}

// Where the folder sizes of `folder` came from, as one line for a person, given whether the
// cache server ran before the cells were asked.
std::wstring SizeSource(const std::wstring& folder, bool serverRanBefore) {
    tvn::UniqueHKey settings = tvn::SettingsStore::OpenForRead();
    const int64_t enableCache = tvn::SettingsStore::ReadInteger(
        settings.get(), tvn::SettingsStore::kEnableCache, tvn::SettingsStore::kDefaultEnableCache);
    if (enableCache != 1) {
        return L"Folder sizes: counted by the column handler itself (the cache is off).";
    }
    if (!tvn::IsCacheServerRunning()) {
        return L"Folder sizes: the cache server TVN Cache.exe could not be reached.";
    }
    std::wstring line = L"Folder sizes: from the cache server TVN Cache.exe (";
    line += serverRanBefore ? L"already running" : L"started for this view";
    wchar_t root[] = {folder.empty() ? L'?' : folder[0], L':', L'\\', 0};
    if (GetDriveTypeW(root) == DRIVE_FIXED) {
        line += L"); ";
        line += root;
        line += L" is a fixed drive: the server keeps its sizes and watches it for changes.";
    } else {
        line += L"); ";
        line += root;
        line += L" is not a fixed drive: the server counts its folders afresh every time.";
    }
    return line;
}

void PrintTable(const std::wstring& folder, const std::vector<Column>& columns,
                const std::vector<Item>& items, const std::wstring& footer) {
    size_t nameWidth = 4;
    for (const Item& item : items) {
        nameWidth = std::max(nameWidth, item.name.size() + 1);
    }
    std::vector<size_t> widths;
    for (size_t c = 0; c < columns.size(); ++c) {
        size_t width = std::max<size_t>(columns[c].info.cChars, wcslen(columns[c].info.wszTitle));
        for (const Item& item : items) {
            width = std::max(width, item.cells[c].size());
        }
        widths.push_back(width);
    }
    auto trimmed = [](std::wstring line) {
        while (!line.empty() && line.back() == L' ') {
            line.pop_back();
        }
        return line + L"\n";
    };
    std::wstring header = Fit(L"Name", nameWidth, false);
    std::wstring rule(nameWidth, L'-');
    for (size_t c = 0; c < columns.size(); ++c) {
        bool right = (columns[c].info.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT;
        header += L"  " + Fit(columns[c].info.wszTitle, widths[c], right);
        rule += L"  " + std::wstring(widths[c], L'-');
    }
    std::wstring out = L"Details view of " + folder + L"\n\n" + trimmed(header) + rule + L"\n";
    for (const Item& item : items) {
        bool folderItem = (item.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        std::wstring line = Fit(item.name + (folderItem ? L"\\" : L""), nameWidth, false);
        for (size_t c = 0; c < columns.size(); ++c) {
            bool right = (columns[c].info.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT;
            line += L"  " + Fit(item.cells[c], widths[c], right);
        }
        out += trimmed(line);
    }
    out += L"\n" + std::to_wstring(items.size()) + L" items, " + std::to_wstring(columns.size()) +
           L" columns from handlers\n" + footer;
    WriteOut(out);
}

// --- the window ----------------------------------------------------------------------------

// The toolbar band's class, as Explorer finds it among its registered toolbars.
constexpr wchar_t kBandClsid[] = L"{AD0030F6-9A4E-4815-9CBA-5B66D684ADED}";
constexpr int kStripHeight = 30;  // the band's 26 pixels and a margin
constexpr int kListId = 1;
constexpr int kStripId = 2;

// What the window shows, and what a refresh of the view needs to ask the handlers again.
struct View {
    std::wstring listed;  // the folder as the handlers get it
    std::vector<Column>* columns = nullptr;
    std::vector<Item>* items = nullptr;
    HWND list = nullptr;
};

void FillList(const View& view) {
    const std::vector<Column>& columns = *view.columns;
    const std::vector<Item>& items = *view.items;
    ListView_DeleteAllItems(view.list);
    for (size_t i = 0; i < items.size(); ++i) {
        LVITEMW row{};
        row.mask = LVIF_TEXT;
        row.iItem = static_cast<int>(i);
        row.pszText = const_cast<wchar_t*>(items[i].name.c_str());
        int index = ListView_InsertItem(view.list, &row);
        for (size_t c = 0; c < columns.size(); ++c) {
            ListView_SetItemText(view.list, index, static_cast<int>(c + 1),
                                 const_cast<wchar_t*>(items[i].cells[c].c_str()));
        }
    }
}

// The band's browser was told to refresh: every cell is asked for again, as Explorer's view
// does after a refresh, and the list shows the new texts.
void RefreshView(void* context) {
    auto* view = static_cast<View*>(context);
    for (Item& item : *view->items) {
        item.cells.clear();
        for (Column& column : *view->columns) {
            item.cells.push_back(CellText(column, view->listed, item));
        }
    }
    FillList(*view);
}

// The band, created from its registered class and sited on `strip`; empty when the band is
// not registered or refuses the site (the window then shows the list alone).
tvn::ComPtr<IObjectWithSite> HostBand(HWND strip, View* view,
                                      tvn::ComPtr<tvn::tools::BandSite>& site) {
    tvn::ComPtr<IObjectWithSite> band;
    CLSID clsid;
    if (FAILED(CLSIDFromString(kBandClsid, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite,
                                band.put_void()))) {
        fwprintf(stderr, L"toolbar band %ls: not registered, shown without it\n", kBandClsid);
        return nullptr;
    }
    site = tvn::tools::BandSite::Create(strip, {}, RefreshView, view);
    if (!site || FAILED(band->SetSite(static_cast<IOleWindow*>(site.get())))) {
        fwprintf(stderr, L"toolbar band %ls: refused its site\n", kBandClsid);
        band->SetSite(nullptr);
        return nullptr;
    }
    tvn::ComPtr<IDockingWindow> docking;
    if (SUCCEEDED(band.As(IID_IDockingWindow, docking))) {
        docking->ShowDW(TRUE);
    }
    return band;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE: {
            HWND strip = GetDlgItem(window, kStripId);
            int top = strip != nullptr ? kStripHeight : 0;
            if (strip != nullptr) {
                MoveWindow(strip, 0, 0, LOWORD(lParam), kStripHeight, TRUE);
            }
            MoveWindow(GetDlgItem(window, kListId), 0, top, LOWORD(lParam), HIWORD(lParam) - top,
                       TRUE);
            return 0;
        }
        case WM_TIMER:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int ShowWindowTable(const std::wstring& folder, const std::wstring& listed,
                    std::vector<Column>& columns, std::vector<Item>& items, UINT closeAfterMs) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"TolvaneDetailsView";
    RegisterClassW(&windowClass);
    // The strip above the list where the toolbar host puts its bands.
    WNDCLASSW stripClass{};
    stripClass.lpfnWndProc = DefWindowProcW;
    stripClass.hInstance = instance;
    stripClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    stripClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    stripClass.lpszClassName = L"TolvaneBandStrip";
    RegisterClassW(&stripClass);
    std::wstring title = folder + L" - Details view";
    tvn::UniqueWindow window(CreateWindowExW(0, windowClass.lpszClassName, title.c_str(),
                                             WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 1000, 600,
                                             nullptr, nullptr, instance, nullptr));
    if (!window) {
        return 3;
    }
    RECT client;
    GetClientRect(window.get(), &client);
    HWND strip =
        CreateWindowExW(0, stripClass.lpszClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                        0, 0, client.right, kStripHeight, window.get(),
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStripId)), instance, nullptr);
    HWND list = CreateWindowExW(
        0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0,
        kStripHeight, client.right, client.bottom - kStripHeight, window.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), instance, nullptr);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    // Column widths in characters, as the handlers give them, at the list's average width.
    TEXTMETRICW metrics{};
    {
        tvn::WindowDc dc(list);
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0));
        tvn::SelectedObject selected(dc.get(),
                                     font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
        GetTextMetricsW(dc.get(), &metrics);
    }
    int charWidth = std::max<int>(metrics.tmAveCharWidth, 1);

    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = 200;
    column.pszText = const_cast<wchar_t*>(L"Name");
    ListView_InsertColumn(list, 0, &column);
    for (size_t c = 0; c < columns.size(); ++c) {
        column.fmt = static_cast<int>(columns[c].info.fmt);
        column.cx = static_cast<int>(columns[c].info.cChars) * charWidth;
        column.pszText = const_cast<wchar_t*>(columns[c].info.wszTitle);
        ListView_InsertColumn(list, static_cast<int>(c + 1), &column);
    }
    View view{listed, &columns, &items, list};
    FillList(view);
    tvn::ComPtr<tvn::tools::BandSite> site;
    tvn::ComPtr<IObjectWithSite> band = HostBand(strip, &view, site);
    if (!band) {
        DestroyWindow(strip);
        SendMessageW(window.get(), WM_SIZE, 0, MAKELPARAM(client.right, client.bottom));
    }
    ShowWindow(window.get(), SW_SHOW);
    UpdateWindow(window.get());
    if (closeAfterMs != 0) {
        SetTimer(window.get(), 1, closeAfterMs, nullptr);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    window.release();  // destroyed by its timer or its close button
    band.reset();      // its windows went with ours; the band lets go of the site
    return 0;
}

int Usage() {
    fwprintf(stderr, L"usage: details_view [--window [MILLISECONDS]] FOLDER\n");
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool window = false;
    UINT closeAfterMs = 0;
    std::wstring folder;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--window") {
            window = true;
            if (i + 1 < argc && iswdigit(argv[i + 1][0])) {
                closeAfterMs = static_cast<UINT>(wcstoul(argv[++i], nullptr, 10));
            }
        } else if (folder.empty() && !arg.empty() && arg[0] != L'-') {
            folder = arg;
        } else {
            return Usage();
        }
    }
    if (folder.empty()) {
        return Usage();
    }
    // The folder as the shell names it: full path, no trailing backslash except after "X:".
    // A full path that does not fit is a bad argument: the call then reports the size it
    // needs and leaves the buffer undefined.
    wchar_t full[MAX_PATH];
    DWORD fullLength = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH) {
        return Usage();
    }
    folder = full;
    if (folder.size() > 3 && folder.back() == L'\\') {
        folder.pop_back();
    }
    std::wstring listed = folder.size() == 3 ? folder.substr(0, 2) : folder;

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 3;
    }
    std::vector<Item> items;
    if (!ListItems(listed, items)) {
        fwprintf(stderr, L"cannot list %ls (error %lu)\n", folder.c_str(), GetLastError());
        CoUninitialize();
        return 2;
    }
    // Every cell as the view asks for it; the first ask of a folder is its first scan.
    const bool serverRanBefore = tvn::IsCacheServerRunning();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    std::vector<Column> columns = LoadColumns(folder);
    for (Item& item : items) {
        for (Column& column : columns) {
            item.cells.push_back(CellText(column, listed, item));
        }
    }
    QueryPerformanceCounter(&end);
    const long long elapsedMs = (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
    const std::wstring footer = L"Every cell asked in " + std::to_wstring(elapsedMs) +
                                L" ms (the first ask of a folder scans it).\n" +
                                SizeSource(folder, serverRanBefore) + L"\n";
    int result = 0;
    if (window) {
        result = ShowWindowTable(folder, listed, columns, items, closeAfterMs);
    } else {
        PrintTable(folder, columns, items, footer);
    }
    for (Column& column : columns) {
        column.provider->Release();
    }
    CoUninitialize();
    return result;
}
