#include "libs/common/TraditionalCipher.h"

#include <openssl/crypto.h>
#include <zlib.h>

namespace pellux::libs {

namespace {
const z_crc_t *const kCrc = get_crc_table();

inline std::uint32_t CrcByte(std::uint32_t crc, unsigned char byte) { return kCrc[(crc ^ byte) & 0xFF] ^ (crc >> 8); }
} // namespace

TraditionalCipher::TraditionalCipher(std::string_view password) : keys_{0x12345678u, 0x23456789u, 0x34567890u}
{
    for (const char c : password)
        Update(static_cast<unsigned char>(c));
}

TraditionalCipher::~TraditionalCipher() { OPENSSL_cleanse(keys_, sizeof keys_); }

inline void TraditionalCipher::Update(unsigned char plain)
{
    keys_[0] = CrcByte(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
    keys_[2] = CrcByte(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
}

inline unsigned char TraditionalCipher::StreamByte() const
{
    const std::uint32_t t = (keys_[2] | 2) & 0xFFFF;
    return static_cast<unsigned char>((t * (t ^ 1)) >> 8);
}

void TraditionalCipher::Decrypt(unsigned char *data, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        data[i] ^= StreamByte();
        Update(data[i]);
    }
}

void TraditionalCipher::Encrypt(unsigned char *data, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char key = StreamByte();
        Update(data[i]);
        data[i] ^= key;
    }
}

} // namespace pellux::libs
