#include "platform/DesktopRegistryStore.h"

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

bool WriteDefaultApplication(const std::string &handler)
{
    const std::string config = ConfigHome();
    if (config.empty() || !IsDesktopName(handler))
        return false;
    const fs::path file = fs::path(config) / "mimeapps.list";
    std::string text;
    if (!ReadWhole(file, text))
        return false;
    return WriteAtomically(file, WithDefaultApplication(text, kZipMimeType, Lower(handler) + ".desktop"));
}

bool WriteDesktopEntry(const std::string &handler, const std::string &command)
{
    const std::string data = DataHome();
    const auto exec = DesktopExec(command);
    if (data.empty() || !exec)
        return false;
    // A complete entry: it shadows an installed one of the same name in the menu.
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name="
        + handler + "\nIcon=" + Lower(handler) + "\nExec=" + *exec + "\nMimeType=" + kZipMimeType
        + ";\n"
          "Categories=Utility;Archiving;Compression;\n"
          "Terminal=false\n";
    return WriteAtomically(fs::path(data) / "applications" / (Lower(handler) + ".desktop"), entry);
}

} // namespace

std::string ConfigHome() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::string DataHome() { return XdgDir("XDG_DATA_HOME", ".local/share"); }

std::optional<std::string> DesktopExec(const std::string &command)
{
    for (const std::string suffix : {" \"%1\"", " %1"}) {
        if (command.size() > suffix.size() && command.ends_with(suffix))
            return EscapeValue(QuoteExecArgument(command.substr(0, command.size() - suffix.size())) + " %f");
    }
    return std::nullopt;
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
