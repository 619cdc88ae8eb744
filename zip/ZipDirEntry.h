#pragma once
// One archive entry as the component holds it: the 26 fixed bytes of a ZIP local file
// header (APPNOTE 4.3.7, after the signature) followed by the stored name.
#include <cstdint>
#include <string>

namespace pellux {

struct ZipDirEntry {
    std::uint16_t VersionNeeded = 0;      // version needed to extract
    std::uint16_t GeneralPurposeFlag = 0; // general purpose bit flag
    std::uint16_t CompressionMethod = 0;
    std::uint32_t DosDateTime = 0; // time in the low 16 bits, date in the high 16
    std::uint32_t Crc32 = 0;
    std::uint32_t CompressedSize = 0;
    std::uint32_t UncompressedSize = 0;
    std::uint16_t FileNameLength = 0;
    std::uint16_t ExtraFieldLength = 0;
    // The name bytes exactly as stored (no code-page conversion, separators kept),
    // cut at the first NUL.
    std::string FileName;

    static constexpr std::size_t kFixedSize = 26;
    // Fills the fixed fields from the 26 bytes that follow a local header signature.
    void DecodeFixed(const unsigned char (&fixed)[kFixedSize]);
};

} // namespace pellux
