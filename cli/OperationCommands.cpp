// pellux-cli add / delete / extract: the window's commands from a terminal. Each sets
// the options the window would set and calls the same TZipEngine operation. test checks
// an archive through the extraction library without writing.
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/NameMatch.h"
#include "cli/Passwords.h"
#include "cli/Progress.h"

#include "platform/UserInteraction.h"
#include "util/NameCodec.h"
#include "util/ZipRecords.h"
#include "zip/ZipEngine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>

namespace pellux::cli {

namespace {

// Writes message-box texts to stderr like the default service and counts them: a
// message during an operation is a precondition or loading failure. Every text takes
// the progress line off first; `quiet` keeps the warnings back.
class CountingInteraction : public StderrInteraction {
public:
    CountingInteraction(int &count, bool quiet) : count_(count), quiet_(quiet) {}
    void ShowMessage(const std::string &text) override
    {
        ++count_;
        EraseProgress();
        StderrInteraction::ShowMessage(text);
    }
    void ShowWarnings(const std::vector<std::string> &lines) override
    {
        shown_.insert(lines.begin(), lines.end());
        if (quiet_)
            return;
        EraseProgress();
        StderrInteraction::ShowWarnings(lines);
    }
    using StderrInteraction::Confirm;
    bool Confirm(const std::string &text, const std::string &title) override
    {
        EraseProgress();
        return StderrInteraction::Confirm(text, title);
    }
    void ShowError(const std::string &text) override
    {
        EraseProgress();
        StderrInteraction::ShowError(text);
    }
    // True for a warning the listing already showed.
    bool Shown(const std::string &line) const { return shown_.count(line) > 0; }

private:
    int &count_;
    bool quiet_;
    std::set<std::string> shown_;
};

class ScopedInteraction {
public:
    explicit ScopedInteraction(std::unique_ptr<UserInteraction> service)
        : previous_(SetUserInteraction(std::move(service)))
    {
    }
    ~ScopedInteraction() { SetUserInteraction(std::move(previous_)); }
    ScopedInteraction(const ScopedInteraction &) = delete;
    ScopedInteraction &operator=(const ScopedInteraction &) = delete;

private:
    std::unique_ptr<UserInteraction> previous_;
};

std::string Absolute(const std::string &path)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

// How an operation meets its archive first.
enum class Open {
    List,        // as the window opens it; a listing error ends the work
    ListAndGoOn, // the same, but the work runs after a listing error, as the window keeps such an archive open
    // Not listed: the library reads the archive and checks every local header before it
    // changes anything, and names given literally need no stored names to match.
    Unlisted,
};

// Runs one operation: opens the archive, then `operation`; `summary` prints the last
// line and says whether the work failed. Works out the exit status. An interrupt stops
// the work at its next progress report and skips the summary.
template <class Operation, class Summary>
int RunWith(const std::string &archive, Session &session, Open open, const std::string &nameEncoding,
            Operation &&operation, Summary &&summary)
{
    if (!KnownNameEncoding(nameEncoding))
        return 2;
    const InterruptCatcher interrupts;
    int messages = 0;
    auto counting = std::make_unique<CountingInteraction>(messages, session.Quiet());
    const CountingInteraction &listing = *counting;
    ScopedInteraction ui(std::move(counting));
    TZipEngine engine;
    engine.NameEncoding = nameEncoding;
    bool libraryError = false;
    engine.OnMessage = [&libraryError, &session, &listing](TZipEngine &sender, int32_t code, const std::string &text) {
        if (code == 0 && session.Quiet())
            return;
        // The library checks the archive again and names it in front of what it finds;
        // what the listing said already is said once.
        const std::string prefix = sender.ZipFilename() + ": ";
        if (code == 0 && text.compare(0, prefix.size(), prefix) == 0
            && listing.Shown(std::string(text.c_str() + prefix.size())))
            return;
        EraseProgress();
        // The text ends at its first NUL, as a message box would show it.
        std::fprintf(stderr, code == 0 ? "warning: %s\n" : "%s\n", text.c_str());
        if (code != 0)
            libraryError = true;
    };
    bool opened = false;
    engine.Designing = open == Open::Unlisted;
    session.Run([&] {
        engine.SetZipFilename(Absolute(archive));
        opened = true;
    });
    messages = 0; // a message of the open itself ("No valid zip entries found") is no failure
    // A damaged archive makes it a failure, also when the work succeeds.
    const bool damaged = engine.ListDamaged() || session.ErrorReported();
    // The window re-reads the archive after its work to show it; nothing here would
    // show it, and on a large archive the second read costs as much as a delete.
    engine.Designing = true;
    // Noted while the archive was read: the work is not begun.
    bool stopped = Interrupted();
    if (!stopped && (opened || (open != Open::List && !engine.ZipFilename().empty()))) {
        ProgressLine progress(engine, !session.Quiet() && ProgressWanted());
        session.Run([&] { operation(engine); });
        stopped = progress.Stopped();
    }
    std::fflush(stderr);
    if (stopped) {
        std::fprintf(stderr, "%s: interrupted\n", VisibleText(archive).c_str());
        return kInterruptedStatus;
    }
    const bool failed = summary(engine);
    std::fflush(stdout);
    return (damaged || failed || session.ErrorReported() || libraryError || messages > 0) ? 1 : 0;
}

template <class Operation>
int RunOperation(const std::string &archive, Session &session, const char *verb, const std::string &nameEncoding,
                 Operation &&operation, Open open = Open::List)
{
    return RunWith(archive, session, open, nameEncoding, std::forward<Operation>(operation),
                   [verb, &session](const TZipEngine &engine) {
                       if (!session.Quiet())
                           std::printf("%d files were %s\n", engine.ProcessedCount, verb);
                       return false;
                   });
}

// Splits arguments into options (handled by `option`, which returns false for an
// unknown one) and operands; "--" ends the options.
template <class Option>
std::optional<std::vector<std::string>> ParseArgs(const std::vector<std::string> &args, std::size_t from,
                                                  Option &&option)
{
    std::vector<std::string> operands;
    bool optionsDone = false;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (!optionsDone && arg == "--") {
            optionsDone = true;
        } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            SetUsageProblem("unknown option " + arg);
            if (!option(arg, i))
                return std::nullopt;
        } else {
            operands.push_back(arg);
        }
    }
    return operands;
}

} // namespace

