#pragma once
// Reading encrypted entries: the passwords of one library call, and one entry's data
// deciphered on its way to the decoder, each password the caller gave tried in turn.
#include "libs/common/Reporter.h"
#include "libs/common/WinZipAes.h"
#include "libs/pxunz/ArchiveContents.h"
#include "libs/pxunz/Decoder.h"
#include "libs/pxunz/EntryData.h"
#include "util/Secret.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pellux::libs {

enum class CipherKind { None, Traditional, Aes, Unsupported };

struct EntryCipher {
    CipherKind Kind = CipherKind::None;
    AesField Aes; // with Aes
};

// How the entry is encrypted; Unsupported for strong encryption and a method 99 entry
// without a valid AES field.
EntryCipher CipherOf(const ArchiveEntry &entry);
inline bool IsEncrypted(const CentralEntry &entry)
{
    return (entry.Flags & kFlagEncrypted) || entry.Method == kMethodAes;
}

// The compression method the data really has, and what the entry data is checked by.
EntryData PlainEntryData(const ArchiveEntry &entry, const EntryCipher &cipher);

// The passwords given during one call, kept until it ends (and wiped then).
class PasswordBook {
public:
    explicit PasswordBook(Reporter &reporter) : reporter_(reporter) {}

    enum class Start { Given, Declined, Unanswered, Stopped };
    // At each encrypted entry: the first asks the caller (PX_PASSWORD_FIRST); the rest
    // hear the answer it gave. Given also once passwords are known but no more may be asked.
    Start First(const std::string &shown);
    // Asks for another password for `shown` (PX_PASSWORD_AGAIN), unless the caller declined
    // one before. True when a password was added.
    bool Again(const std::string &shown);

    bool Stopped() const { return reporter_.Stopped(); }
    Reporter &Progress() { return reporter_; }
    std::size_t Count() const { return passwords_.size(); }
    const Secret &At(std::size_t i) const { return *passwords_[i]; }

private:
    enum class State { NotAsked, Open, Closed, Declined, Unanswered };
    Reporter &reporter_;
    State state_ = State::NotAsked;
    std::vector<std::unique_ptr<Secret>> passwords_;
};

// One attempt at the entry's data: a fresh decoder each time, the same sink. The sink
// must start over (an emptied file) on every call.
using ReadAttempt = std::function<CopyOutcome(ByteSource &source, const EntryData &data, Decoder &decoder)>;

// Reads an encrypted entry with the passwords of the book, asking again when none opens
// it. A password opens the entry when it passes the header's check and then the data's
// (CRC, and for AES the MAC). Returns WrongPassword when the caller gives none that
// does, BadData "authentication failed ..." when an AES password passed the verifier
// but the MAC did not match, and what the attempt returned otherwise.
CopyOutcome ReadEncrypted(ByteSource &source, const ArchiveEntry &entry, const EntryCipher &cipher, PasswordBook &book,
                          const std::string &shown, std::unique_ptr<Decoder> decoder, const ReadAttempt &attempt);

// The single error about entries skipped because the caller declined the first request.
std::string SkippedEncryptedText(const std::vector<std::string> &names);

} // namespace pellux::libs
