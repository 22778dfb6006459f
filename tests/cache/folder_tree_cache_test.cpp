// The folder tree cache on real trees under Wine.
#include "folder_tree_cache.h"
#include "folder_tree_cache_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cache_computations.h"
#include "test_tree.h"

namespace tvn {
namespace {

using test::Cached;
using test::Lower;
using test::Result;
using test::TestTree;
using test::Uncached;

FolderRecord Peek(FolderTreeCache& cache, const std::wstring& path) {
    FolderRecord record{};
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).PeekRecord(Lower(path), &record)) << "no record";
    return record;
}

TEST(FolderKey, FoldsAsciiLettersAndDropsOneTrailingBackslash) {
    const struct {
        const wchar_t* path;
        const wchar_t* key;
    } cases[] = {
        {L"C:\\", L"c:"},
        {L"C:", L"c:"},
        {L"c:", L"c:"},
        {L"C:\\Data\\", L"c:\\data"},
        {L"c:\\data", L"c:\\data"},
        {L"C:\\Data\\\\", L"c:\\data\\"},
        {L"", L""},
        {L"\\", L""},
        {L"C:\\\u00C4RGER\\\u00DFZ", L"c:\\\u00C4rger\\\u00DFz"},  // only A-Z fold
        {L"C:/Data/", L"c:/data/"},
        {L"\\\\?\\C:\\A\\..\\B", L"\\\\?\\c:\\a\\..\\b"},
    };
    for (const auto& c : cases) {
        std::wstring path = c.path;
        MakeFolderKey(path.data());
        EXPECT_EQ(std::wstring(path.c_str()), c.key);
    }
}

class FolderTreeCacheTest : public ::testing::Test {
  protected:
    FolderTreeCache cache;
    TestTree tree;
};

TEST_F(FolderTreeCacheTest, SumsLogicalSizesOfEveryFileBelow) {
    tree.File(L"top.bin", 1000);
    tree.File(L"a\\one.bin", 1);
    tree.File(L"a\\b\\c\\deep.bin", 70000);
    tree.File(L"big\\four-gib.bin", 4ull << 30);
    tree.File(L"hidden.bin", 5);
    SetFileAttributesW(tree.Path(L"hidden.bin").c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    tree.Folder(L"empty");
    const uint64_t expected = 1000 + 1 + 70000 + 4294967296ull + 5;

    EXPECT_EQ(Uncached(cache, tree.Root()).hr, S_OK);
    EXPECT_EQ(Uncached(cache, tree.Root()).bytes, expected);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 0u)
        << "the uncached computation stores nothing";

    Result r = Cached(cache, tree.Root());
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.bytes, expected);
    EXPECT_EQ(Cached(cache, tree.Path(L"big")).bytes, 4294967296ull);

    // Every folder reached got a clean record with its own split of the total.
    const struct {
        const wchar_t* folder;
        uint64_t files, subfolders;
    } records[] = {
        {L"", 1005, 70001 + 4294967296ull},
        {L"a", 1, 70000},
        {L"a\\b", 0, 70000},
        {L"a\\b\\c", 70000, 0},
        {L"empty", 0, 0},
        {L"big", 4294967296ull, 0},
    };
    for (const auto& e : records) {
        FolderRecord record = Peek(cache, tree.Path(e.folder));
        EXPECT_EQ(record.filesBytes, e.files) << char(e.folder[0]);
        EXPECT_EQ(record.subfoldersBytes, e.subfolders);
        EXPECT_FALSE(record.filesDirty);
        EXPECT_FALSE(record.subfoldersDirty);
    }
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 6u);
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
}

TEST_F(FolderTreeCacheTest, RootSpellingsReachOneRecord) {
    TestTree onSecondDrive(test::kSecondFixedDrive);
    onSecondDrive.File(L"x.bin", 123);
    Result first = Cached(cache, L"P:\\");
    ASSERT_EQ(first.hr, S_OK);
    EXPECT_EQ(first.bytes, 123u);
    const size_t records = tvn::FolderTreeCacheProbe(cache).RecordCount();
    const uint64_t listings = tvn::FolderTreeCacheProbe(cache).ListingCount();

    for (const wchar_t* spelling : {L"p:", L"P:", L"p:\\"}) {
        Result again = Cached(cache, spelling);
        EXPECT_EQ(again.hr, S_OK);
        EXPECT_EQ(again.bytes, 123u);
    }
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), records);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).ListingCount(), listings)
        << "clean records need no listing";

    // Two trailing backslashes keep one: a key of its own, with its own records below it.
    EXPECT_EQ(Cached(cache, L"P:\\\\").bytes, 123u);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 2 * records);
    FolderRecord record{};
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).PeekRecord(L"p:\\", &record));
}

