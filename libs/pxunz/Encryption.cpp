#include "libs/pxunz/Encryption.h"

#include "libs/common/TraditionalCipher.h"

#include <openssl/crypto.h>

#include <cstring>
#include <optional>

namespace pellux::libs {

namespace {

constexpr std::uint16_t kFlagStrongEncryption = 1u << 6;

// The entry's data as its decoder sees it: deciphered while it is read, front to back.
// The copier reads it sequentially; one read from the start again (the whole-entry
// inflate falling back to streaming) starts the cipher over.
class DecryptingSource final : public ByteSource {
public:
    DecryptingSource(ByteSource &inner, const ArchiveEntry &entry, const EntryCipher &cipher)
        : inner_(inner), entry_(entry), cipher_(cipher)
    {
    }
    ~DecryptingSource() override { OPENSSL_cleanse(salt_, sizeof salt_); }

    enum class Check { Passes, Fails, CutShort };
    // Reads what precedes the data and checks the password against it.
    Check Open(const Secret &password)
    {
        const CentralEntry &central = entry_.Central;
        password_ = &password;
        data_ = PlainEntryData(entry_, cipher_);
        if (cipher_.Kind == CipherKind::Traditional) {
            unsigned char header[kTraditionalHeaderSize];
            if (central.CompressedSize < sizeof header || !inner_.ReadAt(entry_.DataStart, header, sizeof header))
                return Check::CutShort;
            traditional_.emplace(password.Text());
            traditional_->Decrypt(header, sizeof header);
            // With a data descriptor the CRC was not known when the header was written:
            // the DOS time's high byte stands in for it.
            const unsigned expected =
                (central.Flags & kFlagDataDescriptor) ? (central.DosDateTime >> 8) & 0xFF : central.Crc32 >> 24;
            if (header[sizeof header - 1] != expected)
                return Check::Fails;
            start_ = entry_.DataStart + sizeof header;
            end_ = entry_.DataStart + central.CompressedSize;
            initial_ = *traditional_;
        } else {
            const std::size_t saltSize = AesSaltSize(cipher_.Aes.Strength);
            const std::size_t overhead = saltSize + kAesVerifierSize + kAesMacSize;
            unsigned char stored[kAesVerifierSize];
            if (central.CompressedSize < overhead || !inner_.ReadAt(entry_.DataStart, salt_, saltSize)
                || !inner_.ReadAt(entry_.DataStart + saltSize, stored, sizeof stored))
                return Check::CutShort;
            start_ = entry_.DataStart + saltSize + kAesVerifierSize;
            end_ = entry_.DataStart + central.CompressedSize - kAesMacSize;
            if (!StartAes(stored))
                return Check::Fails;
        }
        at_ = start_;
        data_.DataStart = start_;
        data_.CompressedSize = end_ - start_;
        return Check::Passes;
    }

    const EntryData &Data() const { return data_; }
    std::uint64_t Size() const override { return inner_.Size(); }

    bool ReadAt(std::uint64_t offset, void *buffer, std::size_t length) override
    {
        if (offset == start_ && at_ != start_ && !Restart())
            return false;
        if (offset != at_ || length > end_ - at_ || !inner_.ReadAt(offset, buffer, length))
            return false;
        auto *bytes = static_cast<unsigned char *>(buffer);
        if (traditional_)
            traditional_->Decrypt(bytes, length);
        else
            aes_->Decrypt(bytes, length);
        at_ += length;
        return true;
    }

    // AES: whether the MAC over all the data matches the stored one. A decoder that
    // stopped before the end leaves bytes the MAC must still take in.
    bool Authentic()
    {
        if (traditional_)
            return true;
        unsigned char rest[16 << 10];
        while (at_ < end_) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof rest, end_ - at_));
            if (!ReadAt(at_, rest, n))
                return false;
        }
        unsigned char stored[kAesMacSize], mac[kAesMacSize];
        if (!inner_.ReadAt(end_, stored, sizeof stored))
            return false;
        aes_->Finish(mac);
        return aes_->Ok() && SameMac(mac, stored);
    }

private:
    bool StartAes(const unsigned char stored[kAesVerifierSize])
    {
        aes_ = std::make_unique<AesCipher>();
        unsigned char verifier[kAesVerifierSize];
        return aes_->Start(password_->Text(), cipher_.Aes.Strength, salt_, verifier)
            && std::memcmp(verifier, stored, kAesVerifierSize) == 0;
    }

    bool Restart()
    {
        at_ = start_;
        if (traditional_) {
            traditional_ = initial_;
            return true;
        }
        unsigned char stored[kAesVerifierSize];
        return inner_.ReadAt(start_ - kAesVerifierSize, stored, sizeof stored) && StartAes(stored);
    }

    ByteSource &inner_;
    const ArchiveEntry &entry_;
    const EntryCipher &cipher_;
    const Secret *password_ = nullptr;
    EntryData data_;
    std::uint64_t start_ = 0, end_ = 0, at_ = 0;
    std::optional<TraditionalCipher> traditional_, initial_;
    std::unique_ptr<AesCipher> aes_;
    unsigned char salt_[16] = {};
};

} // namespace

