#include "cli/Commands.h"
#include "cli/Passwords.h"

#include "listing/ListingRows.h"
#include "platform/LocaleSeparators.h"
#include "util/ZipRecords.h"
#include "zip/ZipEngine.h"

#include <cstdio>

namespace pellux::cli {

namespace {
void PrintRow(const ListRow &row)
{
    static std::string line; // its memory serves every row
    line.clear();
    for (int column = 0; column < kListColumnCount; ++column) {
        if (column > 0)
            line += '\t';
        line += row.Text[column];
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}
} // namespace

int RunList(const std::vector<std::string> &args, Session &session)
{
    // A password opens nothing a listing shows; the option is taken, as by every
    // command, so that scripts can pass it alike.
    std::vector<std::string> operands;
    std::string passwordFile, nameEncoding;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (PasswordFileOption(args, i, passwordFile) || NameEncodingOption(args, i, nameEncoding))
            continue;
        operands.push_back(args[i]);
    }
    if (operands.size() != 1)
        return UsageError();
    if (!KnownNameEncoding(nameEncoding))
        return 2;
    PasswordSource passwords(passwordFile);
    std::string why;
    if (!passwords.Load(&why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    TZipEngine engine;
    engine.NameEncoding = nameEncoding;
    ListingBuilder builder(DateSeparator(), TimeSeparator());
    // The window rebuilds its listing on every re-read; so does this front end.
    engine.OnDirUpdate = [&builder](TZipEngine &sender) { FillRows(sender, builder, PrintRow); };
    session.Run([&] { engine.SetZipFilename(operands[0]); });
    std::fflush(stdout);
    std::string encrypted;
    for (const auto &entry : engine.DirEntries()) {
        if (entry.Encrypted())
            encrypted += (encrypted.empty() ? "" : ", ") + VisibleName(entry.Name());
    }
    if (!encrypted.empty())
        std::fprintf(stderr, "encrypted (a password is needed to extract): %s\n", encrypted.c_str());
    // Damage and tampering are failures; an empty archive is not, nor are warnings that
    // only inform.
    return session.ErrorReported() || engine.ListDamaged() || engine.NoArchiveFound() ? 1 : 0;
}

} // namespace pellux::cli
