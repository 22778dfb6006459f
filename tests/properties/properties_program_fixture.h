// What the end-to-end cases of TVN Properties.exe share: where the program is installed, the
// settings it stores as raw registry bytes, and the fixture that installs it once, keeps its
// windows unmanaged and starts every case with no settings stored.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "program_driver.h"
#include "settings_store.h"

namespace tvn {

namespace Store = SettingsStore;

inline constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Tolvane Properties";
inline constexpr wchar_t kProgram[] = L"C:\\Program Files\\Tolvane Properties\\TVN Properties.exe";

using Bytes = std::vector<BYTE>;

// Copies a file of the build tree (a path below the build folder) to `target`, whatever the
// target's length.
bool CopyBuilt(const wchar_t* relative, const std::wstring& target);
// The program and its help file where a setup would put them.
void InstallProgram(const std::wstring& folder);

// The bytes the program stores for a number, a character and a text.
Bytes Integer(int64_t value);
Bytes Character(wchar_t value);
Bytes Text(const std::wstring& text);

// A stored settings value as raw bytes; nothing when it is missing.
std::optional<Bytes> Stored(const wchar_t* name);
// Stores a settings value as the program would find it.
void Put(const wchar_t* name, const Bytes& data);
// The cache server's Run entry; nothing when there is none.
std::optional<std::wstring> RunEntry();
// No settings key and no Run entry.
void ClearSettings();

RECT WindowRect(HWND window);

class PropertiesProgramTest : public testing::Test {
  protected:
    // The program's windows are unmanaged while these cases run: without a window manager
    // on the test display, Wine would wait two seconds for each activated managed window to
    // be withdrawn when it goes.
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override { ClearSettings(); }
    void TearDown() override { ClearSettings(); }

    // Starts the installed program and waits for its dialog.
    void Start(test::PropertiesProgram& program, const wchar_t* path = kProgram) {
        ASSERT_TRUE(program.Start(path)) << "the dialog did not show";
    }

  private:
    static constexpr const wchar_t* kX11DriverKey = L"Software\\Wine\\X11 Driver";
    static inline bool hadManaged_ = false;
    static inline wchar_t oldManaged_[16] = {};
};

}  // namespace tvn