EntryCipher CipherOf(const ArchiveEntry &entry)
{
    const CentralEntry &central = entry.Central;
    EntryCipher cipher;
    if (!IsEncrypted(central))
        return cipher;
    if (central.Flags & kFlagStrongEncryption) {
        cipher.Kind = CipherKind::Unsupported;
    } else if (central.Method == kMethodAes) {
        auto field = ParseAesField(central.Extra());
        if (!field)
            field = ParseAesField(entry.LocalExtra);
        cipher.Kind = field ? CipherKind::Aes : CipherKind::Unsupported;
        if (field)
            cipher.Aes = *field;
    } else {
        cipher.Kind = CipherKind::Traditional;
    }
    return cipher;
}

EntryData PlainEntryData(const ArchiveEntry &entry, const EntryCipher &cipher)
{
    const CentralEntry &central = entry.Central;
    EntryData data{entry.DataStart, central.CompressedSize, central.UncompressedSize, central.Crc32, central.Method};
    if (cipher.Kind == CipherKind::Aes) {
        data.Method = cipher.Aes.Method;
        data.CheckCrc = cipher.Aes.Version == 1;
    }
    return data;
}

PasswordBook::Start PasswordBook::First(const std::string &shown)
{
    switch (state_) {
    case State::NotAsked:
        break;
    case State::Open:
    case State::Closed:
        return Start::Given;
    case State::Declined:
        return Start::Declined;
    case State::Unanswered:
        return Start::Unanswered;
    }
    auto password = std::make_unique<Secret>();
    const PasswordAnswer answer = reporter_.AskPassword(PX_PASSWORD_FIRST, shown, *password);
    if (reporter_.Stopped())
        return Start::Stopped;
    switch (answer) {
    case PasswordAnswer::Given:
        passwords_.push_back(std::move(password));
        state_ = State::Open;
        return Start::Given;
    case PasswordAnswer::Declined:
        state_ = State::Declined;
        return Start::Declined;
    case PasswordAnswer::Unanswered:
        break;
    }
    state_ = State::Unanswered;
    return Start::Unanswered;
}

bool PasswordBook::Again(const std::string &shown)
{
    if (state_ != State::Open)
        return false;
    auto password = std::make_unique<Secret>();
    if (reporter_.AskPassword(PX_PASSWORD_AGAIN, shown, *password) != PasswordAnswer::Given || reporter_.Stopped()) {
        // Declined (or left alone): no more questions in this call.
        state_ = State::Closed;
        return false;
    }
    passwords_.push_back(std::move(password));
    return true;
}

CopyOutcome ReadEncrypted(ByteSource &source, const ArchiveEntry &entry, const EntryCipher &cipher, PasswordBook &book,
                          const std::string &shown, std::unique_ptr<Decoder> decoder, const ReadAttempt &attempt)
{
    const EntryData plain = PlainEntryData(entry, cipher);
    const DecoderEntry decoderEntry{plain.Method, entry.Central.Flags, plain.UncompressedSize};
    bool macFailed = false;
    // A password that passes the check and then fails the data counted the bytes it
    // read: the next attempt reads them again without counting them twice.
    Reporter &progress = book.Progress();
    struct DropOnExit {
        Reporter &R;
        ~DropOnExit() { R.DropUncounted(); }
    } drop{progress};
    for (std::size_t tried = 0;;) {
        for (; tried < book.Count(); ++tried) {
            DecryptingSource decrypting(source, entry, cipher);
            const auto check = decrypting.Open(book.At(tried));
            if (check == DecryptingSource::Check::CutShort)
                return CopyOutcome{CopyResult::BadData, "its data is cut short"};
            if (check == DecryptingSource::Check::Fails)
                continue;
            if (!decoder)
                decoder = MakeDecoder(decoderEntry);
            const std::uint64_t countedBefore = progress.Counted();
            const CopyOutcome copy = attempt(decrypting, decrypting.Data(), *decoder);
            const auto tryAgain = [&] { progress.Uncount(progress.Counted() - countedBefore); };
            decoder.reset(); // holds the last attempt's state
            if (copy.Result == CopyResult::Cancelled || copy.Result == CopyResult::WriteFailed)
                return copy;
            if (cipher.Kind == CipherKind::Traditional) {
                // One wrong password in 256 passes the check byte: bad data then most
                // likely means the password is wrong.
                if (copy.Result == CopyResult::Done)
                    return copy;
                tryAgain();
                continue;
            }
            // AES: a verifier passes for one wrong password in 65536; a MAC that then
            // fails means damage as much as a wrong password.
            if (!decrypting.Authentic()) {
                macFailed = true;
                tryAgain();
                continue;
            }
            return copy;
        }
        if (macFailed)
            return CopyOutcome{CopyResult::BadData, "authentication failed (wrong password or damaged data)"};
        if (!book.Again(shown))
            return CopyOutcome{book.Stopped() ? CopyResult::Cancelled : CopyResult::WrongPassword, std::string()};
    }
}

std::string SkippedEncryptedText(const std::vector<std::string> &names)
{
    return "skipped " + std::to_string(names.size()) + (names.size() == 1 ? " encrypted entry" : " encrypted entries")
        + " (no password): " + NameList(names);
}

} // namespace pellux::libs
