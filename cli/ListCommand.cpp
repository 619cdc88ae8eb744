#include "cli/Commands.h"

#include "listing/ListingRows.h"
#include "platform/LocaleSeparators.h"
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
    if (args.size() != 1)
        return UsageError();
    TZipEngine engine;
    ListingBuilder builder(DateSeparator(), TimeSeparator());
    // The window rebuilds its listing on every re-read; so does this front end.
    engine.OnDirUpdate = [&builder](TZipEngine &sender) { FillRows(sender, builder, PrintRow); };
    session.Run([&] { engine.SetZipFilename(args[0]); });
    std::fflush(stdout);
    // Damage and tampering are failures; an empty archive is not, nor are warnings that
    // only inform.
    return session.ErrorReported() || engine.ListDamaged() || engine.NoArchiveFound() ? 1 : 0;
}

} // namespace pellux::cli
