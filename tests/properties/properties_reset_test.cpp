// Reset cache against the real cache server: the properties program asks a running server to
// empty its cache, and the server's next answer lists the folder again.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "com_ptr.h"
#include "program_driver.h"
#include "programs.h"
#include "resource.h"
#include "server_harness.h"
#include "settled_cache.h"
#include "test_tree.h"

namespace tvn {
namespace {

using test::PropertiesProgram;

constexpr wchar_t kProgramFolder[] = L"C:\\Program Files\\Tolvane Reset";
constexpr wchar_t kProgram[] = L"C:\\Program Files\\Tolvane Reset\\TVN Properties.exe";

TEST(PropertiesResetCache, RunningServerForgetsAndListsAgain) {
    test::CreateFolders(kProgramFolder);
    ASSERT_TRUE(
        CopyFileW(test::BuiltFile(L"properties\\TVN Properties.exe").c_str(), kProgram, FALSE));
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        test::EnsureServerRegistered();
        auto cache = ComPtr<IFolderSizeCache>::Attach(test::ConnectServer());
        ASSERT_NE(cache.get(), nullptr);

        test::TestTree tree(test::kFixedDrive);
        tree.File(L"a\\one.bin", 1000);
        tree.File(L"b\\two.bin", 234);
        ASSERT_EQ(test::AskSize(cache.get(), tree.Root()).bytes, 1234u);
        // Making the tree gives a stream of notices: only a settled cache answers from memory.
        const test::SettleResult settled =
            test::WaitUntilAnsweredFromMemory(test::Asker(cache.get()), tree.Root(), 1234u);
        ASSERT_TRUE(settled.settled) << test::Describe(settled);
        test::FolderLock lock(tree.Root());
        ASSERT_TRUE(lock.Holds());
        test::Answer memory = test::AskSize(cache.get(), tree.Root());
        EXPECT_EQ(memory.hr, S_OK) << "not answered from the cache";
        EXPECT_EQ(memory.bytes, 1234u);

        PropertiesProgram program;
        ASSERT_TRUE(program.Start(kProgram));
        program.PostClick(IDC_RESET_CACHE);
        HWND box = program.WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        PropertiesProgram::Answer(box, IDYES);
        ASSERT_TRUE(PropertiesProgram::WaitGone(box));
        // The reset is synchronous: the button comes back when the server has answered.
        for (int i = 0; i < 500 && !program.Enabled(IDC_RESET_CACHE); ++i) {
            Sleep(10);
        }
        EXPECT_TRUE(program.Enabled(IDC_RESET_CACHE));
        EXPECT_EQ(test::AskSize(cache.get(), tree.Root()).hr, E_FAIL) << "answered without listing";
        lock.Unlock();
        test::Answer rescan = test::AskSize(cache.get(), tree.Root());
        EXPECT_EQ(rescan.hr, S_OK);
        EXPECT_EQ(rescan.bytes, 1234u);
        program.PostCommand(IDCANCEL);
        EXPECT_EQ(program.WaitForExit(), 2u);

        // The server goes again: its own reference given up, it ends after the last client.
        HANDLE process = test::OpenServerProcess();
        cache->ReleaseServer();
        cache.reset();
        if (process != nullptr) {
            EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
            CloseHandle(process);
        }
    }
    CoUninitialize();
}

}  // namespace
}  // namespace tvn
