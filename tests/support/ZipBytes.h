#pragma once
// Builds ZIP structures byte by byte, so malformed archives can be written field by
// field in a test.
#include <cstdint>
#include <string>

namespace pellux::test {

class ZipBytes {
public:
    ZipBytes &U8(std::uint8_t v)
    {
        bytes_.push_back(static_cast<char>(v));
        return *this;
    }
    ZipBytes &U16(std::uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
    ZipBytes &U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    ZipBytes &U64(std::uint64_t v)
    {
        return U32(static_cast<std::uint32_t>(v)).U32(static_cast<std::uint32_t>(v >> 32));
    }
    ZipBytes &Raw(const std::string &text)
    {
        bytes_ += text;
        return *this;
    }
    ZipBytes &Fill(std::size_t count, char c)
    {
        bytes_.append(count, c);
        return *this;
    }

    // A complete local header with no extra field and stored data.
    ZipBytes &LocalHeader(const std::string &name, const std::string &data, std::uint32_t dosDateTime = 0x5B2C6000)
    {
        U32(0x04034B50);                              // local file header signature
        U16(10);                                      // version needed to extract
        U16(0);                                       // general purpose bit flag
        U16(0);                                       // compression method: stored
        U32(dosDateTime);                             // last mod time and date
        U32(0);                                       // crc-32 (not checked by the lister)
        U32(static_cast<std::uint32_t>(data.size())); // compressed size
        U32(static_cast<std::uint32_t>(data.size())); // uncompressed size
        U16(static_cast<std::uint16_t>(name.size())); // file name length
        U16(0);                                       // extra field length
        Raw(name);
        return Raw(data);
    }

    // An end of central directory record with no entries.
    ZipBytes &EndRecord()
    {
        U32(0x06054B50); // end of central dir signature
        U16(0);          // number of this disk
        U16(0);          // disk where central directory starts
        U16(0);          // entries on this disk
        U16(0);          // total entries
        U32(0);          // size of central directory
        U32(0);          // offset of central directory
        return U16(0);   // comment length
    }

    const std::string &Str() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

private:
    std::string bytes_;
};

// Packs a date and time the MS-DOS way: date in the high 16 bits.
constexpr std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    return (static_cast<std::uint32_t>(year - 1980) << 25) | (static_cast<std::uint32_t>(month) << 21)
        | (static_cast<std::uint32_t>(day) << 16) | (static_cast<std::uint32_t>(hour) << 11)
        | (static_cast<std::uint32_t>(minute) << 5) | static_cast<std::uint32_t>(second / 2);
}

} // namespace pellux::test
