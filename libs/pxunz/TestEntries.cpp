#include "libs/pxunz/TestEntries.h"

#include "libs/common/PxErrors.h"
#include "libs/pxunz/ArchiveContents.h"
#include "libs/pxunz/Decoder.h"
#include "libs/pxunz/Encryption.h"
#include "libs/pxunz/EntryData.h"
#include "util/ArchiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

namespace pellux::libs {

namespace {

bool IsDirectory(const CentralEntry &entry)
{
    const std::string_view name = entry.Name();
    const unsigned mode = entry.ExternalAttributes >> 16;
    return (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        || ((entry.VersionMadeBy >> 8) == 3 && S_ISDIR(mode));
}

struct Checked {
    std::string Failure; // for "NAME: failure"; empty when it passed
    bool Cancelled = false;
    bool Skipped = false; // encrypted, and the caller declined to give a password
    bool WrongPassword = false;
};

Checked Check(const ArchiveEntry &entry, const std::string &shown, ByteSource &source, EntryCopier &copier,
              PasswordBook &book)
{
    const CentralEntry &central = entry.Central;
    if (!entry.Refused.empty())
        return {entry.Refused};
    const EntryCipher cipher = CipherOf(entry);
    if (cipher.Kind == CipherKind::Unsupported)
        return {"encrypted (unsupported encryption)"};
    if (cipher.Kind != CipherKind::None) {
        switch (book.First(shown)) {
        case PasswordBook::Start::Given:
            break;
        case PasswordBook::Start::Declined:
            return {std::string(), false, true};
        case PasswordBook::Start::Unanswered:
            return {"encrypted"};
        case PasswordBook::Start::Stopped:
            return {std::string(), true};
        }
    }
    const EntryData data = PlainEntryData(entry, cipher);
    auto decoder = MakeDecoder({data.Method, central.Flags, central.UncompressedSize});
    if (!decoder)
        return {UnsupportedMethod(data.Method)};
    const DataSink sink = [](const unsigned char *, std::size_t) { return true; };
    const CopyOutcome copy = cipher.Kind == CipherKind::None
        ? copier.Copy(source, data, *decoder, sink)
        : ReadEncrypted(source, entry, cipher, book, shown, std::move(decoder),
                        [&](ByteSource &plain, const EntryData &deciphered, Decoder &fresh) {
                            return copier.Copy(plain, deciphered, fresh, sink);
                        });
    Checked checked;
    checked.Cancelled = copy.Result == CopyResult::Cancelled;
    checked.WrongPassword = copy.Result == CopyResult::WrongPassword;
    if (copy.Result == CopyResult::BadData)
        checked.Failure = copy.Why;
    return checked;
}

} // namespace

std::int32_t TestEntries(const ExtractRequest &request, Reporter &reporter)
{
    std::string why;
    const int fd = OpenArchiveFile(request.Archive, &why);
    if (fd < 0) {
        reporter.Error(kPxArchiveError, request.Archive + ": " + why);
        return 0;
    }
    FileByteSource file(fd);
    ReadAheadSource source(file);
    const ArchiveContents contents = ReadArchiveContents(source, request.NameEncoding);
    std::int32_t passed = 0;
    if (!contents.Fatal.empty()) {
        reporter.Error(kPxArchiveError, request.Archive + ": " + contents.Fatal);
    } else {
        for (const auto &warning : contents.Warnings)
            reporter.Warning(request.Archive + ": " + warning);
        for (const auto &error : contents.Errors)
            reporter.Error(kPxArchiveError, request.Archive + ": " + error);
        const std::set<std::string, std::less<>> wanted(request.Names.begin(), request.Names.end());
        std::set<std::string, std::less<>> matched;
        EntryCopier copier(reporter);
        PasswordBook book(reporter);
        std::vector<std::string> skipped;
        for (const auto &entry : contents.Entries) {
            if (reporter.Stopped())
                break;
            if (!wanted.empty() && !wanted.count(entry.Central.Name()))
                continue;
            matched.emplace(entry.Central.Name());
            if (IsDirectory(entry.Central))
                continue;
            const std::string shown = VisibleName(contents.Names.Name(entry.Central));
            if (reporter.File(shown, entry.Central.UncompressedSize))
                break;
            const Checked checked = Check(entry, shown, source, copier, book);
            if (checked.Cancelled)
                break;
            if (checked.Skipped)
                skipped.push_back(shown);
            else if (checked.WrongPassword)
                reporter.Error(kPxDataError, "wrong password for " + shown);
            else if (checked.Failure.empty())
                ++passed;
            else
                reporter.Error(kPxDataError, shown + ": " + checked.Failure);
        }
        if (!skipped.empty())
            reporter.Error(kPxUnsupported, SkippedEncryptedText(skipped));
        for (const auto &name : wanted) {
            if (!matched.count(name))
                reporter.Error(kPxNotMatched, "name not matched: " + name);
        }
    }
    ::close(fd);
    return passed;
}

} // namespace pellux::libs
