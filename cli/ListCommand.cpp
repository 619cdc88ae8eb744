#include "cli/Commands.h"
#include "cli/ListDetails.h"
#include "cli/Passwords.h"

#include "listing/ListingRows.h"
#include "platform/LocaleSeparators.h"
#include "platform/UserInteraction.h"
#include "util/ZipRecords.h"
#include "zip/ZipEngine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pellux::cli {

namespace {

enum class Format { Plain, Long, Json };

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

std::string CrcText(std::uint32_t crc)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
    return text;
}

// Fixed widths, as unzip -v has them: a name of any length stays the last column.
constexpr const char *kLongRow = "%-10s  %-9s  %12s  %12s  %-8s  %-10s  %-25s  %s\n";

void PrintLongListing(const TZipEngine &engine)
{
    if (engine.NoArchiveFound())
        return;
    std::printf(kLongRow, "Mode", "Method", "Size", "Packed", "CRC-32", "Encryption", "Modified", "Name");
    ListDetails details(engine.ZipFilename());
    const auto &entries = engine.DirEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ZipDirEntry &entry = entries[i];
        const EntryDetails d = details.Of(entry);
        const std::string *warning = engine.EntryWarning(i);
        std::printf(kLongRow, d.Mode.c_str(), d.Method.c_str(), std::to_string(entry.UncompressedSize).c_str(),
                    std::to_string(entry.CompressedSize).c_str(), CrcText(entry.Crc32).c_str(), d.Encryption.c_str(),
                    d.Mtime.empty() ? "-" : d.Mtime.c_str(), VisibleName(entry.Name()).c_str());
    }
}

QString Text(const std::string &utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// What the engine shows the user while it reads, kept for the JSON document; errors
// still go to stderr as they come.
class CollectingInteraction final : public StderrInteraction {
public:
    struct Message {
        std::string Text;
        bool Warning = false; // shown with "warning: " on stderr
    };
    void ShowMessage(const std::string &text) override { Messages.push_back({text, false}); }
    void ShowWarnings(const std::vector<std::string> &lines) override
    {
        for (const auto &line : lines)
            Messages.push_back({line, true});
    }
    std::vector<Message> Messages;
};

void Write(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
}

// The document is written entry by entry, each object serialised by Qt: held whole as a
// QJsonArray, a million entries would take gigabytes. The output is what one
// QJsonDocument of it all would give.
// -q: the listing's warnings are left out; its messages, which say why it fails, are not.
class QuietInteraction final : public StderrInteraction {
public:
    void ShowWarnings(const std::vector<std::string> &) override {}
};

void PrintJson(const TZipEngine &engine, const std::string &archive,
               std::vector<CollectingInteraction::Message> &messages)
{
    QByteArray head = QJsonDocument(QJsonObject{{QStringLiteral("archive"), Text(VisibleText(archive))}})
                          .toJson(QJsonDocument::Compact);
    head.chop(1); // the closing brace
    Write(head + ",\"entries\":[");
    bool first = true;
    ListDetails details(engine.ZipFilename());
    const auto &entries = engine.DirEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ZipDirEntry &entry = entries[i];
        const EntryDetails d = details.Of(entry);
        const std::string *warning = engine.EntryWarning(i);
        const std::string name = VisibleName(entry.Name());
        QJsonValue link = QJsonValue::Null;
        if (d.Link) {
            std::string why;
            if (const auto target = details.LinkTarget(entry, &why))
                link = Text(VisibleText(*target));
            else
                messages.push_back({"cannot read the target of symbolic link " + name + ": " + why, true});
        }
        // Built in one go: an object grown key by key keeps spare room, much of it over a
        // million entries.
        const QByteArray object =
            QJsonDocument(
                QJsonObject{
                    {QStringLiteral("name"), Text(name)},
                    {QStringLiteral("size"), static_cast<qint64>(entry.UncompressedSize)},
                    {QStringLiteral("packed"), static_cast<qint64>(entry.CompressedSize)},
                    {QStringLiteral("method"), Text(d.Method)},
                    {QStringLiteral("crc"), Text(CrcText(entry.Crc32))},
                    {QStringLiteral("encrypted"), entry.Encrypted()},
                    {QStringLiteral("encryption"), Text(d.Encryption)},
                    {QStringLiteral("mtime"),
                     d.Mtime.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(Text(d.Mtime))},
                    {QStringLiteral("mode"), Text(d.Mode)},
                    {QStringLiteral("link"), link},
                    {QStringLiteral("warning"), warning ? QJsonValue(Text(*warning)) : QJsonValue(QJsonValue::Null)},
                })
                .toJson(QJsonDocument::Compact);
        Write(first ? object : ',' + object);
        first = false;
    }
    QJsonArray warnings;
    for (const auto &message : messages)
        warnings.append(Text(message.Text));
    // One line: half the size of the indented form, and what a pipe into jq wants.
    QByteArray tail = QJsonDocument(QJsonObject{{QStringLiteral("warnings"), warnings}}).toJson(QJsonDocument::Compact);
    tail[0] = ','; // the opening brace
    Write("]" + tail + '\n');
}

} // namespace

