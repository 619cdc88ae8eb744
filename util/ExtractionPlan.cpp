#include "util/ExtractionPlan.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <set>

namespace pellux {

namespace {

constexpr unsigned kHostUnix = 3; // "version made by", high byte (APPNOTE 4.4.2)
constexpr std::uint16_t kMethodAes = 99;

// A name MakeSafeName would keep as it stands: most are, and a million need not be
// split. One pass: no backslash or NUL, no drive, and no component empty, "." or ".."
// (a leading "/" is an empty one).
bool IsPlainPath(std::string_view name)
{
    if (name.empty() || (name.size() >= 2 && name[1] == ':'))
        return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        const char c = i < name.size() ? name[i] : '/';
        if (c == '\\' || c == '\0')
            return false;
        if (c != '/')
            continue;
        const std::size_t length = i - start;
        if (length == 0 || (name[start] == '.' && (length == 1 || (length == 2 && name[start + 1] == '.'))))
            return false;
        start = i + 1;
    }
    return true;
}

// The kinds of forecast, in the order the listing names them.
enum Kind { kNul, kAbsolute, kClimbs, kUnicodeEscape, kEmpty, kDrive, kLinkOut, kNamesake, kKindCount };
constexpr const char *kKindTexts[kKindCount] = {
    "names holding a NUL byte, not extracted: ",
    "absolute names, not extracted: ",
    "names with \"..\" in their path, not extracted: ",
    "names whose Unicode path field leads out of the target, not extracted: ",
    "entries with an empty name, not extracted: ",
    "drive prefixes, removed when extracting: ",
    "symbolic links pointing out of the target, not extracted: ",
    "names stored more than once, only the last of each extracted: ",
};

Kind KindOfRefusal(const std::string &why)
{
    if (why == "absolute path")
        return kAbsolute;
    if (why == "empty name")
        return kEmpty;
    if (why.find("NUL") != std::string::npos)
        return kNul;
    return kClimbs;
}

} // namespace

std::optional<unsigned> UnixMode(const CentralEntry &entry)
{
    const unsigned mode = entry.ExternalAttributes >> 16;
    if ((entry.VersionMadeBy >> 8) != kHostUnix || mode == 0)
        return std::nullopt;
    return mode;
}

bool IsDirectoryEntry(const CentralEntry &entry)
{
    const auto mode = UnixMode(entry);
    const std::string_view name = entry.Name();
    return (!name.empty() && (name.back() == '/' || name.back() == '\\')) || (mode && S_ISDIR(*mode));
}

bool IsLinkEntry(const CentralEntry &entry)
{
    const auto mode = UnixMode(entry);
    return mode && S_ISLNK(*mode) && !IsDirectoryEntry(entry);
}

Landing LandingOf(const CentralEntry &entry, std::string name, bool keepDirs)
{
    Landing landing;
    if (name.find('\0') != std::string::npos) {
        landing.Why = "its name holds a NUL byte";
        return landing;
    }
    name = StripDrive(name, &landing.Drive);
    const bool backslashSeparates = !EscapedBackslashes(entry.Name(), name);
    if (IsDirectoryEntry(entry) && !name.empty() && name.back() != '/')
        name += '/';
    landing.Safe = MakeSafeName(name, keepDirs, &landing.Why, backslashSeparates);
    return landing;
}

std::uint64_t LandingHash(std::string_view path) { return std::hash<std::string_view>{}(path) | 1; }

std::string LandingPath(const SafeName &safe)
{
    std::string path;
    for (const auto &dir : safe.Dirs)
        path += dir + '/';
    return path + safe.Leaf;
}

