// Folder loops through links: the cached and uncached computations of the cache and the column
// provider's own scan count a link back into the current descent once (as 0), and still enter
// links to folders elsewhere. The trees with Linux symbolic links are made by
// tests/fixtures/make-fixtures.sh (fixture-loop on m: and n:, loop-free total 1235 bytes);
// a directory link made inside Wine is tried as well.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "descent_path.h"
#include "folder_size.h"
#include "folder_tree_cache.h"
#include "folder_tree_cache_probe.h"
#include "test_tree.h"

namespace tvn {
namespace {

using test::Lower;
using test::TestTree;

constexpr uint64_t kLoopFreeTotal = 1000 + 200 + 30 + 5;

std::wstring LoopRoot(const wchar_t* drive) {
    return std::wstring(drive) + L"\\fixture-loop";
}

TEST(LinkLoops, FixtureLinksAreSeenAsLinkedFolders) {
    // The premise of the loop check: the listing marks the links, and opening one gives the
    // identity of its target.
    const std::wstring root = LoopRoot(test::kFixedDrive);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW((root + L"\\a\\b\\up").c_str(), GetFileExInfoStandard, &data))
        << "fixture-loop is missing: run tests/fixtures/make-fixtures.sh";
    EXPECT_EQ(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    FolderIdentity link, target, other;
    ASSERT_TRUE(GetFolderIdentity((root + L"\\a\\b\\up").c_str(), &link));
    ASSERT_TRUE(GetFolderIdentity(root.c_str(), &target));
    ASSERT_TRUE(GetFolderIdentity((root + L"\\a").c_str(), &other));
    EXPECT_EQ(link, target);
    EXPECT_FALSE(link == other);
    FolderIdentity drive;
    EXPECT_TRUE(GetFolderIdentity(L"m:", &drive)) << "a drive key names the drive's root";
}

TEST(LinkLoops, EveryScanGivesTheLoopFreeTotal) {
    for (const wchar_t* drive : {test::kFixedDrive, test::kNetworkDrive}) {
        const std::wstring root = LoopRoot(drive);
        SCOPED_TRACE(testing::PrintToString(root));

        FolderTreeCache cache;
        uint64_t bytes = 0;
        EXPECT_EQ(cache.ComputeUncachedSize(root.c_str(), &bytes), S_OK);
        EXPECT_EQ(bytes, kLoopFreeTotal) << "uncached";

        std::wstring key = root;
        EXPECT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
        EXPECT_EQ(bytes, kLoopFreeTotal) << "cached";

        EXPECT_EQ(ScanFolderSize(root.c_str()), kLoopFreeTotal) << "column provider's scan";
    }
}

TEST(LinkLoops, CachedScanKeepsNoRecordOfALinkBack) {
    const std::wstring root = LoopRoot(test::kFixedDrive);
    FolderTreeCache cache;
    FolderTreeCacheProbe probe(cache);
    std::wstring key = root;
    uint64_t bytes = 0;
    ASSERT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
    FolderRecord record;
    EXPECT_FALSE(probe.PeekRecord(Lower(root + L"\\a\\b\\up"), &record));
    EXPECT_FALSE(probe.PeekRecord(Lower(root + L"\\a\\b\\up2"), &record));
    ASSERT_TRUE(probe.PeekRecord(Lower(root + L"\\a\\side"), &record)) << "a link elsewhere";
    EXPECT_EQ(record.filesBytes, 5u);
    // fixture-loop, a, b, side: nothing else was recorded.
    EXPECT_EQ(probe.RecordCount(), 4u);
    EXPECT_TRUE(probe.LinksAreConsistent());
}

TEST(LinkLoops, LinkToAFolderOffTheDescentPathIsEntered) {
    // Asked for a, the link up leads to the tree's root, which is not on the descent path from
    // a: it is entered (its 1000 bytes count), and inside it a, which the request entered
    // first, is not entered again. Each folder once: a totals 1235, not 235 + 1235.
    for (const wchar_t* drive : {test::kFixedDrive, test::kNetworkDrive}) {
        const std::wstring a = LoopRoot(drive) + L"\\a";
        SCOPED_TRACE(testing::PrintToString(a));
        FolderTreeCache cache;
        uint64_t bytes = 0;
        EXPECT_EQ(cache.ComputeUncachedSize(a.c_str(), &bytes), S_OK);
        EXPECT_EQ(bytes, kLoopFreeTotal);
        std::wstring key = a;
        EXPECT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
        EXPECT_EQ(bytes, kLoopFreeTotal);
        EXPECT_EQ(ScanFolderSize(a.c_str()), kLoopFreeTotal);
    }
}

// fixture-branch: L00 ... L24, each with (level + 1) bytes and two links to the next level,
// 2^24 paths below L00. Every scan enters each level once; the cached records reached through
// the links (or asked for below one) stay marked, so a later request sees a change made under
// a level's own path.
TEST(LinkLoops, BranchingLinksEnterEachFolderOnce) {
    constexpr uint64_t kEachOnce = 25 * 26 / 2;
    for (const wchar_t* drive : {test::kFixedDrive, test::kNetworkDrive}) {
        const std::wstring root = std::wstring(drive) + L"\\fixture-branch";
        const std::wstring top = root + L"\\L00";
        SCOPED_TRACE(testing::PrintToString(top));
        FolderTreeCache cache;
        FolderTreeCacheProbe probe(cache);
        uint64_t bytes = 0;
        ASSERT_EQ(cache.ComputeUncachedSize(top.c_str(), &bytes), S_OK);
        EXPECT_EQ(bytes, kEachOnce) << "uncached";
        EXPECT_EQ(probe.ListingCount(), 25u);
        EXPECT_EQ(ScanFolderSize(top.c_str()), kEachOnce) << "column provider's scan";

        std::wstring key = top;
        ASSERT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
        EXPECT_EQ(bytes, kEachOnce) << "cached";
        EXPECT_EQ(probe.ListingCount(), 50u);
        EXPECT_EQ(probe.RecordCount(), 25u);

        // Asked directly, a folder below a link (L24, the last level, has no links of its own).
        const std::wstring belowLink = root + L"\\L23\\a";
        key = belowLink;
        ASSERT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
        EXPECT_EQ(bytes, 25u);

        const std::wstring added = root + L"\\L24\\added.bin";
        HANDLE file =
            CreateFileW(added.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        const std::string data(1000, 'x');
        WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
        CloseHandle(file);
        key = top;
        EXPECT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
        EXPECT_EQ(bytes, kEachOnce + 1000) << "a change under a level's own path";
        key = belowLink;
        EXPECT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
        EXPECT_EQ(bytes, 25u + 1000) << "the same change, asked below the link";
        DeleteFileW(added.c_str());
    }
}

TEST(LinkLoops, DirectoryLinkMadeInsideWine) {
    TestTree tree;
    tree.File(L"f.bin", 11);
    tree.File(L"x\\g.bin", 22);
    const std::wstring link = tree.Path(L"x\\back");
    if (!CreateSymbolicLinkW(link.c_str(), tree.Root().c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        GTEST_SKIP() << "this Wine makes no directory links (error " << GetLastError() << ")";
    }
    DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        RemoveDirectoryW(link.c_str()) || DeleteFileW(link.c_str());
        GTEST_SKIP() << "the link this Wine made is not a folder (attributes 0x" << std::hex
                     << attributes << ")";
    }
    FolderTreeCache cache;
    uint64_t bytes = 0;
    EXPECT_EQ(cache.ComputeUncachedSize(tree.Root().c_str(), &bytes), S_OK);
    EXPECT_EQ(bytes, 33u);
    std::wstring key = tree.Root();
    EXPECT_EQ(cache.ComputeCachedSize(key.data(), nullptr, &bytes), S_OK);
    EXPECT_EQ(bytes, 33u);
    EXPECT_EQ(ScanFolderSize(tree.Root().c_str()), 33u);
    RemoveDirectoryW(link.c_str());  // the link itself, never what it leads to
}

}  // namespace
}  // namespace tvn
