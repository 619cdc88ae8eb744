#include "libs/pxunz/TestEntries.h"

#include "libs/common/PxErrors.h"
#include "libs/pxunz/ArchiveContents.h"
#include "libs/pxunz/Decoder.h"
#include "libs/pxunz/EntryData.h"
#include "util/ArchiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

namespace pellux::libs {

namespace {

bool IsDirectory(const CentralEntry &entry)
{
    const std::string &name = entry.Name;
    const unsigned mode = entry.ExternalAttributes >> 16;
    return (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        || ((entry.VersionMadeBy >> 8) == 3 && S_ISDIR(mode));
}

// The failure of one entry, or empty when it passed.
std::string Check(const ArchiveEntry &entry, ByteSource &source, EntryCopier &copier, bool &cancelled)
{
    const CentralEntry &central = entry.Central;
    if (!entry.Refused.empty())
        return entry.Refused;
    if ((central.Flags & kFlagEncrypted) || central.Method == 99)
        return "encrypted";
    auto decoder = MakeDecoder({central.Method, central.Flags, central.UncompressedSize});
    if (!decoder)
        return UnsupportedMethod(central.Method);
    const EntryData data{entry.DataStart, central.CompressedSize, central.UncompressedSize, central.Crc32,
                         central.Method};
    const CopyOutcome copy =
        copier.Copy(source, data, *decoder, [](const unsigned char *, std::size_t) { return true; });
    cancelled = copy.Result == CopyResult::Cancelled;
    return copy.Result == CopyResult::BadData ? copy.Why : std::string();
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
    const ArchiveContents contents = ReadArchiveContents(source);
    std::int32_t passed = 0;
    if (!contents.Fatal.empty()) {
        reporter.Error(kPxArchiveError, request.Archive + ": " + contents.Fatal);
    } else {
        for (const auto &warning : contents.Warnings)
            reporter.Warning(request.Archive + ": " + warning);
        for (const auto &error : contents.Errors)
            reporter.Error(kPxArchiveError, request.Archive + ": " + error);
        const std::set<std::string> wanted(request.Names.begin(), request.Names.end());
        std::set<std::string> matched;
        EntryCopier copier(reporter);
        for (const auto &entry : contents.Entries) {
            if (reporter.Stopped())
                break;
            if (!wanted.empty() && !wanted.count(entry.Central.Name))
                continue;
            matched.insert(entry.Central.Name);
            if (IsDirectory(entry.Central))
                continue;
            const std::string shown = VisibleName(EntryName(entry.Central.Name, entry.Central.Extra));
            if (reporter.File(shown, entry.Central.UncompressedSize))
                break;
            bool cancelled = false;
            const std::string failure = Check(entry, source, copier, cancelled);
            if (cancelled)
                break;
            if (failure.empty())
                ++passed;
            else
                reporter.Error(kPxDataError, shown + ": " + failure);
        }
        for (const auto &name : wanted) {
            if (!matched.count(name))
                reporter.Error(kPxNotMatched, "name not matched: " + name);
        }
    }
    ::close(fd);
    return passed;
}

} // namespace pellux::libs
