#pragma once
// What the readers of ZIP records share: the signature test, the saturated field that
// sends a reader to the ZIP64 field, and how much a scan reads at once.
#include <cstddef>
#include <cstdint>

namespace pellux {

inline constexpr std::uint32_t kSaturated32 = 0xFFFFFFFFu;
// Scans for local headers and data descriptors read the file in pieces this large.
inline constexpr std::size_t kScanChunk = 256 << 10;

inline bool HasSignature(const unsigned char *p, int third, int fourth)
{
    return p[0] == 'P' && p[1] == 'K' && p[2] == third && p[3] == fourth;
}

// A record that may follow an entry's data: a local or central header, an end record
// or a ZIP64 end record.
inline bool IsRecordAfterData(const unsigned char *p)
{
    return HasSignature(p, 3, 4) || HasSignature(p, 1, 2) || HasSignature(p, 5, 6) || HasSignature(p, 6, 6);
}

} // namespace pellux
