#include "test_tree.h"

#include <gtest/gtest.h>

namespace tvn::test {

namespace {

std::wstring Widen(const char* text) {
    std::wstring out;
    for (; *text; ++text) {
        out += wchar_t(static_cast<unsigned char>(*text));
    }
    return out;
}

}  // namespace

std::wstring Lower(std::wstring text) {
    for (auto& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = wchar_t(c - L'A' + L'a');
        }
    }
    return text;
}

void CreateFolders(const std::wstring& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\') {
            std::wstring part = path.substr(0, i);
            if (!CreateDirectoryW(part.c_str(), nullptr)) {
                DWORD error = GetLastError();
                ASSERT_EQ(error, DWORD(ERROR_ALREADY_EXISTS)) << "CreateDirectoryW " << part.size();
            }
        }
    }
}

bool RemoveTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(path.c_str()) != 0;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*.*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") {
                RemoveTree(path + L"\\" + name);
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return RemoveDirectoryW(path.c_str()) != 0;
}

TestTree::TestTree(const wchar_t* drive) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name =
        info ? Widen(info->test_suite_name()) + L"." + Widen(info->name()) : std::wstring(L"tree");
    for (auto& c : name) {
        if (c == L'/' || c == L'\\' || c == L':') {
            c = L'_';
        }
    }
    root_ = std::wstring(drive) + L"\\" + name;
    RemoveTree(root_);
    CreateFolders(root_);
}

TestTree::~TestTree() {
    RemoveTree(root_);
}

std::wstring TestTree::Path(const std::wstring& relative) const {
    return relative.empty() ? root_ : root_ + L"\\" + relative;
}

void TestTree::Folder(const std::wstring& relative) const {
    CreateFolders(Path(relative));
}

void TestTree::File(const std::wstring& relative, uint64_t size) const {
    std::wstring path = Path(relative);
    size_t cut = path.rfind(L'\\');
    CreateFolders(path.substr(0, cut));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "CreateFileW error " << GetLastError();
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
}

void TestTree::Remove(const std::wstring& relative) const {
    EXPECT_TRUE(RemoveTree(Path(relative)));
}

}  // namespace tvn::test
