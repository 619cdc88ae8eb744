#pragma once
// WinZip AES encryption of one entry (AE-1 and AE-2): keys from the password by
// PBKDF2-HMAC-SHA1, AES in counter mode with a little-endian counter, HMAC-SHA1 over
// the encrypted bytes. Shared by both libraries; the primitives come from libcrypto.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pellux::libs {

inline constexpr std::uint16_t kExtraAes = 0x9901;
inline constexpr std::uint16_t kMethodAes = 99;
inline constexpr std::size_t kAesVerifierSize = 2, kAesMacSize = 10;

struct AesField {
    std::uint16_t Version = 2; // AE-1 (CRC stored) or AE-2 (CRC field 0)
    std::uint8_t Strength = 3; // 1, 2, 3: 128, 192, 256-bit keys
    std::uint16_t Method = 8;  // the real compression method
};

// The 0x9901 field of an extra block, checked (size, "AE", version, strength); nullopt
// when absent or malformed.
std::optional<AesField> ParseAesField(std::string_view extra);
// The 11 bytes of the field, header included.
std::string AesFieldBytes(const AesField &field);
inline std::size_t AesSaltSize(std::uint8_t strength) { return 4u + 4u * strength; }
inline std::size_t AesKeySize(std::uint8_t strength) { return 8u + 8u * strength; }

// One entry's cipher. Decrypt and Encrypt take any lengths; consecutive calls continue
// the one stream.
class AesCipher {
public:
    AesCipher();
    ~AesCipher(); // wipes keys
    AesCipher(const AesCipher &) = delete;
    AesCipher &operator=(const AesCipher &) = delete;

    // Derives the keys from password and salt (AesSaltSize(strength) bytes); `verifier`
    // receives the 2-byte password verifier. False on a crypto failure or a bad strength.
    bool Start(std::string_view password, std::uint8_t strength, const unsigned char *salt,
               unsigned char verifier[kAesVerifierSize]);
    void Decrypt(unsigned char *data, std::size_t length); // authenticates, then deciphers, in place
    void Encrypt(unsigned char *data, std::size_t length); // enciphers, then authenticates, in place
    void Finish(unsigned char mac[kAesMacSize]);           // the first 10 bytes of the HMAC
    // False once a libcrypto call failed (or before Start): the data and MAC are then
    // not to be trusted, whatever SameMac says.
    bool Ok() const;

private:
    struct State;
    void Clear();
    void Xor(unsigned char *data, std::size_t length);
    bool Refill();
    State *state_ = nullptr;
};

// Constant time over kAesMacSize bytes.
bool SameMac(const unsigned char *a, const unsigned char *b);

} // namespace pellux::libs
