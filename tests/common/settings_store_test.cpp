// The settings store against real registry keys of the test prefix: encodings, defaults,
// capacities, the Run entry and the change message.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <span>
#include <string>
#include <vector>

#include "programs.h"
#include "settings_store.h"

namespace ss = tvn::SettingsStore;

namespace {

// A scratch key with raw access to its values.
class ScratchKey : public tvn::test::ScratchKey {
  public:
    using tvn::test::ScratchKey::ScratchKey;

    void Put(const wchar_t* name, DWORD type, const void* data, DWORD size) const {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(get(), name, 0, type, static_cast<const BYTE*>(data), size));
    }
    // The stored type and bytes of a value.
    std::vector<BYTE> Raw(const wchar_t* name, DWORD* type) const {
        BYTE data[1024];
        DWORD size = sizeof(data);
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(get(), name, nullptr, type, data, &size));
        return std::vector<BYTE>(data, data + size);
    }
};

template <typename T>
std::vector<BYTE> Bytes(const T& value, size_t size = sizeof(T)) {
    std::vector<BYTE> bytes(size);
    std::memcpy(bytes.data(), &value, size);
    return bytes;
}

std::vector<BYTE> TextBytes(const std::wstring& text, bool terminated = true) {
    size_t units = text.size() + (terminated ? 1 : 0);
    std::vector<BYTE> bytes(units * sizeof(wchar_t));
    std::memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

}  // namespace

TEST(SettingsStore, IntegerReads) {
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> stored;  // empty vector with type 0: no value at all
        int64_t defaultValue;
        int64_t expected;
    };
    const int64_t highDefault = 0x1111111100000000LL;
    const Case cases[] = {
        {"8-byte binary", REG_BINARY, Bytes<int64_t>(-7), 1, -7},
        {"4-byte REG_DWORD", REG_DWORD, Bytes<DWORD>(2), 0, 2},
        {"shorter value keeps the high bytes", REG_DWORD, Bytes<DWORD>(2), highDefault,
         highDefault | 2},
        {"one byte", REG_BINARY, Bytes<BYTE>(3), 0x0100, 0x0103},
        {"over-long value", REG_BINARY, std::vector<BYTE>(9, 0x22), 1, 1},
        {"empty value", REG_BINARY, {}, 4, 4},
        {"missing value", 0, {}, 5, 5},
    };
    ScratchKey key;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteValueW(key.get(), ss::kViewStyle);
        if (c.type != 0) {
            key.Put(ss::kViewStyle, c.type, c.stored.data(), static_cast<DWORD>(c.stored.size()));
        }
        EXPECT_EQ(c.expected, ss::ReadInteger(key.get(), ss::kViewStyle, c.defaultValue));
    }
}

