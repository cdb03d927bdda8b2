// What tests may ask the language-resource stand-in beyond the library's own entry points.
#pragma once

#include <cstdint>

extern "C" {
// How many times the resource is loaded right now (loads minus unloads).
int32_t toviklangStandInResourceLoads(uint32_t resourceNumber);
}

namespace TovikLangStandIn {
using ResourceLoadsFunction = decltype(&::toviklangStandInResourceLoads);
// A resource whose texts exercise the caller's handling of the returned count.
constexpr uint32_t ProbeResource = 9000;
constexpr uint32_t ProbeArguments = 1;       // "Value %1 of %2, %10."
constexpr uint32_t ProbeCountPastBuffer = 2; // "short", count larger than the buffer
constexpr uint32_t ProbeCountPastNul = 3;    // "abc", NUL, "def", count 7
constexpr uint32_t ProbeNegativeCount = 4;   // "neg", count -5
constexpr uint32_t ProbeZeroCount = 5;       // "ignored", count 0
} // namespace TovikLangStandIn