TEST_F(FolderTreeCacheTest, EmptyFolderIsZeroWithBothMarksClear) {
    Result r = Cached(cache, tree.Root());
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.bytes, 0u);
    FolderRecord record = Peek(cache, tree.Root());
    EXPECT_FALSE(record.filesDirty);
    EXPECT_FALSE(record.subfoldersDirty);
}

// A drive root has no "." and ".." entries: when it is empty its listing matches nothing.
TEST(FolderTreeCacheFixture, EmptyDriveRootIsZeroNotAFailure) {
    FolderTreeCache cache;
    WIN32_FIND_DATAW data;
    ASSERT_EQ(FindFirstFileW(L"p:\\*.*", &data), INVALID_HANDLE_VALUE) << "p: must be empty";
    Result cached = Cached(cache, L"P:\\");
    EXPECT_EQ(cached.hr, S_OK);
    EXPECT_EQ(cached.bytes, 0u);
    EXPECT_FALSE(Peek(cache, L"p:").filesDirty);
    Result uncached = Uncached(cache, L"p:");
    EXPECT_EQ(uncached.hr, S_OK);
    EXPECT_EQ(uncached.bytes, 0u);
    EXPECT_EQ(Cached(cache, L"q:\\").hr, E_FAIL) << "a drive that does not exist";
}

TEST_F(FolderTreeCacheTest, MissingFolderFailsAndStaysDirtyUntilItExists) {
    const std::wstring missing = tree.Path(L"Not\\There");
    Result r = Cached(cache, missing);
    EXPECT_EQ(r.hr, E_FAIL);
    EXPECT_EQ(r.bytes, 0u);
    FolderRecord record = Peek(cache, missing);
    EXPECT_TRUE(record.filesDirty);
    EXPECT_TRUE(record.subfoldersDirty);

    EXPECT_EQ(Uncached(cache, missing).hr, E_INVALIDARG);

    tree.File(L"Not\\There\\now.bin", 77);
    r = Cached(cache, missing);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.bytes, 77u);
}

TEST_F(FolderTreeCacheTest, AFileIsNotAListableFolder) {
    tree.File(L"plain.bin", 10);
    EXPECT_EQ(Cached(cache, tree.Path(L"plain.bin")).hr, E_FAIL);
    EXPECT_EQ(Uncached(cache, tree.Path(L"plain.bin")).hr, E_INVALIDARG);
}

// Made by the fixture script from the Linux side: a folder whose name Windows programs can see
// but not open, beside readable files (100 + 50 bytes).
TEST(FolderTreeCacheFixture, UnlistableSubfolderCountsAsZeroWhenCached) {
    FolderTreeCache cache;
    const std::wstring root = L"m:\\fixture-unlistable";
    Result cached = Cached(cache, root);
    EXPECT_EQ(cached.hr, S_OK);
    EXPECT_EQ(cached.bytes, 150u);

    Result uncached = Uncached(cache, root);
    EXPECT_EQ(uncached.hr, E_INVALIDARG);
}

// A chain of folders as deep as the path buffers allow, one 1-byte file in each, and below the
// deepest one a folder whose path no longer fits (holding 1000 bytes).
TEST(FolderTreeCacheFixture, TreeAsDeepAsThePathLimitComputes) {
    FolderTreeCache cache;
    const std::wstring root = L"m:\\fixture-deep";
    size_t levels = 0;
    std::wstring deepest = root;
    while (deepest.size() + 2 + 4 < kScanPathChars) {
        deepest += L"\\a";
        ++levels;
    }
    ASSERT_EQ(deepest.size() + 4 + 1, kScanPathChars) << "pattern fills the buffer exactly";
    ASSERT_NE(GetFileAttributesW(deepest.c_str()), INVALID_FILE_ATTRIBUTES);

    Result cached = Cached(cache, root);
    EXPECT_EQ(cached.hr, S_OK);
    EXPECT_EQ(cached.bytes, levels + 1) << "the folder past the limit counts nothing";
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), levels + 2);

    EXPECT_EQ(Uncached(cache, root).hr, E_INVALIDARG);
    EXPECT_EQ(Uncached(cache, root + L"\\a").hr, E_INVALIDARG);
}