namespace {
// "--NAME VALUE" or "--NAME=VALUE" at args[i]; steps i past the value.
bool ValuedOption(const std::vector<std::string> &args, std::size_t &i, const std::string &option, std::string &value)
{
    const std::string &arg = args[i];
    if (arg == option) {
        if (i + 1 >= args.size())
            return SetUsageProblem(option + " needs a value");
        value = args[++i];
        return true;
    }
    if (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0 && arg[option.size()] == '=') {
        value = arg.substr(option.size() + 1);
        return true;
    }
    return false;
}
} // namespace

bool PasswordFileOption(const std::vector<std::string> &args, std::size_t &i, std::string &file)
{
    return ValuedOption(args, i, "--password-file", file);
}

bool NameEncodingOption(const std::vector<std::string> &args, std::size_t &i, std::string &name)
{
    return ValuedOption(args, i, "--name-encoding", name);
}

bool KnownNameEncoding(const std::string &name)
{
    // Empty: not given, the automatic choice.
    if (name.empty() || IsKnownEncoding(name))
        return true;
    std::fprintf(stderr, "unknown name encoding: %s\n", VisibleText(name).c_str());
    return false;
}

namespace {

// Gives the engine the stored names that NAME arguments choose; warns of patterns that
// choose nothing, and fails when nothing at all was chosen. `allAsNone`: an operation
// for which no names means every entry.
void ChooseNames(TZipEngine &engine, const std::vector<std::string> &given, bool allAsNone, const Session &session)
{
    engine.FSpecArgs.clear();
    if (given.empty())
        return;
    std::vector<std::string> stored;
    stored.reserve(engine.DirEntries().size());
    for (const auto &entry : engine.DirEntries())
        stored.push_back(entry.Name());
    ExpandedNames chosen = ExpandNames(given, stored);
    for (const auto &pattern : session.Quiet() ? std::vector<std::string>() : chosen.Unmatched)
        std::fprintf(stderr, "warning: no entry matches %s\n", VisibleText(pattern).c_str());
    if (chosen.Names.empty())
        throw std::runtime_error("no entry matches the names given");
    if (!(chosen.All && allAsNone))
        engine.FSpecArgs = std::move(chosen.Names);
}

// A command that changes an archive must not take a missing one for a new one.
bool ArchiveExists(const std::string &archive)
{
    std::error_code error;
    if (std::filesystem::exists(archive, error))
        return true;
    std::fprintf(stderr, "%s: %s\n", VisibleText(archive).c_str(),
                 (error ? error : std::make_error_code(std::errc::no_such_file_or_directory)).message().c_str());
    return false;
}

bool LoadPasswords(PasswordSource &passwords)
{
    std::string why;
    if (passwords.Load(&why))
        return true;
    std::fprintf(stderr, "%s\n", why.c_str());
    return false;
}

bool ParseLevel(const std::string &text, int32_t &level)
{
    if (text.size() != 1 || text[0] < '0' || text[0] > '9')
        return SetUsageProblem("--level takes a number from 0 to 9, not " + VisibleText(text));
    level = text[0] - '0';
    return true;
}

} // namespace