int RunList(const std::vector<std::string> &args, Session &session)
{
    // A password opens nothing a listing shows; the option is taken, as by every
    // command, so that scripts can pass it alike.
    std::vector<std::string> operands;
    std::string passwordFile, nameEncoding;
    Format format = Format::Plain;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (PasswordFileOption(args, i, passwordFile) || NameEncodingOption(args, i, nameEncoding))
            continue;
        const Format chosen = args[i] == "--long" ? Format::Long : args[i] == "--json" ? Format::Json : Format::Plain;
        if (chosen != Format::Plain) {
            if (format != Format::Plain && format != chosen)
                return UsageError("list takes --long or --json, not both");
            format = chosen;
            continue;
        }
        if (args[i].size() > 1 && args[i][0] == '-')
            return UsageError("unknown option " + args[i]);
        operands.push_back(args[i]);
    }
    if (operands.size() != 1)
        return UsageError(operands.empty() ? "list needs an archive" : "list takes one archive");
    if (!KnownNameEncoding(nameEncoding))
        return 2;
    const std::string &archive = operands[0];
    // The engine takes a missing name for a new archive; a listing has nothing to show.
    struct stat status;
    if (::stat(archive.c_str(), &status) != 0) {
        std::fprintf(stderr, "%s: %s\n", VisibleText(archive).c_str(), std::strerror(errno));
        return 1;
    }
    PasswordSource passwords(passwordFile);
    std::string why;
    if (!passwords.Load(&why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }

    CollectingInteraction *collected = nullptr;
    std::unique_ptr<UserInteraction> previous;
    if (format == Format::Json) {
        auto collecting = std::make_unique<CollectingInteraction>();
        collected = collecting.get();
        previous = SetUserInteraction(std::move(collecting));
    } else if (session.Quiet()) {
        previous = SetUserInteraction(std::make_unique<QuietInteraction>());
    }
    TZipEngine engine;
    engine.NameEncoding = nameEncoding;
    ListingBuilder builder(DateSeparator(), TimeSeparator());
    // The window rebuilds its listing on every re-read; so does this front end.
    if (format == Format::Plain)
        engine.OnDirUpdate = [&builder](TZipEngine &sender) { FillRows(sender, builder, PrintRow); };
    else if (format == Format::Long)
        engine.OnDirUpdate = [](TZipEngine &sender) { PrintLongListing(sender); };
    session.Run([&] { engine.SetZipFilename(archive); });
    // Damage and tampering are failures; an empty archive is not, nor are warnings that
    // only inform.
    const bool failed = session.ErrorReported() || engine.ListDamaged() || engine.NoArchiveFound();

    if (format == Format::Json) {
        std::vector<CollectingInteraction::Message> messages = std::move(collected->Messages);
        SetUserInteraction(std::move(previous));
        session.Run([&] { PrintJson(engine, archive, messages); });
        // A failing listing says why on stderr too, for scripts that read no further.
        if (failed) {
            for (const auto &message : messages)
                std::fprintf(stderr, message.Warning ? "warning: %s\n" : "%s\n", message.Text.c_str());
        }
        std::fflush(stdout);
        return failed || session.ErrorReported() ? 1 : 0;
    }
    std::fflush(stdout);
    if (session.Quiet()) {
        SetUserInteraction(std::move(previous));
        return failed ? 1 : 0;
    }
    std::string encrypted;
    for (const auto &entry : engine.DirEntries()) {
        if (entry.Encrypted())
            encrypted += (encrypted.empty() ? "" : ", ") + VisibleName(entry.Name());
    }
    if (!encrypted.empty())
        std::fprintf(stderr, "encrypted (a password is needed to extract): %s\n", encrypted.c_str());
    return failed ? 1 : 0;
}

} // namespace pellux::cli
