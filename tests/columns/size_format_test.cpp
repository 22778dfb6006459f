// Cell texts of the size, sorting and bar columns.
#include "size_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <limits>
#include <string>

namespace tvn {
namespace {

constexpr uint64_t kMaxCount = std::numeric_limits<uint64_t>::max();
constexpr int64_t kBytes = static_cast<int64_t>(ViewMetric::Bytes);
constexpr int64_t kKB = static_cast<int64_t>(ViewMetric::KBytes);
constexpr int64_t kMB = static_cast<int64_t>(ViewMetric::MBytes);
constexpr int64_t kGB = static_cast<int64_t>(ViewMetric::GBytes);
constexpr int64_t kAuto = static_cast<int64_t>(ViewMetric::Auto);
constexpr int64_t kBoth = static_cast<int64_t>(PB_Style::ValueAndBar);
constexpr int64_t kValue = static_cast<int64_t>(PB_Style::ValueOnly);
constexpr int64_t kBar = static_cast<int64_t>(PB_Style::BarOnly);
constexpr wchar_t kBullet = L'\x2022';

// Formats into a full cell buffer pre-filled with a marker, so a false result can be checked
// for leaving the buffer untouched.
struct Cell {
    bool ok;
    std::wstring text;
};

Cell Size(uint64_t size, int64_t unit, int64_t decimals, wchar_t separator = L' ') {
    wchar_t out[kCellTextChars] = L"untouched";
    const bool ok =
        FormatSizeText(size, ViewMetric{unit}, decimals, separator, out, kCellTextChars);
    return {ok, out};
}

Cell Bar(uint64_t size, uint64_t parent, int64_t style, wchar_t symbol = kBullet) {
    wchar_t out[kCellTextChars] = L"untouched";
    const bool ok = FormatBarText(size, parent, PB_Style{style}, symbol, out, kCellTextChars);
    return {ok, out};
}

std::wstring Bullets(size_t count) {
    return std::wstring(count, kBullet);
}

struct SizeCase {
    uint64_t size;
    int64_t unit;
    int64_t decimals;
    wchar_t separator;
    const wchar_t* text;
};

void ExpectSizeTexts(const SizeCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const SizeCase& c = cases[i];
        const Cell cell = Size(c.size, c.unit, c.decimals, c.separator);
        EXPECT_TRUE(cell.ok) << "row " << i;
        EXPECT_EQ(cell.text, c.text) << "row " << i << ": size " << c.size << " unit " << c.unit
                                     << " decimals " << c.decimals;
    }
}

TEST(SizeText, UnitsDecimalsAndGrouping) {
    const SizeCase cases[] = {
        {0, kKB, 0, L' ', L"0 KB"},
        {1, kKB, 0, L' ', L"0 KB"},
        {512, kKB, 1, L' ', L"0.5 KB"},
        {1536, kKB, 0, L' ', L"2 KB"},
        {2560, kKB, 0, L' ', L"3 KB"},
        {1234560, kKB, 2, L' ', L"1 205.63 KB"},
        {1234567, kBytes, 2, L' ', L"1 234 567"},
        {1234567, kKB, 0, L' ', L"1 206 KB"},
        {1234567, kKB, 2, L' ', L"1 205.63 KB"},
        {1234567, kKB, 2, L'.', L"1.205.63 KB"},
        {1234567, kKB, 2, L',', L"1,205.63 KB"},
        {1234567, kKB, 2, 0, L"1205.63 KB"},
        {1234567, kMB, 2, L' ', L"1.18 MB"},
        {1234567, kGB, 3, L' ', L"0.001 GB"},
        {1234567, kAuto, 1, L' ', L"1.2 MB"},
        {123456789012, kBytes, 0, L'\'', L"123'456'789'012"},
        {123456789012, kGB, 1, L' ', L"115.0 GB"},
        {1023, kAuto, 2, L' ', L"1 023"},
        {1024, kAuto, 0, L' ', L"1 KB"},
        {1024, kAuto, 2, L' ', L"1.00 KB"},
        {1048575, kAuto, 0, L' ', L"1 024 KB"},
        {5000000000000, kAuto, 2, L' ', L"4.55 TB"},
        {5000000000000, kKB, 0, L' ', L"4 882 812 500 KB"},
        {1536ull << 40, kAuto, 0, L' ', L"1 536 TB"},
        {999, kBytes, 0, L' ', L"999"},
        {1000, kBytes, 0, L'`', L"1`000"},
        {0, kBytes, 0, L' ', L"0"},
        {0, kAuto, 3, L' ', L"0"},
        {0, kGB, 2, L' ', L"0.00 GB"},
    };
    ExpectSizeTexts(cases, std::size(cases));
}

// Exact halves round away from zero; a runtime that rounds ties to even would show the lower
// digit in every row.
TEST(SizeText, HalfwayRoundsAwayFromZero) {
    const SizeCase cases[] = {
        {512, kKB, 0, L' ', L"1 KB"},                      // 0.5
        {2560, kKB, 0, L' ', L"3 KB"},                     // 2.5
        {1152, kKB, 2, L' ', L"1.13 KB"},                  // 1.125
        {1234560, kKB, 2, 0, L"1205.63 KB"},               // 1205.625
        {2621440, kAuto, 0, L' ', L"3 MB"},                // 2.5 MB
        {536870912, kGB, 0, L' ', L"1 GB"},                // 0.5 GB
        {2748779069440, kAuto, 0, L' ', L"3 TB"},          // 2.5 TB
        {1023488, kKB, 0, L' ', L"1 000 KB"},              // 999.5: the carry adds a group
        {1048575, kKB, 2, L' ', L"1 024.00 KB"},           // 1023.9990234375
        {1048575, kKB, 10, L' ', L"1 023.9990234375 KB"},  // exact, no rounding
        {1234567, kKB, 7, L' ', L"1 205.6318359 KB"},      // above the offered range, used as is
    };
    ExpectSizeTexts(cases, std::size(cases));
}

// Counts beyond 2^53 show the double they convert to; at or above 2^63 the conversion goes
// through a signed value lifted by 2^64, which can round differently from a direct one.
TEST(SizeText, LargestCounts) {
    const SizeCase cases[] = {
        {kMaxCount, kBytes, 0, L' ', L"18 446 744 073 709 551 616"},
        {kMaxCount, kKB, 0, L' ', L"18 014 398 509 481 984 KB"},
        {kMaxCount, kAuto, 2, L' ', L"16 777 216.00 TB"},
        {kMaxCount, kGB, 0, 0, L"17179869184 GB"},
        {(3ull << 62) + 1025, kBytes, 0, 0, L"13835058055282163712"},
        {(1ull << 53) + 1, kBytes, 0, 0, L"9007199254740992"},
    };
    ExpectSizeTexts(cases, std::size(cases));
}

TEST(SizeText, DecimalsAreClampedToWhatFits) {
    const SizeCase cases[] = {
        {1234567, kKB, -1, L' ', L"1 206 KB"},
        {1234567, kKB, std::numeric_limits<int64_t>::min(), L' ', L"1 206 KB"},
    };
    ExpectSizeTexts(cases, std::size(cases));

    // The longest text a cell holds: every decimal beyond the exact value is a zero.
    for (int64_t decimals :
         {int64_t{250}, int64_t{251}, int64_t{100000}, std::numeric_limits<int64_t>::max()}) {
        const Cell cell = Size(1234567, kKB, decimals);
        ASSERT_TRUE(cell.ok) << decimals;
        ASSERT_EQ(cell.text.size(), kCellTextChars - 1) << decimals;
        EXPECT_EQ(cell.text.substr(0, 16), L"1 205.6318359375");
        EXPECT_EQ(cell.text.substr(16), std::wstring(240, L'0') + L" KB");
    }
    const Cell widest = Size(kMaxCount, kBytes, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(widest.text, L"18 446 744 073 709 551 616");
}

TEST(SizeText, UnknownUnitWritesNothing) {
    for (int64_t unit : {int64_t{5}, int64_t{-1}, int64_t{100}, std::numeric_limits<int64_t>::min(),
                         std::numeric_limits<int64_t>::max()}) {
        const Cell cell = Size(1234567, unit, 0);
        EXPECT_FALSE(cell.ok) << unit;
        EXPECT_EQ(cell.text, L"untouched") << unit;
    }
}

TEST(SortText, PlainDigits) {
    const struct {
        uint64_t size;
        const wchar_t* text;
    } cases[] = {{0, L"0"}, {7, L"7"}, {1234567, L"1234567"}, {kMaxCount, L"18446744073709551615"}};
    for (const auto& c : cases) {
        wchar_t out[kCellTextChars] = L"untouched";
        EXPECT_TRUE(FormatSortText(c.size, out, kCellTextChars));
        EXPECT_STREQ(out, c.text);
    }
}

TEST(PlainSortPadding, RightAlignsToTwentyUnits) {
    const struct {
        const wchar_t* text;
        std::wstring padded;
    } cases[] = {
        {L"1234567", std::wstring(13, L' ') + L"1234567"},
        {L"1 206 KB", std::wstring(12, L' ') + L"1 206 KB"},
        {L"", std::wstring(20, L' ')},
        {L"1234567890123456789", L" 1234567890123456789"},
        {L"12345678901234567890", L"12345678901234567890"},
        {L"18 446 744 073 709 551 616", L"18 446 744 073 709 551 616"},
    };
    for (const auto& c : cases) {
        wchar_t buffer[kCellTextChars];
        wcscpy(buffer, c.text);
        EXPECT_TRUE(PadForPlainSort(buffer, kCellTextChars)) << c.text;
        EXPECT_EQ(std::wstring(buffer), c.padded) << c.text;
    }
}

TEST(PlainSortPadding, RefusesWhatWouldOverrun) {
    EXPECT_FALSE(PadForPlainSort(nullptr, kCellTextChars));

    wchar_t exact[21] = L"12";  // room for 20 units and the terminator
    EXPECT_TRUE(PadForPlainSort(exact, std::size(exact)));
    EXPECT_EQ(std::wstring(exact), std::wstring(18, L' ') + L"12");

    wchar_t tight[20] = L"12";
    EXPECT_FALSE(PadForPlainSort(tight, std::size(tight)));
    EXPECT_STREQ(tight, L"12");

    wchar_t unterminated[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_FALSE(PadForPlainSort(unterminated, std::size(unterminated)));
    EXPECT_EQ(unterminated[0], L'a');
}

TEST(BarText, BarAndPercentage) {
    const struct {
        uint64_t size;
        uint64_t parent;
        int64_t style;
        std::wstring text;
    } cases[] = {
        {1, 3, kBoth, Bullets(16) + L" 33.33 %"},
        {2, 3, kBoth, Bullets(33) + L" 66.67 %"},
        {3, 3, kBoth, Bullets(50) + L" 100.00 %"},
        {0, 3, kBoth, L" 0.00 %"},
        {10, 1000, kBoth, L" 1.00 %"},
        {250, 1000, kBoth, Bullets(12) + L" 25.00 %"},
        {1, 3, kValue, L" 33.33 %"},
        {1, 3, kBar, Bullets(16)},
        {0, 3, kBar, L""},
        {1, 3, 3, Bullets(16) + L" 33.33 %"},  // unknown styles show both
        {1, 3, -1, Bullets(16) + L" 33.33 %"},
        {1, 800, kValue, L" 0.13 %"},                // 0.125 exactly: half away from zero
        {6, 3, kBoth, Bullets(100) + L" 200.00 %"},  // item larger than a stale parent size
        // Products beyond 64 bits: the share of 2^62 in 2^63 is still one half.
        {1ull << 62, 1ull << 63, kBoth, Bullets(25) + L" 50.00 %"},
        {kMaxCount, kMaxCount, kBoth, Bullets(50) + L" 100.00 %"},
    };
    for (const auto& c : cases) {
        const Cell cell = Bar(c.size, c.parent, c.style);
        EXPECT_TRUE(cell.ok) << c.size << "/" << c.parent;
        EXPECT_EQ(cell.text, c.text) << c.size << "/" << c.parent << " style " << c.style;
    }
}

TEST(BarText, SymbolIsTheChosenCharacter) {
    EXPECT_EQ(Bar(2, 10, kBoth, L'#').text, L"########## 20.00 %");
    EXPECT_EQ(Bar(2, 10, kBoth, L'|').text, L"|||||||||| 20.00 %");
    // A zero symbol would end the text at the bar; it draws no bar instead.
    EXPECT_EQ(Bar(2, 10, kBoth, 0).text, L" 20.00 %");
}

TEST(BarText, OverlongBarIsCutToTheCell) {
    const std::wstring percent = L" 1844674407370955161600.00 %";
    const Cell both = Bar(kMaxCount, 1, kBoth);
    ASSERT_TRUE(both.ok);
    EXPECT_EQ(both.text, Bullets(kCellTextChars - 1 - percent.size()) + percent);

    const Cell barOnly = Bar(kMaxCount, 1, kBar);
    ASSERT_TRUE(barOnly.ok);
    EXPECT_EQ(barOnly.text, Bullets(kCellTextChars - 1));

    EXPECT_EQ(Bar(1000, 100, kBoth).text, Bullets(259 - 10) + L" 1000.00 %");
}

TEST(BarText, ParentOfZeroWritesNothing) {
    const Cell cell = Bar(5, 0, kBoth);
    EXPECT_FALSE(cell.ok);
    EXPECT_EQ(cell.text, L"untouched");
}

// Every function writes a text only when it fits the caller's buffer, terminator included.
TEST(CellBuffers, ShortOrMissingBuffersAreRefused) {
    const std::wstring fill(8, L'x');
    struct Call {
        const char* name;
        bool (*format)(wchar_t* out, size_t outChars);
        size_t length;  // of the text the call produces
    };
    const Call calls[] = {
        {"size",
         [](wchar_t* o, size_t n) {
             return FormatSizeText(1234567, ViewMetric::KBytes, 0, L' ', o, n);
         },
         8},
        {"sort", [](wchar_t* o, size_t n) { return FormatSortText(1234567, o, n); }, 7},
        {"bar",
         [](wchar_t* o, size_t n) {
             return FormatBarText(1, 2, PB_Style::ValueAndBar, L'|', o, n);
         },
         33},
    };
    for (const Call& call : calls) {
        EXPECT_FALSE(call.format(nullptr, kCellTextChars)) << call.name;

        wchar_t exact[64];
        EXPECT_TRUE(call.format(exact, call.length + 1)) << call.name;
        EXPECT_EQ(wcslen(exact), call.length) << call.name;

        wchar_t tight[64];
        std::fill(tight, tight + 64, L'x');
        EXPECT_FALSE(call.format(tight, call.length)) << call.name;
        EXPECT_FALSE(call.format(tight, 0)) << call.name;
        EXPECT_EQ(std::wstring(tight, 8), fill) << call.name << ": buffer changed";
    }
}

}  // namespace
}  // namespace tvn
