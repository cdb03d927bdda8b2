// Floating-point values converted to an integer type without undefined behaviour.
#pragma once

#include <cmath>
#include <limits>
#include <type_traits>

// Truncated toward zero and held within the range of To; NaN gives 0.
template <typename To, typename From> To SaturatingCast(From value) {
    static_assert(std::is_integral_v<To> && std::is_floating_point_v<From>);
    if (std::isnan(value))
        return 0;
    if (value <= static_cast<From>(std::numeric_limits<To>::min()))
        return std::numeric_limits<To>::min();
    // The maximum as a floating-point value may round up to 2^bits, which no value of To reaches.
    if (value >= static_cast<From>(std::numeric_limits<To>::max()))
        return std::numeric_limits<To>::max();
    return static_cast<To>(value);
}
