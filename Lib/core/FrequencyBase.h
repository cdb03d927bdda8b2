// Fixed-point frequency: an exact signed 64-bit count of 10^-N units. With N = 9 and the
// framework's MHz the raw value counts milli-hertz, so frequencies compare and print exactly.
#pragma once

#include "core/Saturating.h"
#include "platform/HostTypes.h"

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

template <unsigned N> class FrequencyBase {
public:
    FrequencyBase() = default;
    // The frequency in the type's unit (MHz for N = 9).
    explicit FrequencyBase(const double &value) : mRaw(ToRaw(value)) {}

    // Scaled and rounded half away from zero; NaN gives 0, anything beyond the 64-bit range the
    // nearest end of that range.
    static int64_t ToRaw(const double &value);
    double ToDouble() const { return static_cast<double>(mRaw) / std::round(std::pow(10.0, N)); }
    static DWORD GetDecimals() { return N; }
    int64_t GetRaw() const { return mRaw; }

    // Decimal text with at most digitLimit decimals (rounded half away from zero when cut),
    // trailing zeros and a trailing point removed.
    static std::string ToText(const FrequencyBase &value, DWORD digitLimit);

private:
    int64_t mRaw = 0;
};

template <unsigned N> int64_t FrequencyBase<N>::ToRaw(const double &value) {
    return SaturatingCast<int64_t>(std::round(std::round(std::pow(10.0, N)) * value));
}

template <unsigned N> std::string FrequencyBase<N>::ToText(const FrequencyBase &value, DWORD digitLimit) {
    const DWORD decimals = GetDecimals();
    const bool negative = value.mRaw < 0;
    // Magnitude in unsigned arithmetic: INT64_MIN has no positive counterpart.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.mRaw) : static_cast<uint64_t>(value.mRaw);
    if (digitLimit < decimals) {
        uint64_t half = 5;
        for (DWORD i = digitLimit + 1; i < decimals; ++i)
            half *= 10;
        magnitude += half;
    }
    std::string text = std::to_string(magnitude);
    if (text.size() < decimals + 1)
        text.insert(0, decimals + 1 - text.size(), '0');
    const size_t point = text.size() - decimals;
    text.insert(point, 1, '.');
    const size_t kept = digitLimit < decimals ? digitLimit : decimals;
    text.resize(point + 1 + kept);
    while (text.size() > 1 && text.back() == '0')
        text.pop_back();
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    if (negative && text != "0")
        text.insert(0, 1, '-');
    return text;
}

extern template class FrequencyBase<9>;

// Every significant decimal.
std::ostream &operator<<(std::ostream &stream, const FrequencyBase<9> &frequency);
