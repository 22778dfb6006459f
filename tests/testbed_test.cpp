// The test prefix itself: drive letters and types as the scripts map them, user folders kept
// inside the prefix, and no drive that reaches the machine's own file system.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "test_tree.h"

namespace tvn::test {
namespace {

TEST(TestBed, DriveTypesAreSetOnPurpose) {
    struct Case {
        const wchar_t* root;
        UINT type;
    };
    const Case cases[] = {
        {L"c:\\", DRIVE_FIXED},       {L"m:\\", DRIVE_FIXED}, {L"p:\\", DRIVE_FIXED},
        {L"n:\\", DRIVE_REMOTE},      {L"o:\\", DRIVE_CDROM}, {L"r:\\", DRIVE_REMOVABLE},
        {L"z:\\", DRIVE_NO_ROOT_DIR},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetDriveTypeW(c.root), c.type) << char(c.root[0]);
    }
}

TEST(TestBed, OnlyPrefixAndFixtureDrivesAreFixed) {
    for (wchar_t letter = L'a'; letter <= L'z'; ++letter) {
        wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_FIXED) {
            EXPECT_TRUE(letter == L'c' || letter == L'm' || letter == L'p') << char(letter);
        }
    }
}

TEST(TestBed, DocumentsIsARealFolderInsideThePrefix) {
    wchar_t documents[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
    EXPECT_EQ(Lower(documents).rfind(L"c:\\users\\", 0), 0u) << "documents outside c:";
    DWORD attributes = GetFileAttributesW(documents);
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "documents is a link";
}

TEST(TestBed, TreesAreBuiltWithChosenSizes) {
    TestTree tree;
    tree.File(L"a\\b\\four-gib.bin", 4ull << 30);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(tree.Path(L"a\\b\\four-gib.bin").c_str(),
                                     GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 0u);
}

}  // namespace
}  // namespace tvn::test
