// The folder table's storage: records that keep only their own name, found by a hash of the
// whole key and confirmed up the parent chain; blocks given back by ClearAll.
#include "folder_tree_cache.h"
#include "folder_tree_cache_probe.h"
#include "process_usage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache_computations.h"
#include "test_tree.h"

namespace tvn {
namespace {

using test::Cached;
using test::Lower;
using test::Result;
using test::TestTree;

bool Has(FolderTreeCache& cache, const std::wstring& path) {
    FolderRecord record{};
    return FolderTreeCacheProbe(cache).PeekRecord(Lower(path), &record);
}

// Total of a clean record, or ~0 when there is none or it is dirty.
uint64_t Stored(FolderTreeCache& cache, const std::wstring& path) {
    FolderRecord record{};
    if (!FolderTreeCacheProbe(cache).PeekRecord(Lower(path), &record) || record.filesDirty ||
        record.subfoldersDirty) {
        return ~0ull;
    }
    return record.filesBytes + record.subfoldersBytes;
}

uint32_t SameHash(std::wstring_view) {
    return 7;
}

// Equal for every folder of the same name, wherever it is.
uint32_t HashOfLastName(std::wstring_view key) {
    size_t cut = key.rfind(L'\\');
    std::wstring_view name = cut == std::wstring_view::npos ? key : key.substr(cut + 1);
    uint32_t h = 0;
    for (wchar_t c : name) {
        h = h * 31 + c;
    }
    return h;
}

// Folders of the same names under different parents, and parents of the same names: with
// every key colliding, each answer and each removal still finds exactly its own record.
TEST(FolderTreeStore, CollidingHashesFindTheirOwnRecords) {
    const struct {
        const char* name;
        FolderTreeCacheProbe::HashHook hook;
    } hooks[] = {{"one hash for all", SameHash}, {"hash of the last name", HashOfLastName}};
    for (const auto& h : hooks) {
        SCOPED_TRACE(h.name);
        FolderTreeCache cache;
        ASSERT_TRUE(FolderTreeCacheProbe(cache).SetHashHook(h.hook));
        TestTree tree;
        tree.File(L"a\\f.bin", 1);
        tree.File(L"b\\f.bin", 2);
        tree.File(L"a\\b\\f.bin", 4);
        tree.File(L"b\\a\\f.bin", 8);
        tree.File(L"a\\a\\f.bin", 16);
        tree.File(L"ab\\f.bin", 32);
        tree.File(L"b\\ab\\f.bin", 64);
        ASSERT_EQ(Cached(cache, tree.Root()).bytes, 127u);
        ASSERT_EQ(FolderTreeCacheProbe(cache).RecordCount(), 8u);
        const struct {
            const wchar_t* folder;
            uint64_t bytes;
        } expected[] = {{L"a", 21},    {L"b", 74},  {L"a\\b", 4},  {L"b\\a", 8},
                        {L"a\\a", 16}, {L"ab", 32}, {L"b\\ab", 64}};
        for (const auto& e : expected) {
            EXPECT_EQ(Stored(cache, tree.Path(e.folder)), e.bytes)
                << testing::PrintToString(e.folder);
        }
        EXPECT_FALSE(Has(cache, tree.Path(L"b\\b")));
        EXPECT_FALSE(Has(cache, tree.Path(L"ab\\a")));

        cache.DropFolder(Lower(tree.Path(L"b\\a")));
        EXPECT_FALSE(Has(cache, tree.Path(L"b\\a")));
        EXPECT_EQ(Stored(cache, tree.Path(L"a\\a")), 16u);
        EXPECT_EQ(Stored(cache, tree.Path(L"a")), 21u);
        cache.DropFolder(Lower(tree.Path(L"a")));
        EXPECT_EQ(FolderTreeCacheProbe(cache).RecordCount(), 4u);  // root, b, b\ab, ab
        EXPECT_EQ(Stored(cache, tree.Path(L"b\\ab")), 64u);
        EXPECT_TRUE(FolderTreeCacheProbe(cache).LinksAreConsistent());
    }
}

// Requests that differ in the case of A-Z or in one trailing backslash share one record; two
// trailing backslashes make a key of its own, whose folders below still add up.
TEST(FolderTreeStore, KeysDifferingInCaseOrTrailingBackslash) {
    FolderTreeCache cache;
    TestTree tree;
    tree.File(L"Data\\Sub\\f.bin", 10);
    tree.File(L"Data\\g.bin", 5);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 15u);
    const size_t records = FolderTreeCacheProbe(cache).RecordCount();
    const std::wstring upper = tree.Root() + L"\\DATA\\SUB";
    const struct {
        std::wstring path;
        uint64_t bytes;
        size_t newRecords;
    } cases[] = {
        {tree.Path(L"data\\sub"), 10, 0},
        {upper, 10, 0},
        {upper + L"\\", 10, 0},
        {tree.Path(L"Data\\"), 15, 0},
        {tree.Path(L"Data\\\\"), 15, 2},  // "...\data\" and "...\data\\sub"
        {tree.Path(L"DATA\\\\\\"), 15, 2},
    };
    size_t expectedRecords = records;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path));
        Result r = Cached(cache, c.path);
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.bytes, c.bytes);
        expectedRecords += c.newRecords;
        EXPECT_EQ(FolderTreeCacheProbe(cache).RecordCount(), expectedRecords);
    }
    EXPECT_TRUE(FolderTreeCacheProbe(cache).LinksAreConsistent());
    // A change below the odd key reaches its records, and the ordinary ones stay clean.
    cache.MarkContainingFolder(Lower(tree.Path(L"Data\\\\Sub\\f.bin")));
    EXPECT_EQ(Stored(cache, tree.Path(L"Data\\\\Sub")), ~0ull);
    EXPECT_EQ(Stored(cache, tree.Path(L"Data\\Sub")), 10u);
}