namespace {

// The indices of the nonzero hashes that another index shares, through a table of
// each hash's first holder: a million names need no sort, only the few that meet do.
// A slot holds its holder's index + 1 (0: free) and, in its top bit, whether that
// holder is listed yet.
template <class Slot>
std::vector<std::size_t> SharedHashes(const std::vector<std::uint64_t> &hashes)
{
    constexpr Slot kListed = Slot{1} << (sizeof(Slot) * 8 - 1);
    int bits = 4;
    while ((std::size_t{1} << bits) < hashes.size() + hashes.size() / 2) // two thirds full at most
        ++bits;
    const std::size_t mask = (std::size_t{1} << bits) - 1;
    std::vector<Slot> table(mask + 1, 0);
    std::vector<std::size_t> shared;
    for (std::size_t i = 0; i < hashes.size(); ++i) {
        if (hashes[i] == 0)
            continue;
        for (std::size_t s = static_cast<std::size_t>(hashes[i] >> (64 - bits));; s = (s + 1) & mask) {
            Slot &slot = table[s];
            if (slot == 0) {
                slot = static_cast<Slot>(i + 1);
                break;
            }
            const auto first = static_cast<std::size_t>((slot & ~kListed) - 1);
            if (hashes[first] == hashes[i]) {
                if (!(slot & kListed)) {
                    shared.push_back(first);
                    slot |= kListed;
                }
                shared.push_back(i);
                break;
            }
        }
    }
    return shared;
}

} // namespace

std::vector<bool> EarlierNamesakes(const std::vector<std::uint64_t> &hashes,
                                   const std::function<std::string(std::size_t)> &pathOf)
{
    std::vector<bool> earlier(hashes.size(), false);
    std::vector<std::size_t> shared = hashes.size() < (std::size_t{1} << 31) ? SharedHashes<std::uint32_t>(hashes)
                                                                             : SharedHashes<std::uint64_t>(hashes);
    std::sort(shared.begin(), shared.end(),
              [&](std::size_t a, std::size_t b) { return hashes[a] != hashes[b] ? hashes[a] < hashes[b] : a < b; });
    for (std::size_t run = 0; run < shared.size();) {
        std::size_t end = run + 1;
        while (end < shared.size() && hashes[shared[end]] == hashes[shared[run]])
            ++end;
        // Equal hashes mostly mean equal paths; the paths themselves decide, each read
        // once (an archive may hold one name a hundred thousand times).
        std::vector<std::pair<std::string, std::size_t>> paths;
        for (std::size_t k = run; k < end; ++k)
            paths.emplace_back(pathOf(shared[k]), shared[k]);
        std::sort(paths.begin(), paths.end());
        for (std::size_t k = 0; k + 1 < paths.size(); ++k)
            if (paths[k].first == paths[k + 1].first)
                earlier[paths[k].second] = true;
        run = end;
    }
    return earlier;
}

std::optional<std::string> ReadLinkTarget(ByteSource &source, const CentralEntry &entry, std::uint64_t dataStart,
                                          std::string *why)
{
    auto fail = [&](const char *text) -> std::optional<std::string> {
        *why = text;
        return std::nullopt;
    };
    if ((entry.Flags & kFlagEncrypted) || entry.Method == kMethodAes)
        return fail("encrypted");
    if (entry.UncompressedSize > kMaxLinkTarget || entry.CompressedSize > 2 * kMaxLinkTarget)
        return fail("its target is too long");
    if (entry.Method != 0 && entry.Method != 8)
        return fail("compressed in a way the listing does not read");
    std::string data(static_cast<std::size_t>(entry.CompressedSize), '\0');
    if (!source.ReadAt(dataStart, data.data(), data.size()))
        return fail("its data cannot be read");
    std::string target;
    if (entry.Method == 0) {
        target = std::move(data);
    } else {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            return fail("its data cannot be read");
        target.resize(static_cast<std::size_t>(entry.UncompressedSize));
        z.next_in = reinterpret_cast<Bytef *>(data.data());
        z.avail_in = static_cast<uInt>(data.size());
        z.next_out = reinterpret_cast<Bytef *>(target.data());
        z.avail_out = static_cast<uInt>(target.size());
        const int result = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        if (result != Z_STREAM_END || z.avail_out != 0)
            return fail("its data is damaged");
    }
    if (target.size() != entry.UncompressedSize
        || crc32(0, reinterpret_cast<const Bytef *>(target.data()), static_cast<uInt>(target.size())) != entry.Crc32)
        return fail("its data is damaged");
    if (target.empty() || target.find('\0') != std::string::npos)
        return fail("not a valid symbolic link");
    return target;
}