TEST_F(FolderTreeCacheTest, OverlongRequestFailsCleanly) {
    const struct {
        size_t length;
        HRESULT cached, uncached;
    } cases[] = {
        {kScanPathChars - 5, E_FAIL, E_INVALIDARG},  // fits, but no such folder
        {kScanPathChars - 4, E_FAIL, E_INVALIDARG},  // pattern one unit too long
        {kScanPathChars, E_FAIL, E_INVALIDARG},
        {5000, E_FAIL, E_INVALIDARG},
    };
    for (const auto& c : cases) {
        std::wstring path = tree.Root() + L"\\";
        path.resize(c.length, L'x');
        Result cached = Cached(cache, path);
        EXPECT_EQ(cached.hr, c.cached) << c.length;
        EXPECT_EQ(cached.bytes, 0u);
        EXPECT_EQ(Uncached(cache, path).hr, c.uncached) << c.length;
    }
}

TEST_F(FolderTreeCacheTest, CleanRecordsAnswerWithoutDiskAccess) {
    tree.File(L"a\\x.bin", 10);
    tree.File(L"b\\y.bin", 20);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 30u);
    const uint64_t listings = tvn::FolderTreeCacheProbe(cache).ListingCount();

    tree.Remove(L"a");  // nobody marks anything: the records are still believed
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 30u);
    EXPECT_EQ(Cached(cache, tree.Path(L"A")).bytes, 10u);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).ListingCount(), listings);
}

TEST_F(FolderTreeCacheTest, FilesDirtyOnlyKeepsTheSubfolderTotal) {
    tree.File(L"f.bin", 1);
    tree.File(L"sub\\g.bin", 10);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 11u);

    tree.File(L"new.bin", 100);
    tree.File(L"sub\\unseen.bin", 1000);
    ASSERT_TRUE(tvn::FolderTreeCacheProbe(cache).SetMarks(Lower(tree.Root()), true, false));
    const uint64_t listings = tvn::FolderTreeCacheProbe(cache).ListingCount();
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 111u);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).ListingCount(), listings + 1)
        << "no subfolder visited";
}

TEST_F(FolderTreeCacheTest, ChangeDeepInTheTreeRelistsOnlyThePathToIt) {
    std::wstring chain;
    for (int depth = 0; depth < 6; ++depth) {
        chain += (depth ? L"\\d" : L"d") + std::to_wstring(depth);
        tree.File(chain + L"\\file.bin", 1);
        tree.File(chain + L"-sibling\\file.bin", 2);
    }
    const uint64_t before = Cached(cache, tree.Root()).bytes;
    ASSERT_EQ(before, 6u * 3);

    tree.File(chain + L"\\added.bin", 500);
    cache.MarkContainingFolder(Lower(tree.Path(chain + L"\\added.bin")));
    EXPECT_TRUE(Peek(cache, tree.Path(chain)).filesDirty);
    EXPECT_TRUE(Peek(cache, tree.Root()).subfoldersDirty);
    EXPECT_FALSE(Peek(cache, tree.Root()).filesDirty);
    EXPECT_FALSE(Peek(cache, tree.Path(L"d0-sibling")).subfoldersDirty);

    const uint64_t listings = tvn::FolderTreeCacheProbe(cache).ListingCount();
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, before + 500);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).ListingCount(), listings + 7)
        << "the root and the six folders of the chain";
}

TEST_F(FolderTreeCacheTest, MarksReachOnlyFoldersWithRecords) {
    tree.File(L"a\\b\\f.bin", 1);
    ASSERT_EQ(Cached(cache, tree.Path(L"a\\b")).hr, S_OK);  // asked directly: no parent link
    cache.MarkContainingFolder(Lower(tree.Path(L"a\\b\\f.bin")));
    EXPECT_TRUE(Peek(cache, tree.Path(L"a\\b")).filesDirty);
    FolderRecord record{};
    EXPECT_FALSE(tvn::FolderTreeCacheProbe(cache).PeekRecord(Lower(tree.Path(L"a")), &record));

    cache.MarkContainingFolder(Lower(tree.Path(L"nowhere\\f.bin")));  // no record: no effect
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 1u);
}

