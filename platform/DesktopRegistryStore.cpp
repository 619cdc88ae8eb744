#include "platform/DesktopRegistryStore.h"

#include "platform/DesktopEntryTemplate.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

namespace fs = std::filesystem;

namespace {

constexpr const char *kZipMimeType = "application/zip";

bool SameName(const std::string &a, const char *b)
{
    const std::string other(b);
    return a.size() == other.size() && std::equal(a.begin(), a.end(), other.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

// A desktop file id is made of letters, digits, '-', '_' and '.'; a handler name that is
// not cannot name a file in applications/.
bool IsDesktopName(const std::string &name)
{
    return !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
            || c == '.';
    });
}

enum class Mapped { None, Root, Extension, OpenCommand };

Mapped Classify(const RegistryKey &key)
{
    if (key.Root != RootKey::ClassesRoot)
        return Mapped::None;
    const auto &p = key.Path;
    if (p.empty())
        return Mapped::Root;
    if (p.size() == 1 && SameName(p[0], ".zip"))
        return Mapped::Extension;
    if (p.size() == 4 && IsDesktopName(p[0]) && SameName(p[1], "shell") && SameName(p[2], "open")
        && SameName(p[3], "command"))
        return Mapped::OpenCommand;
    return Mapped::None;
}

std::string HomeDir()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string XdgDir(const char *variable, const char *fallbackBelowHome)
{
    // XDG base directories: a relative path in the variable is invalid.
    if (const char *value = std::getenv(variable); value && value[0] == '/')
        return value;
    const std::string home = HomeDir();
    return home.empty() ? std::string() : home + '/' + fallbackBelowHome;
}

// A missing file reads as empty; one that exists but cannot be read is a failure.
bool ReadWhole(const fs::path &path, std::string &text)
{
    text.clear();
    std::error_code ec;
    if (!fs::exists(path, ec))
        return !ec;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return !in.bad();
}

// Writes the file beside itself and renames it into place, so a reader sees the old
// text or the new one. A symbolic link (a dotfile manager's) stays and its target is
// written; an existing file keeps its permissions.
bool WriteAtomically(const fs::path &path, const std::string &text)
{
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        target = fs::weakly_canonical(path, ec);
        if (ec)
            return false;
    }
    fs::create_directories(target.parent_path(), ec);
    if (ec)
        return false;
    std::string temp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    struct stat old {};
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

std::string Trim(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsGroupHeader(const std::string &line) { return !line.empty() && line.front() == '['; }

// The key of a "key=value" line; empty for comments, blanks and headers.
std::string KeyOf(const std::string &line)
{
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#' || trimmed.front() == '[')
        return {};
    const auto eq = trimmed.find('=');
    return eq == std::string::npos ? std::string() : Trim(trimmed.substr(0, eq));
}

// The argument quoting that desktop files require in their Exec key.
std::string QuoteExecArgument(const std::string &argument)
{
    const bool needsQuotes = argument.empty() || argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string quoted;
    for (char c : argument) {
        if (c == '%')
            quoted += "%%";
        else if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += std::string("\\") + c;
        else
            quoted += c;
    }
    return needsQuotes ? '"' + quoted + '"' : quoted;
}

// The escapes of a desktop file's string values, applied over the argument quoting.
std::string EscapeValue(const std::string &value)
{
    std::string escaped;
    for (char c : value) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

// The value of key in the group named header, raw (escapes left in); nothing when absent.
std::optional<std::string> ValueOf(const std::string &text, const std::string &header, const std::string &key)
{
    bool inGroup = false;
    for (const auto &line : Lines(text)) {
        const std::string trimmed = Trim(line);
        if (IsGroupHeader(trimmed))
            inGroup = trimmed == header;
        else if (inGroup && KeyOf(trimmed) == key)
            return Trim(trimmed.substr(trimmed.find('=') + 1));
    }
    return std::nullopt;
}

// The desktop-specific lists of $XDG_CURRENT_DESKTOP, which take precedence over
// mimeapps.list on their desktops.
std::vector<std::string> DesktopListNames()
{
    std::vector<std::string> names;
    const char *current = std::getenv("XDG_CURRENT_DESKTOP");
    for (const auto &desktop : Split(current ? current : "", ':')) {
        const std::string name = Lower(desktop) + "-mimeapps.list";
        if (IsDesktopName(desktop) && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

bool WriteDefaultApplication(const std::string &handler)
{
    const std::string config = ConfigHome();
    if (config.empty() || !IsDesktopName(handler))
        return false;
    const std::string id = Lower(handler) + ".desktop";
    const fs::path file = fs::path(config) / "mimeapps.list";
    std::string text;
    if (!ReadWhole(file, text) || !WriteAtomically(file, WithDefaultApplication(text, kZipMimeType, id)))
        return false;
    // A desktop's own list that names another default would keep it there; one that
    // names none leaves the choice to mimeapps.list and stays untouched.
    for (const auto &name : DesktopListNames()) {
        const fs::path list = fs::path(config) / name;
        if (!ReadWhole(list, text))
            return false;
        const auto named = ValueOf(text, "[Default Applications]", kZipMimeType);
        if (!named || named->empty() || Trim(Split(*named, ';').front()) == id)
            continue;
        if (!WriteAtomically(list, WithDefaultApplication(text, kZipMimeType, id)))
            return false;
    }
    return true;
}

// PROGRAM of a shell command "PROGRAM "%1"" (or "PROGRAM %1").
std::optional<std::string> ProgramOf(const std::string &command)
{
    for (const std::string suffix : {" \"%1\"", " %1"}) {
        if (command.size() > suffix.size() && command.ends_with(suffix))
            return command.substr(0, command.size() - suffix.size());
    }
    return std::nullopt;
}

// The program an Exec value starts: its first argument after the string escapes, the
// argument quoting and "%%".
std::string ExecProgram(const std::string &value)
{
    std::string exec;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            exec += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            exec += value[i];
        }
    }
    std::string program;
    if (!exec.empty() && exec.front() == '"') {
        for (std::size_t i = 1; i < exec.size() && exec[i] != '"'; ++i)
            program += exec[i] == '\\' && i + 1 < exec.size() ? exec[++i] : exec[i];
    } else {
        program = exec.substr(0, exec.find(' '));
    }
    for (std::size_t at = 0; (at = program.find("%%", at)) != std::string::npos; ++at)
        program.replace(at, 2, "%");
    return program;
}

// The file a launcher starts for an Exec program: a bare name is searched on PATH.
fs::path ResolveProgram(const std::string &program)
{
    if (program.find('/') != std::string::npos)
        return program.front() == '/' ? fs::path(program) : fs::path();
    const char *path = std::getenv("PATH");
    for (const auto &dir : Split(path && *path ? path : "/usr/local/bin:/usr/bin:/bin", ':')) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / program;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// The entry a launcher finds first in $XDG_DATA_DIRS for the desktop file id.
fs::path InstalledEntry(const std::string &id)
{
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    for (const auto &dir : Split(dirs && *dirs ? dirs : "/usr/local/share:/usr/share", ':')) {
        std::error_code ec;
        const fs::path entry = fs::path(dir) / "applications" / id;
        if (!dir.empty() && dir.front() == '/' && fs::is_regular_file(entry, ec))
            return entry;
    }
    return {};
}

// An installed entry serves when it opens ZIP archives with this very program.
bool ServesProgram(const std::string &entry, const std::string &program)
{
    const std::string group = "[Desktop Entry]";
    if (ValueOf(entry, group, "Type") != "Application" || ValueOf(entry, group, "Hidden") == "true")
        return false;
    const auto types = Split(ValueOf(entry, group, "MimeType").value_or(""), ';');
    if (std::find(types.begin(), types.end(), kZipMimeType) == types.end())
        return false;
    const fs::path started = ResolveProgram(ExecProgram(ValueOf(entry, group, "Exec").value_or("")));
    std::error_code ec;
    return !started.empty() && fs::equivalent(started, program, ec) && !ec;
}

constexpr const char *kOwnKey = "X-Pellux-Association";

// A user entry that the association wrote: marked by our key, or in the exact layout of
// the entries written before the mark.
bool WrittenByUs(const std::string &text, const std::string &handler)
{
    if (ValueOf(text, "[Desktop Entry]", kOwnKey))
        return true;
    const std::vector<std::string> earlier = {"[Desktop Entry]",
                                              "Type=Application",
                                              "Name=" + handler,
                                              "Icon=" + Lower(handler),
                                              "Exec=",
                                              std::string("MimeType=") + kZipMimeType + ';',
                                              "Categories=Utility;Archiving;Compression;",
                                              "Terminal=false"};
    const auto lines = Lines(text);
    return lines.size() == earlier.size()
        && std::equal(lines.begin(), lines.end(), earlier.begin(),
                      [](auto &l, auto &e) { return e == "Exec=" ? l.starts_with(e) : l == e; });
}

// The packaged entry with our program's Exec, and our mark at the end of its main group.
std::string CompleteEntry(const std::string &exec)
{
    std::vector<std::string> lines = Lines(kPackagedDesktopEntry);
    bool inMain = false;
    auto end = lines.end();
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        const std::string trimmed = Trim(*it);
        if (IsGroupHeader(trimmed)) {
            if (inMain) {
                end = it;
                break;
            }
            inMain = trimmed == "[Desktop Entry]";
        } else if (inMain && KeyOf(trimmed) == "Exec") {
            *it = "Exec=" + exec;
        }
    }
    while (end != lines.begin() && Trim(*(end - 1)).empty())
        --end;
    lines.insert(end, std::string(kOwnKey) + "=true");
    std::string text;
    for (const auto &line : lines)
        text += line + '\n';
    return text;
}

bool WriteDesktopEntry(const std::string &handler, const std::string &command)
{
    const std::string data = DataHome();
    const auto program = ProgramOf(command);
    const auto exec = DesktopExec(command);
    if (data.empty() || !program || !exec)
        return false;
    const std::string id = Lower(handler) + ".desktop";
    const fs::path user = fs::path(data) / "applications" / id;
    std::string text;
    // An installed entry for this program is used as it is: a user copy would hide it
    // with its keys and types frozen, and outlive the package.
    if (const fs::path installed = InstalledEntry(id); !installed.empty()) {
        if (ReadWhole(installed, text) && ServesProgram(text, *program)) {
            if (!ReadWhole(user, text))
                return false;
            std::error_code ec;
            return text.empty() || !WrittenByUs(text, handler) || fs::remove(user, ec) || !ec;
        }
    }
    // A complete entry: it shadows an installed one of the same name in the menu.
    return WriteAtomically(user, CompleteEntry(*exec));
}

} // namespace

std::string ConfigHome() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::string DataHome() { return XdgDir("XDG_DATA_HOME", ".local/share"); }

std::optional<std::string> DesktopExec(const std::string &command)
{
    const auto program = ProgramOf(command);
    return program ? std::optional(EscapeValue(QuoteExecArgument(*program) + " %f")) : std::nullopt;
}

std::string WithDefaultApplication(const std::string &text, const std::string &mimeType, const std::string &desktopId)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const std::string owned = mimeType + '=' + desktopId;

    const auto header = std::find_if(lines.begin(), lines.end(),
                                     [](const std::string &l) { return Trim(l) == "[Default Applications]"; });
    if (header == lines.end()) {
        if (!lines.empty() && !Trim(lines.back()).empty())
            lines.emplace_back();
        lines.emplace_back("[Default Applications]");
        lines.push_back(owned);
    } else {
        const auto begin = header + 1;
        const auto end = std::find_if(begin, lines.end(), IsGroupHeader);
        auto first = std::find_if(begin, end, [&](const std::string &l) { return KeyOf(l) == mimeType; });
        if (first != end) {
            *first = owned;
            // A second line for the type would override ours in some readers.
            lines.erase(std::remove_if(first + 1, end, [&](const std::string &l) { return KeyOf(l) == mimeType; }),
                        end);
        } else {
            // After the group's last line that is not blank, before the blank lines that part it from the next.
            auto at = end;
            while (at != begin && Trim(*(at - 1)).empty())
                --at;
            lines.insert(at, owned);
        }
    }
    std::string result;
    for (const auto &line : lines)
        result += line + '\n';
    return result;
}

std::optional<RegistryKey> DesktopRegistryStore::OpenKey(const RegistryKey &Base, const std::string &SubPath, bool)
{
    RegistryKey key = Base;
    for (auto &name : SplitKeyPath(SubPath))
        key.Path.push_back(std::move(name));
    if (Classify(key) == Mapped::None)
        return std::nullopt;
    return key;
}

bool DesktopRegistryStore::SetString(const RegistryKey &Key, const std::string &Name, const std::string &Value)
{
    if (!Name.empty())
        return false;
    switch (Classify(Key)) {
    case Mapped::Extension:
        return WriteDefaultApplication(Value);
    case Mapped::OpenCommand:
        return WriteDesktopEntry(Key.Path[0], Value);
    default:
        return false;
    }
}

} // namespace pellux