ExtractionForecast ForecastExtraction(ByteSource &source, const CentralDirectory &directory,
                                      const std::vector<bool> &refused, const NameDecoding &names)
{
    const auto &entries = directory.Entries;
    std::vector<EntryForecast> found;
    std::vector<std::string> kinds[kKindCount];
    std::vector<std::uint64_t> hashes(entries.size(), 0); // of the files' landing paths
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i < refused.size() && refused[i])
            continue;
        const CentralEntry &c = entries[i];
        const bool isDir = IsDirectoryEntry(c);
        const bool isLink = IsLinkEntry(c);
        // Most files land where their stored names say: those need no copy of the name.
        const auto stored = NameDecoding::AsStored(c);
        if (stored && !isDir && !isLink && IsPlainPath(*stored)) {
            hashes[i] = LandingHash(*stored);
            continue;
        }
        const std::string name = stored ? std::string(*stored) : names.Name(c);
        if (!stored && !isDir && !isLink && IsPlainPath(name)) {
            hashes[i] = LandingHash(name);
            continue;
        }
        const Landing landing = LandingOf(c, name);
        const std::string shown = VisibleName(name);
        if (!landing.Safe) {
            Kind kind = KindOfRefusal(landing.Why);
            std::string why = "Not extracted: " + landing.Why;
            // A Unicode path field may lead out where the stored name itself does not.
            const StoredName bare{c.Name(), {}, c.Flags, c.VersionMadeBy};
            if ((kind == kAbsolute || kind == kClimbs) && KindOfName(StoredNameOf(c)) == NameKind::UnicodePath
                && LandingOf(c, names.Name(bare)).Safe) {
                kind = kUnicodeEscape;
                why = "Not extracted: its Unicode path field leads out of the extraction directory (stored as "
                    + VisibleName(names.Name(bare)) + ")";
            }
            kinds[kind].push_back(shown);
            found.push_back({i, std::move(why)});
            continue;
        }
        const std::string path = LandingPath(*landing.Safe);
        if (!landing.Drive.empty()) {
            kinds[kDrive].push_back(shown + " as " + VisibleName(path));
            found.push_back(
                {i, "Extracted as " + VisibleName(path) + ": drive prefix " + VisibleName(landing.Drive) + " removed"});
        }
        if (isLink) {
            std::string why;
            const auto local = ReadLocalHeader(source, c.LocalOffset);
            const auto target = local ? ReadLinkTarget(source, c, local->DataStart, &why) : std::nullopt;
            // A target the listing cannot read is judged when extraction reads it.
            if (target && !LinkTargetPath(landing.Safe->Dirs, *target)) {
                kinds[kLinkOut].push_back(shown + " -> " + VisibleName(*target));
                found.push_back({i, "Not extracted: symbolic link points outside (" + VisibleName(*target) + ")"});
                continue;
            }
        }
        if (!isDir)
            hashes[i] = LandingHash(path);
    }

    const std::vector<bool> earlier = EarlierNamesakes(hashes, [&](std::size_t i) {
        const Landing landing = LandingOf(entries[i], names.Name(entries[i]));
        return landing.Safe ? LandingPath(*landing.Safe) : std::string();
    });
    std::set<std::string> named;
    for (std::size_t i = 0; i < earlier.size(); ++i) {
        if (!earlier[i])
            continue;
        std::string shown = VisibleName(names.Name(entries[i]));
        found.push_back({i, "Not extracted: a later entry of the same name is extracted instead"});
        if (named.insert(shown).second)
            kinds[kNamesake].push_back(std::move(shown));
    }

    // One forecast per entry, its reasons a line each.
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.Index < b.Index; });
    ExtractionForecast forecast;
    for (auto &f : found) {
        if (!forecast.Entries.empty() && forecast.Entries.back().Index == f.Index)
            forecast.Entries.back().Why += "\n" + f.Why;
        else
            forecast.Entries.push_back(std::move(f));
    }
    for (int kind = 0; kind < kKindCount; ++kind) {
        // Empty names are counted: a list of them would show nothing.
        if (!kinds[kind].empty())
            forecast.Warnings.push_back(
                kKindTexts[kind] + (kind == kEmpty ? std::to_string(kinds[kind].size()) : NameList(kinds[kind])));
    }
    return forecast;
}

} // namespace pellux
