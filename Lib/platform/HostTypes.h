// Types at the host boundary and the framework's word types.
//
// The host hands 32-bit words by address: those are uint32_t here. Inside the framework the
// design's "unsigned 32-bit" words (result codes, ids, thread ids, event numbers) use DWORD, a type
// of its own so that the call log tags them "a" like the design does; it is wider than 32 bits on
// this port and never stands behind a host pointer.
#pragma once

#include <cstdint>

using DWORD = unsigned long;
using HostWord = uint32_t;
using DeviceIDType = uint16_t;
using HostWindow = void *;

namespace Platform {
// Win32-style wait results.
constexpr DWORD WaitObject0 = 0x00000000;
constexpr DWORD WaitAbandoned = 0x00000080;
constexpr DWORD WaitTimeout = 0x00000102;
// The calling thread's call was cancelled before the wait got what it waited for (the value of
// Win32's WAIT_IO_COMPLETION, a wait ended from outside).
constexpr DWORD WaitCancelled = 0x000000C0;
constexpr DWORD WaitFailed = 0xFFFFFFFF;
constexpr DWORD Infinite = 0xFFFFFFFF;
} // namespace Platform

// Marks a function that the host calls by name.
#define PONTIS_EXPORT extern "C" __attribute__((visibility("default")))
