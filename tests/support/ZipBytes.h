#pragma once
// Builds ZIP structures byte by byte, so malformed archives can be written field by
// field in a test.
#include <cstdint>
#include <string>
#include <vector>

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

    // A complete local header with no extra field and stored data; EndRecord() lists it
    // in the central directory.
    ZipBytes &LocalHeader(const std::string &name, const std::string &data, std::uint32_t dosDateTime = 0x5B2C6000)
    {
        written_.push_back({bytes_.size(), name, data.size(), dosDateTime});
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

    // The central directory of the entries LocalHeader() wrote since the last one, and
    // its end record.
    ZipBytes &EndRecord()
    {
        const auto start = static_cast<std::uint32_t>(bytes_.size());
        for (const auto &w : written_) {
            U32(0x02014B50);                                // central file header signature
            U16(10).U16(10);                                // version made by, needed
            U16(0).U16(0);                                  // flags, method: stored
            U32(w.DosDateTime);                             // last mod time and date
            U32(0);                                         // crc-32, as the local header has it
            U32(static_cast<std::uint32_t>(w.Size));        // compressed size
            U32(static_cast<std::uint32_t>(w.Size));        // uncompressed size
            U16(static_cast<std::uint16_t>(w.Name.size())); // file name length
            U16(0).U16(0).U16(0).U16(0);                    // extra, comment, disk, internal attributes
            U32(0);                                         // external attributes
            U32(static_cast<std::uint32_t>(w.Offset));      // local header offset
            Raw(w.Name);
        }
        const auto count = static_cast<std::uint16_t>(written_.size());
        const auto size = static_cast<std::uint32_t>(bytes_.size() - start);
        written_.clear();
        U32(0x06054B50);       // end of central dir signature
        U16(0).U16(0);         // this disk, the directory's disk
        U16(count).U16(count); // entries on this disk, total
        U32(size);             // size of central directory
        U32(start);            // offset of central directory
        return U16(0);         // comment length
    }

    // An end record of an empty central directory, whatever was written before it.
    ZipBytes &EmptyEndRecord()
    {
        written_.clear();
        return EndRecord();
    }

    const std::string &Str() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }

private:
    struct Written {
        std::size_t Offset;
        std::string Name;
        std::size_t Size;
        std::uint32_t DosDateTime;
    };
    std::string bytes_;
    std::vector<Written> written_;
};

// Packs a date and time the MS-DOS way: date in the high 16 bits.
constexpr std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    return (static_cast<std::uint32_t>(year - 1980) << 25) | (static_cast<std::uint32_t>(month) << 21)
        | (static_cast<std::uint32_t>(day) << 16) | (static_cast<std::uint32_t>(hour) << 11)
        | (static_cast<std::uint32_t>(minute) << 5) | static_cast<std::uint32_t>(second / 2);
}

} // namespace pellux::test
