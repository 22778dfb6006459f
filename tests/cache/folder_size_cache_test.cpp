// FolderSizeCache in the test's own process: arguments, reference rules and drive scans.
#include "folder_size_cache.h"
#include "folder_tree_cache_probe.h"

#include <gtest/gtest.h>

#include <string>

#include "test_tree.h"

namespace tvn {
namespace {

using test::TestTree;

// Holds the factory's reference, as the class factory would.
struct Object {
    FolderSizeCache* cache = nullptr;
    Object() { EXPECT_EQ(FolderSizeCache::Create(&cache), S_OK); }
    ~Object() {
        if (cache != nullptr) {
            cache->Release();
        }
    }
};

struct Answer {
    HRESULT hr;
    unsigned __int64 bytes;
};

Answer Size(FolderSizeCache* cache, const std::wstring& path) {
    BSTR text = SysAllocString(path.c_str());
    Answer a{E_UNEXPECTED, 12345};
    a.hr = cache->GetFolderSize(text, &a.bytes);
    SysFreeString(text);
    return a;
}

TEST(FolderSizeCacheObject, BadArgumentsGiveErrorsAndZero) {
    Object o;
    unsigned __int64 bytes = 77;
    EXPECT_EQ(o.cache->GetFolderSize(nullptr, &bytes), E_INVALIDARG);
    EXPECT_EQ(bytes, 0u);
    BSTR empty = SysAllocString(L"");
    bytes = 77;
    EXPECT_EQ(o.cache->GetFolderSize(empty, &bytes), E_INVALIDARG);
    EXPECT_EQ(bytes, 0u);
    BSTR path = SysAllocString(L"m:\\");
    EXPECT_EQ(o.cache->GetFolderSize(path, nullptr), E_POINTER);
    // A string that goes on after a zero would otherwise be answered for its first part.
    BSTR cut = SysAllocStringLen(L"m:\\\0x", 5);
    bytes = 77;
    EXPECT_EQ(o.cache->GetFolderSize(cut, &bytes), E_INVALIDARG);
    EXPECT_EQ(bytes, 0u);
    SysFreeString(cut);
    SysFreeString(empty);
    SysFreeString(path);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount(), 0u);
}

// Only fixed drive roots are watched; while a root's watch works its paths skip the drive
// type query, and once the watch stops they are asked about again (and a fixed drive is
// watched anew), with the same answers.
TEST(FolderSizeCacheObject, WatchedRootsSkipTheDriveTypeQueryOnlyWhileWatched) {
    Object o;
    const struct {
        wchar_t letter;
        bool watched;
    } cases[] = {{L'm', true},  {L'M', true},  {L'p', true},   {L'n', false}, {L'o', false},
                 {L'r', false}, {L'q', false}, {L'\\', false}, {0, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(o.cache->Watcher().WatchesRootHealthily(c.letter), c.watched) << int(c.letter);
    }
    TestTree fixed(test::kFixedDrive);
    fixed.File(L"a.bin", 10);
    TestTree network(test::kNetworkDrive);
    network.File(L"b.bin", 20);
    const auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        const size_t before = tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount();
        Answer cached = Size(o.cache, fixed.Root());
        EXPECT_EQ(cached.hr, S_OK);
        EXPECT_EQ(cached.bytes, 10u);
        Answer uncached = Size(o.cache, network.Root());
        EXPECT_EQ(uncached.hr, S_OK);
        EXPECT_EQ(uncached.bytes, 20u);
        EXPECT_EQ(tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount(), before)
            << "the fixed drive's folder was cached before";
    };
    ASSERT_EQ(Size(o.cache, fixed.Root()).bytes, 10u);
    check("watched");
    ASSERT_EQ(o.cache->Watcher().SetStopped(1), 0u);
    EXPECT_FALSE(o.cache->Watcher().WatchesRootHealthily(L'm'));
    check("no longer watched");
    o.cache->ResetCache();
    EXPECT_EQ(Size(o.cache, fixed.Root()).bytes, 10u);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount(), 1u)
        << "a fixed drive is still cached";
}