TEST_F(FolderTreeCacheTest, DropFolderRemovesItsSubtreeOnly) {
    tree.File(L"a\\b\\c\\d\\f.bin", 1);
    tree.File(L"a\\b\\e\\f.bin", 1);
    tree.File(L"a\\keep\\f.bin", 1);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 3u);
    ASSERT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 7u);

    cache.DropFolder(Lower(tree.Path(L"a\\b")));
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 3u);
    FolderRecord record{};
    for (const wchar_t* gone : {L"a\\b", L"a\\b\\c", L"a\\b\\c\\d", L"a\\b\\e"}) {
        EXPECT_FALSE(tvn::FolderTreeCacheProbe(cache).PeekRecord(Lower(tree.Path(gone)), &record))
            << char(gone[4]);
    }
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
    cache.DropFolder(Lower(tree.Path(L"never-cached")));
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 3u);
}

TEST_F(FolderTreeCacheTest, MarkSubtreeMakesEverythingBelowRecount) {
    tree.File(L"a\\f.bin", 1);
    tree.File(L"ab\\f.bin", 1);  // shares a prefix, but is not below a
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 2u);
    tree.File(L"a\\g.bin", 5);
    cache.MarkSubtree(Lower(tree.Path(L"a")));
    EXPECT_TRUE(Peek(cache, tree.Path(L"a")).filesDirty);
    EXPECT_FALSE(Peek(cache, tree.Path(L"ab")).filesDirty);
    EXPECT_EQ(Cached(cache, tree.Path(L"a")).bytes, 6u);
}

// Runs `action` once, the first time a listing of the folder `when` (a key) is opened.
struct HookAt {
    std::wstring when;
    std::function<void()> action;
    bool fired = false;

    static void Call(void* context, const wchar_t* key) {
        auto* self = static_cast<HookAt*>(context);
        if (!self->fired && self->when == key) {
            self->fired = true;
            self->action();
        }
    }
    void Install(FolderTreeCache& cache) {
        tvn::FolderTreeCacheProbe(cache).SetListingHook(&HookAt::Call, this);
    }
};

TEST_F(FolderTreeCacheTest, ResetDuringAScanStoresNothingStaleAndKeepsLinksSound) {
    tree.File(L"a\\b\\c\\f.bin", 1);
    tree.File(L"a\\b\\g.bin", 2);
    tree.File(L"a\\h.bin", 4);
    HookAt hook{Lower(tree.Path(L"a\\b")), [&] { cache.ClearAll(); }};
    hook.Install(cache);

    Result r = Cached(cache, tree.Root());
    ASSERT_TRUE(hook.fired);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.bytes, 7u);
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
    FolderRecord record{};
    EXPECT_FALSE(tvn::FolderTreeCacheProbe(cache).PeekRecord(Lower(tree.Root()), &record))
        << "written back after reset";
    EXPECT_FALSE(tvn::FolderTreeCacheProbe(cache).PeekRecord(Lower(tree.Path(L"a\\b")), &record));
    // Records made below the reset point exist but are not linked to the freed ones.
    EXPECT_EQ(Peek(cache, tree.Path(L"a\\b\\c")).parent, nullptr);

    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 7u);
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
}

TEST_F(FolderTreeCacheTest, RemovalDuringAScanKeepsMarksAndLinks) {
    tree.File(L"a\\b\\c\\f.bin", 1);
    tree.File(L"a\\b\\g.bin", 2);
    tree.File(L"a\\h.bin", 4);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 7u);
    ASSERT_TRUE(
        tvn::FolderTreeCacheProbe(cache).SetMarks(Lower(tree.Path(L"a\\b\\c")), true, false));

    // While a\b\c is being listed, the watcher reports that a\b disappeared: the records of
    // a\b and a\b\c go while their computations still hold them.
    HookAt hook{Lower(tree.Path(L"a\\b\\c")), [&] {
                    cache.DropFolder(Lower(tree.Path(L"a\\b")));
                    cache.MarkContainingFolder(Lower(tree.Path(L"a\\b")));
                }};
    hook.Install(cache);
    Result r = Cached(cache, tree.Root());
    ASSERT_TRUE(hook.fired);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
    EXPECT_TRUE(Peek(cache, tree.Path(L"a")).filesDirty) << "mark set during the scan survives";
    EXPECT_TRUE(Peek(cache, tree.Root()).subfoldersDirty);
    FolderRecord record{};
    EXPECT_FALSE(tvn::FolderTreeCacheProbe(cache).PeekRecord(Lower(tree.Path(L"a\\b")), &record));
    EXPECT_FALSE(
        tvn::FolderTreeCacheProbe(cache).PeekRecord(Lower(tree.Path(L"a\\b\\c")), &record));

    tree.Remove(L"a\\b");
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 4u);
}