// A folder reached from its parent keeps only its own name; one asked for from outside first
// keeps its whole key, also once a scan of its parent reaches it.
TEST(FolderTreeStore, RecordsKeepTheirOwnNameBelowTheirParent) {
    FolderTreeCache cache;
    TestTree tree;
    tree.File(L"outside\\inner\\f.bin", 1);
    tree.File(L"named-by-scan\\f.bin", 2);
    ASSERT_EQ(Cached(cache, tree.Path(L"outside")).bytes, 1u);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 3u);
    const struct {
        std::wstring key;
        int stored;
    } cases[] = {
        {Lower(tree.Path(L"named-by-scan")), 13},
        {Lower(tree.Path(L"outside\\inner")), 5},
        {Lower(tree.Path(L"outside")), int(tree.Path(L"outside").size())},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FolderTreeCacheProbe(cache).StoredChars(c.key), c.stored)
            << testing::PrintToString(c.key);
    }
    EXPECT_TRUE(FolderTreeCacheProbe(cache).LinksAreConsistent());
    // The whole-key record answers changes below it like any other.
    cache.MarkContainingFolder(Lower(tree.Path(L"outside\\inner\\f.bin")));
    tree.File(L"outside\\inner\\f.bin", 100);
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 102u);
}

struct DropDuringScan {
    FolderTreeCache* cache;
    std::wstring at;    // the key whose listing triggers it
    std::wstring drop;  // dropped then; empty: everything is cleared
    bool done = false;
};

void DropWhenListed(void* context, const wchar_t* key) {
    auto* d = static_cast<DropDuringScan*>(context);
    if (!d->done && d->at == key) {
        d->done = true;
        if (d->drop.empty()) {
            d->cache->ClearAll();
        } else {
            d->cache->DropFolder(d->drop);
        }
    }
}

