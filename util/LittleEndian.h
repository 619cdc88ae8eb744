#pragma once
// Little-endian field getters for ZIP structures (APPNOTE 4.4: all values are LE).
#include <cstdint>

namespace pellux::le {

inline std::uint16_t U16(const unsigned char *p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

inline std::uint32_t U32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t U64(const unsigned char *p)
{
    return static_cast<std::uint64_t>(U32(p)) | (static_cast<std::uint64_t>(U32(p + 4)) << 32);
}

} // namespace pellux::le