TEST_F(FolderTreeCacheTest, MarkDuringAScanIsNotLost) {
    tree.File(L"a\\f.bin", 1);
    HookAt hook{Lower(tree.Path(L"a")), [&] {
                    tree.File(L"a\\late.bin", 1000);
                    cache.MarkContainingFolder(Lower(tree.Path(L"a\\late.bin")));
                }};
    hook.Install(cache);
    Cached(cache, tree.Root());
    ASSERT_TRUE(hook.fired);
    EXPECT_TRUE(Peek(cache, tree.Path(L"a")).filesDirty);
    EXPECT_TRUE(Peek(cache, tree.Root()).subfoldersDirty);
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 1001u);
}

// A scan that reused the folder's file total, a change to those files while it lists the
// folder, and a second computation that stores the new total and clears the marks before the
// first one writes back: the older total, stored last, must stay marked.
TEST_F(FolderTreeCacheTest, OlderScanWritingBackLastLeavesItsTotalMarked) {
    tree.File(L"f.bin", 1);
    tree.File(L"a\\g.bin", 2);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 3u);
    ASSERT_TRUE(tvn::FolderTreeCacheProbe(cache).SetMarks(Lower(tree.Root()), false, true));
    HookAt hook{Lower(tree.Root()), [&] {
                    tree.File(L"late.bin", 1000);
                    cache.MarkContainingFolder(Lower(tree.Path(L"late.bin")));
                    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 1003u);
                }};
    hook.Install(cache);
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 3u);  // the tree as this scan began
    ASSERT_TRUE(hook.fired);
    EXPECT_TRUE(Peek(cache, tree.Root()).filesDirty);
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 1003u);
}

TEST_F(FolderTreeCacheTest, ConcurrentScansResetsAndRemovalsStaySound) {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            tree.File(L"d" + std::to_wstring(i) + L"\\e" + std::to_wstring(j) + L"\\f.bin", 3);
        }
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> scanners;
    for (int t = 0; t < 2; ++t) {
        scanners.emplace_back([&] {
            while (!stop) {
                Result r = Cached(cache, tree.Root());
                EXPECT_EQ(r.hr, S_OK);
                EXPECT_EQ(r.bytes, 48u);
            }
        });
    }
    for (int round = 0; round < 300; ++round) {
        switch (round % 4) {
            case 0:
                cache.ClearAll();
                break;
            case 1:
                cache.DropFolder(Lower(tree.Path(L"d" + std::to_wstring(round % 3))));
                break;
            case 2:
                cache.MarkSubtree(Lower(tree.Root()));
                break;
            default:
                cache.MarkContainingFolder(Lower(tree.Path(L"d1\\e2\\f.bin")));
                break;
        }
        EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
        Sleep(0);
    }
    stop = true;
    for (auto& t : scanners) {
        t.join();
    }
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
    cache.MarkSubtree(Lower(tree.Root()));
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 48u);
}

TEST(FolderTreeCacheTable, RemovingASubtreeLeavesTheRestIntact) {
    FolderTreeCache cache;
    ASSERT_TRUE(tvn::FolderTreeCacheProbe(cache).Preload(L"x:", L"", 0));
    for (int i = 0; i < 50; ++i) {
        std::wstring a = L"x:\\" + std::to_wstring(i);
        ASSERT_TRUE(tvn::FolderTreeCacheProbe(cache).Preload(a, L"x:", 1));
        for (int j = 0; j < 20; ++j) {
            ASSERT_TRUE(
                tvn::FolderTreeCacheProbe(cache).Preload(a + L"\\" + std::to_wstring(j), a, 1));
        }
    }
    EXPECT_FALSE(tvn::FolderTreeCacheProbe(cache).Preload(L"x:\\7", L"x:", 1))
        << "one record per key";
    ASSERT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 1u + 50 * 21);
    cache.DropFolder(L"x:\\7");
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 1u + 49 * 21);
    FolderRecord record{};
    EXPECT_FALSE(tvn::FolderTreeCacheProbe(cache).PeekRecord(L"x:\\7\\3", &record));
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).PeekRecord(L"x:\\17\\3", &record));
    {
        auto hold = cache.Lock().Enter();
        cache.RemoveDescendants(nullptr);
    }
    EXPECT_TRUE(tvn::FolderTreeCacheProbe(cache).LinksAreConsistent());
    cache.ClearAll();
    EXPECT_EQ(tvn::FolderTreeCacheProbe(cache).RecordCount(), 0u);
}

}  // namespace
}  // namespace tvn