TEST(SettingsStore, CharacterAndTextReads) {
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> stored;
        size_t capacity;
        std::wstring defaultValue;
        std::wstring expected;  // text, or the one character read
        bool character;
    };
    const std::wstring title100(100, L'T');
    const std::wstring title79(79, L'u');
    const Case cases[] = {
        {"character", REG_BINARY, Bytes<wchar_t>(L'.'), 1, L" ", L".", true},
        {"character in a longer buffer", REG_BINARY, TextBytes(L"ab"), 10, L" ", L"a", true},
        {"character too long for its buffer", REG_BINARY, TextBytes(L"|"), 1, L"\x2022", L"\x2022",
         true},
        {"zero character", REG_BINARY, Bytes<wchar_t>(0), 1, L" ", std::wstring(1, L'\0'), true},
        {"text", REG_BINARY, TextBytes(L"Gr\x00f6\x00dfe"), 80, L"VudaZe", L"Gr\x00f6\x00dfe",
         false},
        {"text filling the buffer", REG_BINARY, TextBytes(title79), 80, L"VudaZe", title79, false},
        {"text too long for the column provider", REG_BINARY, TextBytes(title100), 80, L"VudaZe",
         L"VudaZe", false},
        {"same text fits the properties dialog", REG_BINARY, TextBytes(title100), 260, L"VudaZe",
         title100, false},
        {"text without terminator", REG_BINARY, TextBytes(L"abc", false), 80, L"VudaZe", L"abc",
         false},
        {"stored type is not checked", REG_SZ, TextBytes(L"Size"), 80, L"VudaZe", L"Size", false},
        {"missing text", 0, {}, 80, L"VudaZe", L"VudaZe", false},
    };
    ScratchKey key;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegDeleteValueW(key.get(), L"V");
        if (c.type != 0) {
            key.Put(L"V", c.type, c.stored.data(), static_cast<DWORD>(c.stored.size()));
        }
        if (c.character) {
            EXPECT_EQ(c.expected[0],
                      ss::ReadCharacter(key.get(), L"V", c.defaultValue[0], c.capacity));
        } else {
            wchar_t text[260] = {};
            wmemcpy(text, c.defaultValue.c_str(), c.defaultValue.size() + 1);
            ss::ReadText(key.get(), L"V", text, c.capacity);
            EXPECT_EQ(c.expected, std::wstring(text));
        }
    }
}

TEST(SettingsStore, WritesStoreBinaryInTheirEncodingAndReadBack) {
    ScratchKey key;
    ASSERT_EQ(ERROR_SUCCESS, ss::WriteInteger(key.get(), ss::kDecimalDigits, -2));
    ASSERT_EQ(ERROR_SUCCESS, ss::WriteInteger(key.get(), ss::kCacheAll, 0x123456789ALL));
    ASSERT_EQ(ERROR_SUCCESS, ss::WriteCharacter(key.get(), ss::kPB_Symbol, L'\x2014'));
    ASSERT_EQ(ERROR_SUCCESS, ss::WriteText(key.get(), ss::kColumnTitle, L"Gr\x00f6\x00dfe"));

    struct Stored {
        const wchar_t* name;
        std::vector<BYTE> bytes;
    };
    const Stored expected[] = {
        {ss::kDecimalDigits, Bytes<int64_t>(-2)},
        {ss::kCacheAll, Bytes<int64_t>(0x123456789ALL)},
        {ss::kPB_Symbol, Bytes<wchar_t>(L'\x2014')},
        {ss::kColumnTitle, TextBytes(L"Gr\x00f6\x00dfe")},  // 12 bytes with the terminator
    };
    for (const Stored& s : expected) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(s.name)));
        DWORD type = 0;
        EXPECT_EQ(s.bytes, key.Raw(s.name, &type));
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    }

    ss::Settings settings;
    ss::Read(key.get(), ss::kPropertiesReads, settings);
    EXPECT_EQ(-2, settings.decimalDigits);
    EXPECT_EQ(0x123456789ALL, settings.cacheAll);
    EXPECT_EQ(L'\x2014', settings.pbSymbol[0]);
    EXPECT_EQ(std::wstring(L"Gr\x00f6\x00dfe"), settings.columnTitle);
    EXPECT_EQ(ss::kDefaultViewMetric, settings.viewMetric);  // not written: default

    EXPECT_EQ(ERROR_INVALID_PARAMETER, ss::WriteText(key.get(), ss::kColumnTitle, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, ss::WriteInteger(nullptr, ss::kViewStyle, 1));
}