int RunAdd(const std::vector<std::string> &args, Session &session)
{
    if (args.empty())
        return UsageError("add needs an archive and a path");
    AddOpts options;
    int32_t level = 9;
    bool encrypt = false;
    bool symlinks = false;
    std::string passwordFile, nameEncoding;
    const auto paths = ParseArgs(args, 1, [&](const std::string &arg, std::size_t &i) {
        static const std::pair<const char *, AddOptsEnum> kFlags[] = {
            {"--dir-names", AddDirNames}, {"--recurse", AddRecurseDirs}, {"--move", AddMove},
            {"--freshen", AddFreshen},    {"--update", AddUpdate},       {"--zip-time", AddZipTime},
            {"--force-dos", AddForceDOS}, {"--hidden", AddHiddenFiles},
        };
        for (const auto &[name, value] : kFlags) {
            if (arg == name) {
                options.Include(value);
                return true;
            }
        }
        if (arg == "--encrypt") {
            encrypt = true;
            return true;
        }
        if (arg == "--symlinks") {
            symlinks = true;
            return true;
        }
        if (PasswordFileOption(args, i, passwordFile) || NameEncodingOption(args, i, nameEncoding))
            return true;
        if (arg == "--level") {
            if (i + 1 >= args.size())
                return SetUsageProblem("--level needs a value");
            return ParseLevel(args[++i], level);
        }
        if (arg.rfind("--level=", 0) == 0)
            return ParseLevel(arg.substr(8), level);
        return false;
    });
    if (!paths)
        return UsageError();
    if (paths->empty())
        return UsageError("add needs a path to add");
    PasswordSource passwords(passwordFile);
    Secret password;
    if (!LoadPasswords(passwords))
        return 1;
    if (encrypt) {
        std::string why;
        if (!passwords.ForAdding(password, &why)) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
    }
    return RunOperation(args[0], session, "added", nameEncoding, [&](TZipEngine &engine) {
        if (encrypt)
            engine.SetAddPassword(password);
        engine.AddOptions = options;
        engine.AddCompLevel = level;
        engine.StoreLinks = symlinks;
        engine.FSpecArgs = *paths;
        engine.Add();
    });
}

