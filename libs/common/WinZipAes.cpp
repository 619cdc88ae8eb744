#include "libs/common/WinZipAes.h"

#include "util/LittleEndian.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace pellux::libs {

std::optional<AesField> ParseAesField(std::string_view extra)
{
    // Walks the block itself: a truncated 0x9901 body is malformed, not absent.
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const auto *p = reinterpret_cast<const unsigned char *>(extra.data() + at);
        const std::uint16_t id = le::U16(p), size = le::U16(p + 2);
        if (at + 4 + size > extra.size())
            return std::nullopt;
        if (id == kExtraAes) {
            if (size < 7)
                return std::nullopt;
            AesField field;
            field.Version = le::U16(p + 4);
            field.Strength = p[8];
            field.Method = le::U16(p + 9);
            if ((field.Version != 1 && field.Version != 2) || p[6] != 'A' || p[7] != 'E' || field.Strength < 1
                || field.Strength > 3)
                return std::nullopt;
            return field;
        }
        at += 4 + size;
    }
    return std::nullopt;
}

std::string AesFieldBytes(const AesField &field)
{
    const unsigned char bytes[11] = {kExtraAes & 0xFF,
                                     kExtraAes >> 8,
                                     7,
                                     0,
                                     static_cast<unsigned char>(field.Version & 0xFF),
                                     static_cast<unsigned char>(field.Version >> 8),
                                     'A',
                                     'E',
                                     field.Strength,
                                     static_cast<unsigned char>(field.Method & 0xFF),
                                     static_cast<unsigned char>(field.Method >> 8)};
    return std::string(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

namespace {
constexpr std::size_t kBlock = 16;
// Counter blocks ciphered per EVP call: large batches keep libcrypto on its fast path.
constexpr std::size_t kBatch = 16u << 10;
constexpr int kIterations = 1000;
} // namespace

struct AesCipher::State {
    EVP_CIPHER_CTX *cipher = nullptr;
    EVP_MAC *macType = nullptr;
    EVP_MAC_CTX *mac = nullptr;
    std::uint64_t counterLow = 1, counterHigh = 0; // the next counter block, little-endian
    std::size_t used = kBatch;                     // keystream bytes already spent
    bool ok = false;
    alignas(16) unsigned char counters[kBatch];
    alignas(16) unsigned char stream[kBatch];
};

AesCipher::AesCipher() : state_(new State) {}

AesCipher::~AesCipher()
{
    Clear();
    OPENSSL_cleanse(state_, sizeof(State));
    delete state_;
}

void AesCipher::Clear()
{
    EVP_CIPHER_CTX_free(state_->cipher); // frees and cleanses the key schedule
    EVP_MAC_CTX_free(state_->mac);
    EVP_MAC_free(state_->macType);
    state_->cipher = nullptr;
    state_->mac = nullptr;
    state_->macType = nullptr;
    OPENSSL_cleanse(state_->stream, sizeof state_->stream);
    state_->counterLow = 1;
    state_->counterHigh = 0;
    state_->used = kBatch;
    state_->ok = false;
}

bool AesCipher::Start(std::string_view password, std::uint8_t strength, const unsigned char *salt,
                      unsigned char verifier[kAesVerifierSize])
{
    Clear();
    const EVP_CIPHER *type = strength == 1 ? EVP_aes_128_ecb()
        : strength == 2                    ? EVP_aes_192_ecb()
        : strength == 3                    ? EVP_aes_256_ecb()
                                           : nullptr;
    if (!type)
        return false;
    const std::size_t keySize = AesKeySize(strength);
    unsigned char keys[2 * 32 + kAesVerifierSize];
    const std::size_t derived = 2 * keySize + kAesVerifierSize;
    bool ok =
        PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt,
                               static_cast<int>(AesSaltSize(strength)), kIterations, static_cast<int>(derived), keys)
        == 1;
    if (ok) {
        state_->cipher = EVP_CIPHER_CTX_new();
        ok = state_->cipher && EVP_EncryptInit_ex(state_->cipher, type, nullptr, keys, nullptr) == 1
            && EVP_CIPHER_CTX_set_padding(state_->cipher, 0) == 1;
    }
    if (ok) {
        state_->macType = EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr);
        state_->mac = state_->macType ? EVP_MAC_CTX_new(state_->macType) : nullptr;
        char digest[] = "SHA1";
        const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
        ok = state_->mac && EVP_MAC_init(state_->mac, keys + keySize, keySize, params) == 1;
    }
    if (ok)
        std::memcpy(verifier, keys + 2 * keySize, kAesVerifierSize);
    OPENSSL_cleanse(keys, sizeof keys);
    if (!ok)
        Clear();
    state_->ok = ok;
    return ok;
}

bool AesCipher::Refill()
{
    State &s = *state_;
    for (std::size_t at = 0; at < kBatch; at += kBlock) {
        for (int i = 0; i < 8; ++i) {
            s.counters[at + i] = static_cast<unsigned char>(s.counterLow >> (8 * i));
            s.counters[at + 8 + i] = static_cast<unsigned char>(s.counterHigh >> (8 * i));
        }
        if (++s.counterLow == 0)
            ++s.counterHigh;
    }
    int out = 0;
    if (EVP_EncryptUpdate(s.cipher, s.stream, &out, s.counters, static_cast<int>(kBatch)) != 1
        || out != static_cast<int>(kBatch)) {
        // Without a keystream nothing may pass as deciphered: the MAC then fails too.
        s.ok = false;
        return false;
    }
    s.used = 0;
    return true;
}

void AesCipher::Xor(unsigned char *data, std::size_t length)
{
    State &s = *state_;
    while (length > 0) {
        if (s.used == kBatch && (!s.ok || !Refill())) {
            std::memset(data, 0, length);
            return;
        }
        const std::size_t n = std::min(length, kBatch - s.used);
        const unsigned char *key = s.stream + s.used;
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t a, b;
            std::memcpy(&a, data + i, 8);
            std::memcpy(&b, key + i, 8);
            a ^= b;
            std::memcpy(data + i, &a, 8);
        }
        for (; i < n; ++i)
            data[i] ^= key[i];
        s.used += n;
        data += n;
        length -= n;
    }
}

void AesCipher::Decrypt(unsigned char *data, std::size_t length)
{
    if (state_->ok && EVP_MAC_update(state_->mac, data, length) != 1)
        state_->ok = false;
    Xor(data, length);
}

void AesCipher::Encrypt(unsigned char *data, std::size_t length)
{
    Xor(data, length);
    if (state_->ok && EVP_MAC_update(state_->mac, data, length) != 1)
        state_->ok = false;
}

void AesCipher::Finish(unsigned char mac[kAesMacSize])
{
    unsigned char full[EVP_MAX_MD_SIZE];
    std::size_t size = 0;
    if (state_->ok && EVP_MAC_final(state_->mac, full, &size, sizeof full) == 1 && size >= kAesMacSize) {
        std::memcpy(mac, full, kAesMacSize);
    } else {
        // Callers also check Ok(): a zeroed MAC could match a zeroed stored one.
        std::memset(mac, 0, kAesMacSize);
        state_->ok = false;
    }
    OPENSSL_cleanse(full, sizeof full);
}

bool AesCipher::Ok() const { return state_->ok; }

bool SameMac(const unsigned char *a, const unsigned char *b) { return CRYPTO_memcmp(a, b, kAesMacSize) == 0; }

} // namespace pellux::libs