TEST(SettingsStore, MissingKeyGivesEveryDefault) {
    tvn::UniqueHKey missing;
    ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TolvaneTest\\NoSuchKey",
                                           0, KEY_READ, missing.put()));
    missing.release();

    for (std::span<const ss::ValueRead> reads :
         {std::span<const ss::ValueRead>(ss::kColumnCellReads),
          std::span<const ss::ValueRead>(ss::kColumnTitleReads),
          std::span<const ss::ValueRead>(ss::kPropertiesReads),
          std::span<const ss::ValueRead>(ss::kToolbarReads),
          std::span<const ss::ValueRead>(ss::kCacheServerReads)}) {
        ss::Settings s;
        ss::Read(missing.get(), reads, s);
        EXPECT_EQ(tvn::ViewStyle::FoldersAndFiles, s.viewStyle);
        EXPECT_EQ(tvn::ViewMetric::KBytes, s.viewMetric);
        EXPECT_EQ(0, s.decimalDigits);
        EXPECT_EQ(L' ', s.separator);
        EXPECT_EQ(std::wstring(L"VudaZe"), s.columnTitle);
        EXPECT_EQ(1, s.enableCache);
        EXPECT_EQ(0, s.cacheAll);
        EXPECT_EQ(1, s.alwaysOnTop);
        EXPECT_EQ(1, s.enableUpdSplash);
        EXPECT_EQ(tvn::PB_Style::ValueAndBar, s.pbStyle);
        EXPECT_EQ(L'\x2022', s.pbSymbol[0]);
    }
}

TEST(SettingsStore, SettingsKeyIsCreatedByTheFirstWrite) {
    tvn::UniqueHKey existing = ss::OpenForRead();
    const bool existed = static_cast<bool>(existing);
    existing.reset();
    {
        tvn::UniqueHKey writable = ss::CreateForWrite();
        ASSERT_TRUE(writable);
        ASSERT_EQ(ERROR_SUCCESS, ss::WriteInteger(writable.get(), L"TolvaneTestValue", 42));
    }
    tvn::UniqueHKey readable = ss::OpenForRead();
    ASSERT_TRUE(readable);
    EXPECT_EQ(42, ss::ReadInteger(readable.get(), L"TolvaneTestValue", 0));
    RegDeleteValueW(readable.get(), L"TolvaneTestValue");
    readable.reset();
    if (!existed) {
        RegDeleteKeyW(HKEY_CURRENT_USER, ss::kKeyPath);
    }
}

TEST(SettingsStore, AutostartEntry) {
    EXPECT_EQ(L"C:\\Program Files\\Tolvane\\TVN Cache.exe",
              ss::CacheServerPathBeside(L"C:\\Program Files\\Tolvane\\TVN Properties.exe"));

    const std::wstring path = L"C:\\Program Files\\Tolvane\\TVN Cache.exe";
    ASSERT_EQ(ERROR_SUCCESS, ss::SetAutostart(path.c_str()));
    EXPECT_TRUE(ss::IsAutostartSet());
    {
        tvn::UniqueHKey run;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, ss::kRunKeyPath, 0,
                                               KEY_READ | KEY_SET_VALUE, run.put()));
        wchar_t data[300] = {};
        DWORD size = sizeof(data);
        DWORD type = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(run.get(), L"TVNCache", nullptr, &type,
                                                  reinterpret_cast<BYTE*>(data), &size));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ((path.size() + 3) * sizeof(wchar_t), size);
        EXPECT_EQ(L"\"" + path + L"\"", data);
        // An entry written unquoted (by an earlier version) is just as present.
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(run.get(), L"TVNCache", 0, REG_SZ,
                                                reinterpret_cast<const BYTE*>(path.c_str()),
                                                DWORD((path.size() + 1) * sizeof(wchar_t))));
        EXPECT_TRUE(ss::IsAutostartSet());
    }
    EXPECT_EQ(ERROR_SUCCESS, ss::RemoveAutostart());
    EXPECT_FALSE(ss::IsAutostartSet());
    EXPECT_EQ(ERROR_SUCCESS, ss::RemoveAutostart());  // already gone

    // A path longer than the 260-unit query buffer is still an entry that is there.
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'd') + L"\\TVN Cache.exe";
    ASSERT_EQ(ERROR_SUCCESS, ss::SetAutostart(longPath.c_str()));
    EXPECT_TRUE(ss::IsAutostartSet());
    EXPECT_EQ(ERROR_SUCCESS, ss::RemoveAutostart());
    EXPECT_FALSE(ss::IsAutostartSet());

    EXPECT_EQ(ERROR_INVALID_PARAMETER, ss::SetAutostart(L""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, ss::SetAutostart(L"C:\\a\" /x \"b.exe"));
    EXPECT_FALSE(ss::IsAutostartSet());
}

