// Number texts are produced here from the exact binary value of each double rather than by a C
// runtime's printf: runtimes round halfway cases differently (ties to even in some, away from
// zero in others), and a cell must read the same on every system.
#include "size_format.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cwchar>

namespace tvn {
namespace {

// Longest text a cell can hold, terminator excluded.
constexpr size_t kMaxTextLength = kCellTextChars - 1;

// The exact decimal expansion of a finite non-negative double. A double is m * 2^e exactly:
// for e >= 0 that is the integer m * 2^e; for e < 0 it is m * 5^-e / 10^-e, the digits of the
// integer m * 5^-e with the point -e places from the right. The integer is held in base 10^9
// limbs; the largest case (a subnormal, m * 5^1074) has fewer than 770 digits.
class ExactDecimal {
  public:
    explicit ExactDecimal(double value) {
        const uint64_t bits = std::bit_cast<uint64_t>(value);
        const int biased = static_cast<int>((bits >> 52) & 0x7ff);
        uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
        int exponent = -1074;
        if (biased != 0) {
            mantissa |= uint64_t{1} << 52;
            exponent = biased - 1075;
        }
        // Fewer fraction digits to carry around; the value is unchanged.
        while (mantissa != 0 && (mantissa & 1) == 0 && exponent < 0) {
            mantissa >>= 1;
            ++exponent;
        }
        for (uint64_t rest = mantissa; rest != 0; rest /= kLimbBase) {
            limbs_[used_++] = static_cast<uint32_t>(rest % kLimbBase);
        }
        if (exponent >= 0) {
            for (int left = exponent; left > 0; left -= 32) {
                Multiply(uint64_t{1} << std::min(left, 32));
            }
        } else {
            constexpr uint64_t kFivePow13 = 1220703125;  // the largest power of 5 below 2^32
            int left = -exponent;
            for (; left >= 13; left -= 13) {
                Multiply(kFivePow13);
            }
            uint64_t factor = 1;
            for (; left > 0; --left) {
                factor *= 5;
            }
            Multiply(factor);
            fractionDigits_ = -exponent;
        }
        SpellDigits();
    }

    // Digits before the point, at least one (a value below 1 has the single digit 0).
    int IntegerDigits() const { return std::max(digitCount_ - fractionDigits_, 1); }

    // The digit worth 10^place (place -1 is the first after the point); 0 outside the expansion.
    int DigitAt(int place) const {
        const int index = digitCount_ - 1 - fractionDigits_ - place;
        if (index < 0 || index >= digitCount_) {
            return 0;
        }
        return digits_[index] - '0';
    }

  private:
    static constexpr uint64_t kLimbBase = 1000000000;
    static constexpr int kMaxLimbs = 90;

    // factor <= 2^32, so limb * factor + carry stays below 2^64.
    void Multiply(uint64_t factor) {
        uint64_t carry = 0;
        for (int i = 0; i < used_; ++i) {
            const uint64_t product = limbs_[i] * factor + carry;
            limbs_[i] = static_cast<uint32_t>(product % kLimbBase);
            carry = product / kLimbBase;
        }
        while (carry != 0 && used_ < kMaxLimbs) {
            limbs_[used_++] = static_cast<uint32_t>(carry % kLimbBase);
            carry /= kLimbBase;
        }
    }

    void SpellDigits() {
        if (used_ == 0) {
            digits_[0] = '0';
            digitCount_ = 1;
            fractionDigits_ = 0;
            return;
        }
        for (int i = used_ - 1; i >= 0; --i) {
            char group[9];
            uint32_t limb = limbs_[i];
            for (int j = 8; j >= 0; --j) {
                group[j] = static_cast<char>('0' + limb % 10);
                limb /= 10;
            }
            int first = 0;
            if (i == used_ - 1) {  // the leading limb without its leading zeros
                while (first < 8 && group[first] == '0') {
                    ++first;
                }
            }
            for (int j = first; j < 9; ++j) {
                digits_[digitCount_++] = group[j];
            }
        }
    }

