#pragma once
// One archive entry as the component holds it: the 26 fixed bytes of a ZIP local file
// header (APPNOTE 4.3.7, after the signature) followed by the stored name. Sizes are
// the true ones: from the ZIP64 field or the central directory where the header holds
// none.
#include <cstdint>
#include <memory>
#include <string>

namespace pellux {

// A name held only where it differs from another: 8 bytes when absent. Copies copy it.
class OptionalName {
public:
    OptionalName() = default;
    explicit OptionalName(std::string name) : name_(std::make_unique<const std::string>(std::move(name))) {}
    OptionalName(const OptionalName &other)
        : name_(other.name_ ? std::make_unique<const std::string>(*other.name_) : nullptr)
    {
    }
    OptionalName &operator=(const OptionalName &other)
    {
        if (this != &other)
            name_ = other.name_ ? std::make_unique<const std::string>(*other.name_) : nullptr;
        return *this;
    }
    OptionalName(OptionalName &&) noexcept = default;
    OptionalName &operator=(OptionalName &&) noexcept = default;
    ~OptionalName() = default;

    const std::string *Get() const { return name_.get(); }

private:
    std::unique_ptr<const std::string> name_;
};

struct ZipDirEntry {
    // Fields ordered so that a million entries pack without padding.
    std::uint16_t VersionNeeded = 0;      // version needed to extract
    std::uint16_t GeneralPurposeFlag = 0; // general purpose bit flag
    std::uint16_t CompressionMethod = 0;
    std::uint16_t FileNameLength = 0;
    std::uint32_t DosDateTime = 0; // time in the low 16 bits, date in the high 16
    std::uint32_t Crc32 = 0;
    std::uint64_t CompressedSize = 0;
    std::uint64_t UncompressedSize = 0;
    std::int64_t HeaderOffset = 0; // where the local header starts in the file
    std::uint16_t ExtraFieldLength = 0;
    // The name bytes exactly as stored (no code-page conversion, separators kept, a NUL
    // byte kept too).
    std::string FileName;
    // The name as extraction writes it, in UTF-8 (the Unicode Path field when its CRC
    // matches, else the stored bytes decoded); null when that is FileName itself, as
    // for most names, so a million entries do not hold each name twice.
    OptionalName UnicodeName;
    // Traditional encryption sets bit 0; AES entries have method 99 (and bit 0 too).
    bool Encrypted() const { return (GeneralPurposeFlag & 1u) || CompressionMethod == 99; }
    const std::string &Name() const { return UnicodeName.Get() ? *UnicodeName.Get() : FileName; }

    static constexpr std::size_t kFixedSize = 26;
    // Fills the fixed fields from the 26 bytes that follow a local header signature.
    void DecodeFixed(const unsigned char (&fixed)[kFixedSize]);
};

} // namespace pellux