// A computation holds its record and its parent while it lists: removing them meanwhile
// (the parent's folder dropped, or the whole table cleared) leaves the held records valid, the
// table consistent, and a later scan right; no block of storage outlives the last ClearAll.
TEST(FolderTreeStore, ParentRemovedWhileItsChildIsBeingListed) {
    const struct {
        const wchar_t* listed;
        const wchar_t* dropped;  // null: ClearAll
    } cases[] = {
        {L"p\\c", L"p"},    {L"p\\c\\d", L"p"},    {L"p\\c\\d", L"p\\c"},
        {L"p\\c", nullptr}, {L"p\\c\\d", nullptr},
    };
    TestTree tree;
    tree.File(L"p\\f.bin", 1);
    tree.File(L"p\\c\\f.bin", 2);
    tree.File(L"p\\c\\d\\f.bin", 4);
    tree.File(L"p\\c\\d\\e\\f.bin", 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.listed));
        FolderTreeCache cache;
        DropDuringScan d{&cache, Lower(tree.Path(c.listed)),
                         c.dropped ? Lower(tree.Path(c.dropped)) : L""};
        FolderTreeCacheProbe(cache).SetListingHook(DropWhenListed, &d);
        Result first = Cached(cache, tree.Root());
        EXPECT_TRUE(d.done);
        EXPECT_EQ(first.hr, S_OK);
        EXPECT_EQ(first.bytes, 15u) << "the running scan still counts what it lists";
        EXPECT_TRUE(FolderTreeCacheProbe(cache).LinksAreConsistent());

        // What was removed is asked for again; what survived was computed by that scan.
        FolderTreeCacheProbe(cache).SetListingHook(nullptr, nullptr);
        cache.MarkSubtree(Lower(tree.Root()));
        EXPECT_EQ(Cached(cache, tree.Root()).bytes, 15u);
        EXPECT_EQ(Stored(cache, tree.Path(L"p\\c\\d")), 12u);
        EXPECT_EQ(Stored(cache, tree.Path(L"p\\c\\d\\e")), 8u);
        EXPECT_TRUE(FolderTreeCacheProbe(cache).LinksAreConsistent());
        cache.ClearAll();
        EXPECT_EQ(FolderTreeCacheProbe(cache).BlockCount(), 0u);
    }
}

// A rename moves a subtree: the watcher drops the old folder and marks both containing
// folders. The old keys are gone, the new ones are computed, the totals stay right.
TEST(FolderTreeStore, RenameMovesASubtree) {
    FolderTreeCache cache;
    TestTree tree;
    tree.File(L"from\\moved\\f.bin", 1);
    tree.File(L"from\\moved\\deep\\f.bin", 2);
    tree.File(L"from\\moved\\deep\\er\\f.bin", 4);
    tree.File(L"to\\f.bin", 8);
    ASSERT_EQ(Cached(cache, tree.Root()).bytes, 15u);
    ASSERT_TRUE(MoveFileW(tree.Path(L"from\\moved").c_str(), tree.Path(L"to\\moved").c_str()));

    cache.DropFolder(Lower(tree.Path(L"from\\moved")));
    cache.MarkContainingFolder(Lower(tree.Path(L"from\\moved")));
    cache.MarkContainingFolder(Lower(tree.Path(L"to\\moved")));
    EXPECT_FALSE(Has(cache, tree.Path(L"from\\moved\\deep")));
    EXPECT_FALSE(Has(cache, tree.Path(L"from\\moved\\deep\\er")));
    EXPECT_EQ(Cached(cache, tree.Root()).bytes, 15u);
    EXPECT_EQ(Stored(cache, tree.Path(L"from")), 0u);
    EXPECT_EQ(Stored(cache, tree.Path(L"to")), 15u);
    EXPECT_EQ(Stored(cache, tree.Path(L"to\\moved\\deep\\er")), 4u);
    EXPECT_EQ(FolderTreeCacheProbe(cache).RecordCount(), 6u);
    EXPECT_TRUE(FolderTreeCacheProbe(cache).LinksAreConsistent());
}