int RunDelete(const std::vector<std::string> &args, Session &session)
{
    if (args.empty())
        return UsageError("delete needs an archive and a name");
    std::string nameEncoding;
    const auto names = ParseArgs(
        args, 1, [&](const std::string &, std::size_t &i) { return NameEncodingOption(args, i, nameEncoding); });
    if (!names)
        return UsageError();
    if (names->empty())
        return UsageError("delete needs a name to delete");
    if (!ArchiveExists(args[0]))
        return 1;
    // Only patterns need the stored names: otherwise the archive is read once, by the library.
    const bool literal = std::none_of(names->begin(), names->end(), IsNamePattern);
    return RunOperation(
        args[0], session, "deleted", nameEncoding,
        [&](TZipEngine &engine) {
            ChooseNames(engine, *names, false, session);
            engine.Delete();
        },
        literal ? Open::Unlisted : Open::List);
}

int RunExtract(const std::vector<std::string> &args, Session &session)
{
    if (args.empty())
        return UsageError("extract needs an archive");
    // Stored paths are recreated by default, as the window asks for them.
    ExtrOpts options{ExtrDirNames};
    std::string target = ".";
    std::string passwordFile, nameEncoding;
    const auto names = ParseArgs(args, 1, [&](const std::string &arg, std::size_t &i) {
        if (PasswordFileOption(args, i, passwordFile) || NameEncodingOption(args, i, nameEncoding))
            return true;
        if (arg == "-d") {
            if (i + 1 >= args.size())
                return SetUsageProblem("-d needs a directory");
            target = args[++i];
            return true;
        }
        if (arg == "--junk-paths")
            options.Exclude(ExtrDirNames);
        else if (arg == "--overwrite")
            options.Include(ExtrOverWrite);
        else if (arg == "--freshen")
            options.Include(ExtrFreshen);
        else if (arg == "--update")
            options.Include(ExtrUpdate);
        else
            return false;
        return true;
    });
    if (!names)
        return UsageError();
    PasswordSource passwords(passwordFile);
    if (!LoadPasswords(passwords))
        return 1;
    return RunOperation(
        args[0], session, "extracted", nameEncoding,
        [&](TZipEngine &engine) {
            passwords.Attach(engine);
            ChooseNames(engine, *names, true, session);
            // As with unzip -d, the directory is made first; the component would otherwise
            // extract into the current directory.
            std::error_code error;
            std::filesystem::create_directories(target, error);
            if (!std::filesystem::is_directory(target))
                throw std::runtime_error("Cannot create directory " + target);
            engine.ExtrBaseDir = Absolute(target);
            engine.ExtrOptions = options;
            engine.Extract();
        },
        Open::ListAndGoOn);
}

// The archive is not listed first: the library reads it itself, and a damaged archive
// the listing refuses may still have entries to check.
int RunTest(const std::vector<std::string> &args, Session &session)
{
    if (args.empty())
        return UsageError("test needs an archive");
    std::string passwordFile, nameEncoding;
    const auto names = ParseArgs(args, 1, [&](const std::string &, std::size_t &i) {
        return PasswordFileOption(args, i, passwordFile) || NameEncodingOption(args, i, nameEncoding);
    });
    if (!names)
        return UsageError();
    PasswordSource passwords(passwordFile);
    if (!LoadPasswords(passwords))
        return 1;
    int tested = 0;
    // Read first as extract reads it: an archive recovered from its local headers alone
    // tests good entry by entry, and is still damaged.
    return RunWith(
        args[0], session, Open::ListAndGoOn, nameEncoding,
        [&](TZipEngine &engine) {
            passwords.Attach(engine);
            // The progress line follows the reports too.
            engine.OnProgress = [&tested, next = engine.OnProgress](TZipEngine &sender, ProgressType type,
                                                                    const std::string &name, std::int32_t size) {
                if (type == ProgrFile)
                    ++tested;
                if (next)
                    next(sender, type, name, size);
            };
            ChooseNames(engine, *names, true, session);
            engine.Test();
        },
        [&tested, &session](const TZipEngine &engine) {
            const int failed = tested - engine.ProcessedCount;
            if (!session.Quiet())
                std::printf("%d files tested, %d failed\n", tested, failed);
            return failed > 0;
        });
}

} // namespace pellux::cli
