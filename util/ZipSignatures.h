#pragma once
#include <cstdint>

namespace pellux::sig {
inline constexpr std::uint32_t kLocalHeader = 0x04034B50;     // "PK" 03 04
inline constexpr std::uint32_t kCentralHeader = 0x02014B50;   // "PK" 01 02
inline constexpr std::uint32_t kEndOfCentralDir = 0x06054B50; // "PK" 05 06
inline constexpr std::uint32_t kDataDescriptor = 0x08074B50;  // "PK" 07 08
inline constexpr std::uint32_t kZip64EndOfCentralDir = 0x06064B50;
inline constexpr std::uint32_t kZip64Locator = 0x07064B50;
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint32_t kEndOfCentralDirSize = 22;
} // namespace pellux::sig