TEST(FolderSizeCacheObject, SizesByDriveType) {
    Object o;
    TestTree fixed(test::kFixedDrive);
    fixed.File(L"a.bin", 1000);
    fixed.File(L"sub\\big.bin", 4ull << 30);  // sparse
    fixed.File(L"sub\\deeper\\c.bin", 7);
    Answer a = Size(o.cache, fixed.Root());
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.bytes, 1000u + (4ull << 30) + 7u);
    size_t records = tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount();
    EXPECT_EQ(records, 3u);

    Answer missing = Size(o.cache, fixed.Path(L"nothing here"));
    EXPECT_EQ(missing.hr, E_FAIL);
    EXPECT_EQ(missing.bytes, 0u);

    // Other drive types are scanned without the cache and leave no record.
    for (const wchar_t* drive : {test::kNetworkDrive, test::kOpticalDrive, test::kRemovableDrive}) {
        TestTree other(drive);
        other.File(L"x\\y.bin", 300);
        other.File(L"z.bin", 5);
        size_t before = tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount();
        Answer u = Size(o.cache, other.Root());
        EXPECT_EQ(u.hr, S_OK) << char(drive[0]);
        EXPECT_EQ(u.bytes, 305u) << char(drive[0]);
        Answer gone = Size(o.cache, other.Path(L"missing"));
        EXPECT_EQ(gone.hr, E_INVALIDARG) << char(drive[0]);
        EXPECT_EQ(tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount(), before)
            << char(drive[0]);
    }
    // A path without a drive letter is no fixed drive either.
    size_t before = tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount();
    EXPECT_NE(Size(o.cache, L"\\\\nohost\\share").hr, S_OK);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount(), before);

    // The caller's string is not rewritten to the folder key.
    std::wstring upper = fixed.Root() + L"\\SUB\\";
    BSTR text = SysAllocString(upper.c_str());
    unsigned __int64 bytes = 0;
    EXPECT_EQ(o.cache->GetFolderSize(text, &bytes), S_OK);
    EXPECT_EQ(bytes, (4ull << 30) + 7u);
    EXPECT_EQ(std::wstring(text), upper);
    SysFreeString(text);

    EXPECT_EQ(o.cache->ResetCache(), S_OK);
    EXPECT_EQ(tvn::FolderTreeCacheProbe(o.cache->Cache()).RecordCount(), 0u);
}

TEST(FolderSizeCacheObject, ModuleLockFollowsCountAndReleaseServerGivesUpOneReference) {
    LONG locks = com::ModuleLock::Count();
    Object o;  // the factory's reference
    EXPECT_EQ(com::ModuleLock::Count(), locks);
    o.cache->AddRef();  // the server's own reference: 2 locks the module
    EXPECT_EQ(com::ModuleLock::Count(), locks + 1);
    o.cache->AddRef();  // a client
    EXPECT_EQ(com::ModuleLock::Count(), locks + 1);

    EXPECT_EQ(o.cache->ReleaseServer(), 2);  // the references left
    EXPECT_EQ(com::ModuleLock::Count(), locks + 1);
    // A second call releases nothing: the client's reference and the factory's stay.
    EXPECT_EQ(o.cache->ReleaseServer(), E_UNEXPECTED);
    EXPECT_EQ(o.cache->ReleaseServer(), E_UNEXPECTED);
    EXPECT_EQ(FolderSizeCache::LiveObjects(), 1);
    EXPECT_EQ(o.cache->Release(), 1u);  // back to 1 unlocks
    EXPECT_EQ(com::ModuleLock::Count(), locks);

    IUnknown* unknown = nullptr;
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(o.cache->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_EQ(o.cache->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(o.cache));
    dispatch->Release();
    unknown->Release();
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(o.cache->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST(FolderSizeCacheObject, SingletonFactoryHandsOutOneObject) {
    com::SingletonClassFactory<FolderSizeCache> factory;
    IUnknown* outer = reinterpret_cast<IUnknown*>(&factory);
    void* aggregated = nullptr;
    EXPECT_EQ(factory.CreateInstance(outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    IFolderSizeCache* first = nullptr;
    IDispatch* second = nullptr;
    ASSERT_EQ(
        factory.CreateInstance(nullptr, IID_IFolderSizeCache, reinterpret_cast<void**>(&first)),
        S_OK);
    ASSERT_EQ(factory.CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&second)),
              S_OK);
    EXPECT_EQ(static_cast<IDispatch*>(first), second);
    EXPECT_EQ(FolderSizeCache::LiveObjects(), 1);
    first->Release();
    second->Release();
    EXPECT_EQ(FolderSizeCache::LiveObjects(), 1);  // the factory keeps it
    factory.ReleaseObject();
    EXPECT_EQ(FolderSizeCache::LiveObjects(), 0);
    void* late = nullptr;
    EXPECT_EQ(factory.CreateInstance(nullptr, IID_IUnknown, &late), CO_E_SERVER_STOPPING);
}

// Scans started by CreateCache keep the object alive: letting go of every reference while they
// run destroys it only after the last scan has finished with it.
TEST(FolderSizeCacheObject, DriveScansOutliveTheLastClientReference) {
    TestTree tree(test::kSecondFixedDrive);
    for (int i = 0; i < 40; ++i) {
        tree.File(L"d" + std::to_wstring(i) + L"\\e\\f.bin", 10);
    }
    FolderSizeCache* cache = nullptr;
    ASSERT_EQ(FolderSizeCache::Create(&cache), S_OK);
    EXPECT_EQ(cache->CreateCache(), S_OK);
    cache->Release();
    DWORD start = GetTickCount();
    while (FolderSizeCache::LiveObjects() != 0 && GetTickCount() - start < 240000) {
        Sleep(20);
    }
    EXPECT_EQ(FolderSizeCache::LiveObjects(), 0);
    std::printf("drive scans of every fixed drive took %lu ms\n", GetTickCount() - start);
}

}  // namespace
}  // namespace tvn
