// Texts of the three size columns: the size in the chosen unit, the plain byte count that sorts
// numerically, the bar with its percentage, and right-alignment for views that compare texts
// plainly. Pure functions over caller-owned fixed buffers: no registry, no file system, no heap.
//
// Every function writes only on success: on a false result the output buffer is left exactly
// as it was, so a caller that cleared it beforehand still holds an empty text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings_store.h"

namespace tvn {

// The unit and bar style take the settings store's enumerations (ViewMetric, PB_Style), which
// hold any 64-bit number a hand-edited value may store.

// Capacity of every cell text, terminating zero included. No text built here is longer than
// kCellTextChars - 1 code units, whatever the inputs.
constexpr size_t kCellTextChars = 260;

// Width that PadForPlainSort right-aligns to.
constexpr size_t kPlainSortWidth = 20;

// The size in `unit` (a ViewMetric value) with `decimals` places and `separator` between
// groups of three integer digits (0: no grouping), e.g. "1 205.63 KB". Bytes, and Auto below
// 1024 bytes, show no decimals and no suffix. Rounding is half away from zero on the exact
// value of the double. Negative `decimals` count as 0; more decimals than the cell text can
// hold are cut to the most that fit. Returns false, writing nothing, when `unit` is not 0 to
// 4, `out` is null, or the text does not fit `outChars` (terminator included).
bool FormatSizeText(uint64_t size, ViewMetric unit, int64_t decimals, wchar_t separator,
                    wchar_t* out, size_t outChars);

// The size as plain decimal digits, e.g. "1234567". False, writing nothing, when `out` is
// null or shorter than the digits and terminator.
bool FormatSortText(uint64_t size, wchar_t* out, size_t outChars);

// The item's share of its folder: one `barSymbol` per whole 2 % (rounded down), then
// " 33.33 %" unless `barStyle` is BarOnly; ValueOnly shows the percentage alone, any other
// style both. A bar longer than the cell text can hold (an item many times larger than a stale
// parent size) is cut so the percentage still fits. A zero `barSymbol` draws no bar. Returns
// false, writing nothing, when `parentSize` is 0, `out` is null or the text does not fit.
bool FormatBarText(uint64_t size, uint64_t parentSize, PB_Style barStyle, wchar_t barSymbol,
                   wchar_t* out, size_t outChars);

// Right-aligns `text` in place to kPlainSortWidth code units with leading spaces; a text of
// that length or longer stays as it is. `textChars` is the capacity of the buffer. Returns
// false, changing nothing, when `text` is null, has no terminator within `textChars`, or the
// padded text would not fit.
bool PadForPlainSort(wchar_t* text, size_t textChars);

}  // namespace tvn