// Keys up to the longest a record holds are stored and found again through their chain (also
// when every hash collides); a longer one gets no record.
TEST(FolderTreeStore, LongestKeys) {
    FolderTreeCache cache;
    ASSERT_TRUE(FolderTreeCacheProbe(cache).SetHashHook(SameHash));
    std::wstring key = L"x:";
    std::wstring parent;
    while (key.size() + 10 <= FolderTreeCache::kMaxKeyChars) {
        ASSERT_TRUE(FolderTreeCacheProbe(cache).Preload(key, parent, 1));
        parent = key;
        key += L"\\level" + std::to_wstring(key.size() % 1000);
    }
    key = parent + L"\\";
    key.resize(FolderTreeCache::kMaxKeyChars, L'n');
    ASSERT_TRUE(FolderTreeCacheProbe(cache).Preload(key, parent, 1));
    EXPECT_EQ(FolderTreeCacheProbe(cache).StoredChars(key),
              int(FolderTreeCache::kMaxKeyChars - parent.size() - 1));
    EXPECT_FALSE(FolderTreeCacheProbe(cache).Preload(key + L"\\n", key, 1));
    EXPECT_FALSE(FolderTreeCacheProbe(cache).Preload(key + L"n", L"", 1));
    EXPECT_TRUE(FolderTreeCacheProbe(cache).LinksAreConsistent());

    // Marking by prefix rebuilds every key from its chain.
    cache.MarkSubtree(parent);
    FolderRecord record{};
    ASSERT_TRUE(FolderTreeCacheProbe(cache).PeekRecord(key, &record));
    EXPECT_TRUE(record.filesDirty);
    ASSERT_TRUE(FolderTreeCacheProbe(cache).PeekRecord(L"x:", &record));
    EXPECT_FALSE(record.filesDirty);

    std::wstring overlong(FolderTreeCache::kMaxKeyChars + 1, L'q');
    overlong[0] = L'm';
    overlong[1] = L':';
    overlong[2] = L'\\';
    const size_t records = FolderTreeCacheProbe(cache).RecordCount();
    EXPECT_EQ(Cached(cache, overlong).hr, E_FAIL);
    EXPECT_EQ(FolderTreeCacheProbe(cache).RecordCount(), records);
}

// One level of 1,000 folders, 1,000 below each: a million records, cleared. The memory of the
// records and of the table goes back: twice, so that a leak per round would show.
TEST(FolderTreeStore, MillionRecordsClearedGiveTheirMemoryBack) {
    FolderTreeCache cache;
    const size_t before = tools::CommittedPrivateBytes(GetCurrentProcess());
    size_t built = 0;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(FolderTreeCacheProbe(cache).Preload(L"x:\\bench", L"", 0));
        for (int i = 0; i < 1000; ++i) {
            const std::wstring a = L"x:\\bench\\folder-" + std::to_wstring(i);
            ASSERT_TRUE(FolderTreeCacheProbe(cache).Preload(a, L"x:\\bench", 1));
            for (int j = 0; j < 999; ++j) {
                ASSERT_TRUE(
                    FolderTreeCacheProbe(cache).Preload(a + L"\\leaf-" + std::to_wstring(j), a, 1));
            }
        }
        ASSERT_EQ(FolderTreeCacheProbe(cache).RecordCount(), 1000001u);
        built = tools::CommittedPrivateBytes(GetCurrentProcess());
        cache.ClearAll();
        EXPECT_EQ(FolderTreeCacheProbe(cache).RecordCount(), 0u);
        EXPECT_EQ(FolderTreeCacheProbe(cache).BlockCount(), 0u);
        const size_t after = tools::CommittedPrivateBytes(GetCurrentProcess());
        EXPECT_GT(built, before + (50u << 20)) << "the table was built";
        EXPECT_LT(after, before + (1u << 20))
            << "round " << round << ": " << before << " -> " << built << " -> " << after;
    }
}

}  // namespace
}  // namespace tvn
