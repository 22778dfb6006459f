// tools/details_view.exe end to end: it finds TVN.dll through the column-handler key, and its
// table shows the three columns with their titles and the cells of a real folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "column_support.h"
#include "test_tree.h"

namespace tvn::test {
namespace {

// The table is written as UTF-8.
std::wstring ReadUtf8(const std::wstring& path) {
    const std::string bytes = ReadFileText(path);
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(),
                                                        static_cast<int>(bytes.size()), text.data(),
                                                        static_cast<int>(text.size()))));
    return text;
}

TEST(DetailsView, PrintsTheColumnsOfEveryRegisteredHandler) {
    // The bar cells may start the cache server; it goes again however the case ends.
    struct StopServerAtEnd {
        ~StopServerAtEnd() { StopCacheServer(); }
    } stopServerAtEnd;
    ASSERT_TRUE(InstallBuilt());
    ASSERT_EQ(RunProgram(L"regsvr32 /s " + Quoted(kDllPath)), 0u);
    const bool server = CacheServerBuilt();
    if (server) {
        ASSERT_EQ(RunProgram(Quoted(kServerPath) + L" /RegServer"), 0u);
    }
    ClearSettings();
    TestTree tree;
    tree.File(L"listing\\report.bin", 1234567);
    tree.File(L"listing\\small.txt", 512);
    tree.File(L"listing\\sub\\inner.bin", 70000);
    const std::wstring output = tree.Path(L"table.txt");
    const std::wstring exe = BuildTop() + L"\\tools\\details_view.exe";
    ASSERT_EQ(RunProgram(Quoted(exe) + L" " + Quoted(tree.Path(L"listing")), 60000, output), 0u);
    const std::wstring table = ReadUtf8(output);
    for (const wchar_t* expected :
         {L"VudaZe sorting column", L"VudaZe %", L"report.bin", L"1 206 KB", L"1234567",
          L"small.txt", L"512", L"sub\\", L"3 items, 3 columns from handlers"}) {
        EXPECT_NE(table.find(expected), std::wstring::npos) << expected << "\n" << table;
    }
    EXPECT_NE(table.find(L"Every cell asked in "), std::wstring::npos) << table;
    // The folder's size comes from the cache server, and the table says so; with the cache
    // off the column handler counts it itself, to the same size.
    if (server) {
        EXPECT_NE(table.find(L"68 KB"), std::wstring::npos) << table;
        EXPECT_NE(table.find(L"70000"), std::wstring::npos) << table;
        EXPECT_NE(table.find(L"Folder sizes: from the cache server TVN Cache.exe"),
                  std::wstring::npos)
            << table;
    }
    SetInteger(L"EnableCache", 0);
    ASSERT_EQ(RunProgram(Quoted(exe) + L" " + Quoted(tree.Path(L"listing")), 60000, output), 0u);
    const std::wstring ownScan = ReadUtf8(output);
    EXPECT_NE(ownScan.find(L"70000"), std::wstring::npos) << ownScan;
    EXPECT_NE(
        ownScan.find(L"Folder sizes: counted by the column handler itself (the cache is off)."),
        std::wstring::npos)
        << ownScan;
    ClearSettings();
    // Size and sorting columns are right-aligned: the texts end where their titles end.
    size_t header = table.find(L"VudaZe sorting column");
    size_t row = table.find(L"1234567");
    ASSERT_NE(header, std::wstring::npos);
    ASSERT_NE(row, std::wstring::npos);
    size_t headerEnd = header + wcslen(L"VudaZe sorting column") - table.rfind(L'\n', header);
    size_t rowEnd = row + wcslen(L"1234567") - table.rfind(L'\n', row);
    EXPECT_EQ(headerEnd, rowEnd);

    EXPECT_EQ(RunProgram(Quoted(exe) + L" " + Quoted(tree.Path(L"no such folder")), 60000, output),
              2u);
    EXPECT_EQ(RunProgram(Quoted(exe), 60000, output), 1u);
}

TEST(DetailsView, RejectsBadArgumentsWithUsage) {
    const std::wstring exe = Quoted(BuildTop() + L"\\tools\\details_view.exe");
    // A folder whose full path does not fit MAX_PATH must not be read from a buffer the
    // system left undefined.
    const std::wstring tooLong = L"m:\\" + std::wstring(300, L'a');
    struct Case {
        const char* name;
        std::wstring arguments;
    };
    const Case cases[] = {
        {"no folder", L""},
        {"two folders", L" m:\\one m:\\two"},
        {"unknown switch", L" --bogus m:\\"},
        {"full path longer than MAX_PATH", L" " + tooLong},
    };
    TestTree tree;
    const std::wstring output = tree.Path(L"usage.txt");
    for (const Case& c : cases) {
        EXPECT_EQ(RunProgram(exe + c.arguments, 60000, output), 1u) << c.name;
    }
}

}  // namespace
}  // namespace tvn::test