namespace {
UINT g_received = 0;
WPARAM g_wParam = 0;
UINT g_watched = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_watched != 0 && message == g_watched) {
        ++g_received;
        g_wParam = wParam;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

TEST(SettingsStore, ConfigUpdateMessageReachesTopLevelWindows) {
    UINT message = ss::RegisterConfigUpdateMessage();
    ASSERT_GE(message, 0xC000u);
    EXPECT_EQ(message,
              RegisterWindowMessageW(L"TVNConfigUpdate.{67642CC8-3FC3-405e-9158-30E53B20D7A2}"));

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TolvaneTestListener";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"TolvaneTestListener", L"listener", WS_OVERLAPPED, 0, 0, 10,
                                  10, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, window);
    g_watched = message;
    g_received = 0;
    ss::BroadcastConfigUpdate(message);
    EXPECT_EQ(1u, g_received);
    EXPECT_EQ(1u, g_wParam);
    DestroyWindow(window);
    g_watched = 0;
}

TEST(SettingsStore, SeparatorTextRule) {
    struct Case {
        const wchar_t* text;
        wchar_t stored;
        const wchar_t* shown;  // what loading the stored character shows
    };
    const Case cases[] = {
        {L"Don't use", 0, L"Don't use"},
        {L"DON'T USE", 0, L"Don't use"},
        {L"Space", L' ', L"Space"},
        {L"sPaCe", L' ', L"Space"},
        {L".", L'.', L"."},
        {L"xyz", L'x', L"x"},
        {L"", 0, L"Don't use"},
        {nullptr, 0, L"Don't use"},
        {L"Don't", L'D', L"D"},
        {L"`", L'`', L"`"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text ? c.text : L"(null)")));
        EXPECT_EQ(ss::SeparatorFromText(c.text), c.stored);
        wchar_t shown[ss::kSeparatorTextUnits] = {};
        ss::SeparatorToText(c.stored, shown);
        EXPECT_EQ(std::wstring(shown), c.shown);
    }
}

