#pragma once
// The traditional PKWARE cipher ("ZipCrypto"): three 32-bit keys stirred by each plain
// byte. Weak, but what `zip -P` writes and every reader opens. No library carries it.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pellux::libs {

// The encryption header in front of each entry's data; its last byte checks the password.
inline constexpr std::size_t kTraditionalHeaderSize = 12;

class TraditionalCipher {
public:
    explicit TraditionalCipher(std::string_view password);
    ~TraditionalCipher(); // wipes the keys
    TraditionalCipher(const TraditionalCipher &) = default;
    TraditionalCipher &operator=(const TraditionalCipher &) = default;

    void Decrypt(unsigned char *data, std::size_t n);
    void Encrypt(unsigned char *data, std::size_t n);

private:
    void Update(unsigned char plain);
    unsigned char StreamByte() const;
    std::uint32_t keys_[3];
};

} // namespace pellux::libs
