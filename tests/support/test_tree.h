// Real folder trees for tests, made with Win32 calls inside Wine so that the change watcher
// sees them like any program's changes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tvn::test {

// Drives of the test prefix, mapped by the test scripts to fixture folders.
inline constexpr const wchar_t* kFixedDrive = L"m:";
inline constexpr const wchar_t* kSecondFixedDrive = L"p:";
inline constexpr const wchar_t* kNetworkDrive = L"n:";
inline constexpr const wchar_t* kOpticalDrive = L"o:";
inline constexpr const wchar_t* kRemovableDrive = L"r:";

// A folder of its own below a drive root, named after the running test; deleted with
// everything in it when the object goes.
class TestTree {
  public:
    explicit TestTree(const wchar_t* drive = kFixedDrive);
    ~TestTree();
    TestTree(const TestTree&) = delete;
    TestTree& operator=(const TestTree&) = delete;

    // The root of the tree, or a path below it ("a\b").
    const std::wstring& Root() const { return root_; }
    std::wstring Path(const std::wstring& relative) const;

    // Creates a folder and any missing folders above it.
    void Folder(const std::wstring& relative) const;
    // Creates (or replaces) a file of `size` bytes, its folders first. Sizes are set with
    // SetEndOfFile, so large files are sparse and cost no disk space.
    void File(const std::wstring& relative, uint64_t size) const;
    // Deletes a file, or a folder with everything in it.
    void Remove(const std::wstring& relative) const;

  private:
    std::wstring root_;
};

// Creates every folder of `path` that does not exist yet.
void CreateFolders(const std::wstring& path);
// Deletes a file, or a folder with everything in it; true when nothing is left.
bool RemoveTree(const std::wstring& path);
// Folds A-Z, as folder keys do.
std::wstring Lower(std::wstring text);

}  // namespace tvn::test