TEST(SettingsStore, WindowSubPosForms) {
    ScratchKey key;
    ASSERT_EQ(ERROR_SUCCESS, ss::WriteWindowSubPos(key.get(), -3000, 5000, SW_SHOWMAXIMIZED));
    DWORD type = 0;
    std::vector<BYTE> expected = Bytes<LONG>(-3000);
    for (BYTE b : Bytes<LONG>(5000))
        expected.push_back(b);
    for (BYTE b : Bytes<UINT>(SW_SHOWMAXIMIZED))
        expected.push_back(b);
    EXPECT_EQ(expected, key.Raw(ss::kWindowSubPos, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);

    ss::WindowSubPos read;
    ASSERT_EQ(ERROR_SUCCESS, ss::ReadWindowSubPos(key.get(), read));
    EXPECT_EQ(read.form, ss::WindowSubPos::Form::Position);
    EXPECT_EQ(read.left, -3000);
    EXPECT_EQ(read.top, 5000);
    EXPECT_EQ(read.showCmd, static_cast<UINT>(SW_SHOWMAXIMIZED));

    WINDOWPLACEMENT placement{};
    placement.length = sizeof(placement);
    placement.showCmd = SW_SHOWNORMAL;
    placement.rcNormalPosition = {10, -400, 310, -100};
    key.Put(ss::kWindowSubPos, REG_BINARY, &placement, sizeof(placement));
    ASSERT_EQ(ERROR_SUCCESS, ss::ReadWindowSubPos(key.get(), read));
    EXPECT_EQ(read.form, ss::WindowSubPos::Form::Placement);
    EXPECT_EQ(read.placement.rcNormalPosition.top, -400);
    EXPECT_EQ(read.placement.rcNormalPosition.right, 310);

    struct Unusable {
        size_t bytes;
        LSTATUS result;
    };
    for (Unusable u : {Unusable{8, ERROR_INVALID_DATA}, Unusable{13, ERROR_INVALID_DATA},
                       Unusable{0, ERROR_INVALID_DATA}, Unusable{50, ERROR_MORE_DATA}}) {
        SCOPED_TRACE(u.bytes);
        std::vector<BYTE> data(u.bytes, 0x11);
        key.Put(ss::kWindowSubPos, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
        EXPECT_EQ(u.result, ss::ReadWindowSubPos(key.get(), read));
    }
    RegDeleteValueW(key.get(), ss::kWindowSubPos);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ss::ReadWindowSubPos(key.get(), read));
}

TEST(SettingsStore, EachReaderTakesItsOwnCapacities) {
    // The same stored values read by every reader: a title of 100 units fits the properties
    // program only, a 4-byte Separator only the properties program, and values a reader does
    // not read keep what it held (a long-lived reader keeps its last value).
    ScratchKey key;
    const std::wstring title100(100, L'T');
    std::vector<BYTE> titleBytes = TextBytes(title100);
    key.Put(ss::kColumnTitle, REG_BINARY, titleBytes.data(), static_cast<DWORD>(titleBytes.size()));
    std::vector<BYTE> separator = TextBytes(L",");  // 4 bytes
    key.Put(ss::kSeparator, REG_BINARY, separator.data(), static_cast<DWORD>(separator.size()));
    DWORD style = 2;
    key.Put(ss::kViewStyle, REG_DWORD, &style, sizeof(style));
    int64_t cacheAll = 1;
    key.Put(ss::kCacheAll, REG_BINARY, &cacheAll, sizeof(cacheAll));
    const wchar_t symbol[] = {L'#', L'X'};  // 4 bytes, the second unit not zero
    key.Put(ss::kPB_Symbol, REG_BINARY, symbol, sizeof(symbol));

    ss::Settings cell;
    cell.cacheAll = 7;  // not a cell value: stays
    ss::Read(key.get(), ss::kColumnCellReads, cell);
    EXPECT_EQ(cell.viewStyle, tvn::ViewStyle::FoldersOnly);
    EXPECT_EQ(cell.separator, L' ') << "4 bytes do not fit the provider's 2";
    EXPECT_EQ(cell.cacheAll, 7);
    EXPECT_EQ(std::wstring(cell.pbSymbol), L"#") << "the symbol is always one terminated unit";
    ss::Read(key.get(), ss::kColumnTitleReads, cell);
    EXPECT_EQ(std::wstring(cell.columnTitle), L"VudaZe");

    ss::Settings properties;
    ss::Read(key.get(), ss::kPropertiesReads, properties);
    EXPECT_EQ(std::wstring(properties.columnTitle), title100);
    EXPECT_EQ(properties.separator, L',');
    EXPECT_EQ(properties.cacheAll, 1);
    EXPECT_EQ(std::wstring(properties.pbSymbol), L"#");

    ss::Settings toolbar;
    ss::Read(key.get(), ss::kToolbarReads, toolbar);
    EXPECT_EQ(toolbar.viewStyle, tvn::ViewStyle::FoldersOnly);
    EXPECT_EQ(toolbar.separator, L' ');
    EXPECT_EQ(toolbar.cacheAll, ss::kDefaultCacheAll);

    ss::Settings server;
    ss::Read(key.get(), ss::kCacheServerReads, server);
    EXPECT_EQ(server.cacheAll, 1);
    EXPECT_EQ(server.viewStyle, ss::kDefaultViewStyle);
}