    uint32_t limbs_[kMaxLimbs] = {};
    int used_ = 0;
    char digits_[kMaxLimbs * 9] = {};
    int digitCount_ = 0;
    int fractionDigits_ = 0;
};

size_t GroupedLength(size_t integerDigits, wchar_t separator) {
    return integerDigits + (separator != 0 ? (integerDigits - 1) / 3 : 0);
}

// Writes `value` rounded half away from zero to `decimals` places, the integer digits grouped
// in threes by `separator` (0: none), then `suffix`. `out` holds kCellTextChars. Returns the
// length, or 0 when the text would be longer than a cell can hold.
size_t WriteFixed(const ExactDecimal& value, int decimals, wchar_t separator, const wchar_t* suffix,
                  wchar_t* out) {
    // Kept digits, most significant first, with one spare place in front for a carry.
    char kept[1 + 400 + kMaxTextLength];
    const int integerDigits = value.IntegerDigits();
    const int keptCount = integerDigits + decimals;
    if (keptCount + 1 > static_cast<int>(sizeof(kept))) {
        return 0;
    }
    char* digits = kept + 1;
    for (int j = 0; j < keptCount; ++j) {
        digits[j] = static_cast<char>(value.DigitAt(integerDigits - 1 - j));
    }
    // The value is never negative, so half away from zero means: up when the first dropped
    // digit is 5 or more, whatever follows it.
    int shownInteger = integerDigits;
    if (value.DigitAt(-decimals - 1) >= 5) {
        int j = keptCount - 1;
        while (j >= 0 && digits[j] == 9) {
            digits[j--] = 0;
        }
        if (j >= 0) {
            ++digits[j];
        } else {
            *--digits = 1;
            ++shownInteger;
        }
    }

    const size_t suffixLength = std::wcslen(suffix);
    const size_t length = GroupedLength(shownInteger, separator) +
                          (decimals > 0 ? 1 + static_cast<size_t>(decimals) : 0) + suffixLength;
    if (length > kMaxTextLength) {
        return 0;
    }
    size_t at = 0;
    for (int j = 0; j < shownInteger; ++j) {
        if (separator != 0 && j > 0 && (shownInteger - j) % 3 == 0) {
            out[at++] = separator;
        }
        out[at++] = static_cast<wchar_t>(L'0' + digits[j]);
    }
    if (decimals > 0) {
        out[at++] = L'.';  // whatever the locale: the column texts are the system's own
        for (int j = 0; j < decimals; ++j) {
            out[at++] = static_cast<wchar_t>(L'0' + digits[shownInteger + j]);
        }
    }
    std::memcpy(out + at, suffix, (suffixLength + 1) * sizeof(wchar_t));
    return at + suffixLength;
}

// Counts at or above 2^63 are converted as signed and then lifted by 2^64, so every count maps
// to the same double the column has always shown (2^64 - 1 becomes 2^64).
double CountToDouble(uint64_t count) {
    const int64_t asSigned = static_cast<int64_t>(count);
    double value = static_cast<double>(asSigned);
    if (asSigned < 0) {
        value += 18446744073709551616.0;
    }
    return value;
}

bool CopyOut(const wchar_t* text, size_t length, wchar_t* out, size_t outChars) {
    if (out == nullptr || length >= outChars) {
        return false;
    }
    std::memcpy(out, text, length * sizeof(wchar_t));
    out[length] = 0;
    return true;
}

}  // namespace

bool FormatSizeText(uint64_t size, ViewMetric unit, int64_t decimals, wchar_t separator,
                    wchar_t* out, size_t outChars) {
    const double count = CountToDouble(size);
    double value = count;
    const wchar_t* suffix = L"";
    bool showDecimals = true;
    switch (unit) {
        case ViewMetric::Bytes:
            showDecimals = false;
            break;
        case ViewMetric::KBytes:
            value = count * 0x1p-10;
            suffix = L" KB";
            break;
        case ViewMetric::MBytes:
            value = count * 0x1p-20;
            suffix = L" MB";
            break;
        case ViewMetric::GBytes:
            value = count * 0x1p-30;
            suffix = L" GB";
            break;
        case ViewMetric::Auto:
            // The unit follows the unrounded value: 1,048,575 bytes stay "1 024 KB".
            if (count < 1024) {
                showDecimals = false;
                break;
            }
            value = count * 0x1p-10;
            suffix = L" KB";
            if (value >= 1024) {
                value *= 0x1p-10;
                suffix = L" MB";
                if (value >= 1024) {
                    value *= 0x1p-10;
                    suffix = L" GB";
                    if (value >= 1024) {
                        value *= 0x1p-10;
                        suffix = L" TB";  // the largest unit: bigger sizes stay in TB
                    }
                }
            }
            break;
        default:
            return false;
    }

    const ExactDecimal exact(value);
    // Decimals beyond what the cell can hold are cut to the most that fit; a carry that adds
    // an integer digit ("999.99" to "1 000.0") may cost one more.
    int places = 0;
    if (showDecimals && decimals > 0) {
        const int64_t room = static_cast<int64_t>(kMaxTextLength) -
                             static_cast<int64_t>(std::wcslen(suffix)) - 1 -
                             static_cast<int64_t>(GroupedLength(exact.IntegerDigits(), separator));
        places = static_cast<int>(std::max<int64_t>(0, std::min(decimals, room)));
    }
    wchar_t text[kCellTextChars];
    size_t length = WriteFixed(exact, places, separator, suffix, text);
    if (length == 0 && places > 0) {
        length = WriteFixed(exact, places - 1, separator, suffix, text);
    }
    return length != 0 && CopyOut(text, length, out, outChars);
}

bool FormatSortText(uint64_t size, wchar_t* out, size_t outChars) {
    wchar_t reversed[20];
    size_t length = 0;
    do {
        reversed[length++] = static_cast<wchar_t>(L'0' + size % 10);
        size /= 10;
    } while (size != 0);
    wchar_t text[21];
    for (size_t i = 0; i < length; ++i) {
        text[i] = reversed[length - 1 - i];
    }
    return CopyOut(text, length, out, outChars);
}

bool FormatBarText(uint64_t size, uint64_t parentSize, PB_Style barStyle, wchar_t barSymbol,
                   wchar_t* out, size_t outChars) {
    if (parentSize == 0) {
        return false;
    }
    // 128-bit products: size * 100 wraps in 64 bits from about 164 PB on, which would give a
    // bar and a percentage with no relation to the sizes.
    __extension__ typedef unsigned __int128 Wide;
    const bool showBar = barStyle != PB_Style::ValueOnly;
    const bool showValue = barStyle != PB_Style::BarOnly;

    wchar_t percent[1 + kCellTextChars] = {};  // the leading space, then a whole cell
    size_t percentLength = 0;
    if (showValue) {
        // Single precision, as the column has always computed it, shown to two places.
        const float share = static_cast<float>(Wide{size} * 100) / static_cast<float>(parentSize);
        percent[0] = L' ';
        percentLength =
            WriteFixed(ExactDecimal(static_cast<double>(share)), 2, 0, L" %", percent + 1);
        if (percentLength == 0) {
            return false;  // unreachable: the share of two 64-bit counts has at most 22 digits
        }
        ++percentLength;
    }

    wchar_t text[kCellTextChars];
    size_t length = 0;
    if (showBar && barSymbol != 0) {
        // One symbol per whole 2 %. An item larger than a stale parent size may ask for more
        // symbols than fit; the bar is cut so the percentage is always shown in full.
        const Wide wanted = Wide{size} * 50 / parentSize;
        const size_t room = kMaxTextLength - percentLength;
        length = wanted < room ? static_cast<size_t>(wanted) : room;
        std::fill(text, text + length, barSymbol);
    }
    std::memcpy(text + length, percent, percentLength * sizeof(wchar_t));
    length += percentLength;
    return CopyOut(text, length, out, outChars);
}

bool PadForPlainSort(wchar_t* text, size_t textChars) {
    if (text == nullptr) {
        return false;
    }
    size_t length = 0;
    while (length < textChars && text[length] != 0) {
        ++length;
    }
    if (length == textChars) {
        return false;  // not terminated inside its buffer
    }
    if (length >= kPlainSortWidth) {
        return true;
    }
    if (textChars <= kPlainSortWidth) {
        return false;
    }
    const size_t pad = kPlainSortWidth - length;
    std::memmove(text + pad, text, (length + 1) * sizeof(wchar_t));
    std::fill(text, text + pad, L' ');
    return true;
}

}  // namespace tvn
