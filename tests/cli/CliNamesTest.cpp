// Names stored in a legacy code page, as Windows writes them in Russian, Japanese,
// Chinese and Western European: pellux-cli lists and extracts them under the user's
// language or the code page named by --name-encoding. The archives come from Python's
// zipfile, made to store the given bytes, flags and host; the expected names come from
// Python's own codecs.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace pellux::test;

namespace {

namespace fs = std::filesystem;

struct CliRun {
    int Status = -1;
    std::string Out, Err;
};

// One entry: its name as text, the code page it is stored in, and how.
struct Name {
    std::string Text;
    std::string CodePage; // a Python codec; "utf-8" with Flagged and Raw for broken UTF-8
    bool Flagged = false;
    bool UnicodePath = false; // adds a Unicode Path field with the text
    std::string Raw;          // Python bytes literal that replaces the encoded text
};

class CliNamesTest : public ::testing::Test {
protected:
    // The locale variables are read, not loaded: the locale need not be installed.
    CliRun Cli(const std::string &args, const std::string &lang = "C")
    {
        CliRun r;
        const std::string err = dir.File("stderr.txt");
        r.Status = RunShell("cd " + Quote(dir.Path().string()) + " && env -u LC_ALL -u LC_CTYPE LANG=" + lang + " "
                                + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli") + " " + args + " 2>" + Quote(err),
                            &r.Out);
        r.Err = ReadFile(err);
        return r;
    }

    // An archive made on MS-DOS (host 0), each entry holding its text in UTF-8.
    std::string Archive(const std::string &file, const std::vector<Name> &names)
    {
        std::string program = R"(
import struct, zipfile, zlib
class Raw(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.raw, self.flag_bits | self.want
def add(z, text, codec, flagged, unicode, raw):
    b = raw if raw is not None else text.encode(codec)
    i = Raw(b.decode('latin-1')); i.raw = b; i.want = 0x800 if flagged else 0; i.create_system = 0
    if unicode:
        u = text.encode(); i.extra = struct.pack('<HHBI', 0x7075, 5 + len(u), 1, zlib.crc32(b)) + u
    z.writestr(i, text.encode())
with zipfile.ZipFile()"
            + Quote(dir.File(file)) + R"(, 'w') as z:
)";
        for (const auto &n : names)
            program += "    add(z, '" + n.Text + "', '" + n.CodePage + "', " + (n.Flagged ? "True" : "False") + ", "
                + (n.UnicodePath ? "True" : "False") + ", " + (n.Raw.empty() ? "None" : n.Raw) + ")\n";
        EXPECT_EQ(RunPython(program), 0) << program;
        return Quote(dir.File(file));
    }

    // The names pellux-cli lists: path and file name columns joined.
    static std::vector<std::string> Listed(const std::string &out)
    {
        std::vector<std::string> names;
        for (std::size_t at = 0; at < out.size();) {
            const std::size_t end = out.find('\n', at);
            const std::string line = out.substr(at, end - at);
            const std::string file = line.substr(0, line.find('\t'));
            const std::string path = line.substr(line.rfind('\t') + 1);
            names.push_back(path.empty() ? file : path + "/" + file);
            at = end == std::string::npos ? out.size() : end + 1;
        }
        return names;
    }

    // Extracts into `into` and checks that every text landed under its name.
    void ExpectExtracted(const std::string &archive, const std::vector<Name> &names, const std::string &into,
                         const std::string &lang, const std::string &options = "")
    {
        const CliRun r = Cli("extract " + archive + " -d " + into + " " + options, lang);
        EXPECT_EQ(r.Status, 0) << r.Err;
        for (const auto &n : names)
            EXPECT_EQ(ReadFile(dir.File(into + "/" + n.Text)), n.Text) << n.Text << " under LANG=" << lang;
    }

    TempDir dir;
};

const std::vector<std::pair<std::string, std::vector<Name>>> kByLanguage = {
    {"ru_RU.UTF-8", {{"Отчёт за май.txt", "cp866"}, {"Папка/Счёт.txt", "cp866"}}},
    {"ja_JP.UTF-8", {{"日本語の資料.txt", "cp932"}, {"ｶﾀｶﾅ.txt", "cp932"}}},
    {"zh_CN.UTF-8", {{"中文文件.txt", "cp936"}, {"目录/简体.txt", "cp936"}}},
    {"de_DE.UTF-8", {{"Café crème.txt", "cp850"}, {"Größe/Übersicht.txt", "cp850"}}},
};

} // namespace

TEST_F(CliNamesTest, LegacyNamesReadInTheLanguagesCodePageOrTheOneNamed)
{
    int n = 0;
    for (const auto &[lang, names] : kByLanguage) {
        SCOPED_TRACE(lang);
        const std::string archive = Archive("legacy" + std::to_string(n) + ".zip", names);
        std::vector<std::string> texts;
        for (const auto &name : names)
            texts.push_back(name.Text);
        const CliRun listed = Cli("list " + archive, lang);
        EXPECT_EQ(listed.Status, 0) << listed.Err;
        EXPECT_EQ(Listed(listed.Out), texts);
        ExpectExtracted(archive, names, "by-lang" + std::to_string(n), lang);

        // Named, under a language of another code page.
        const std::string page = "CP" + names[0].CodePage.substr(2);
        const CliRun named = Cli("list --name-encoding " + page + " " + archive, "el_GR.UTF-8");
        EXPECT_EQ(Listed(named.Out), texts);
        EXPECT_EQ(Cli("test " + archive + " --name-encoding=" + page).Status, 0);
        ++n;
    }
}

// Extraction learns the named code page through the library's name request.
TEST_F(CliNamesTest, ExtractionReadsTheCodePageNamed)
{
    int n = 0;
    for (const auto &[lang, names] : kByLanguage) {
        SCOPED_TRACE(lang);
        const std::string archive = Archive("named" + std::to_string(n) + ".zip", names);
        ExpectExtracted(archive, names, "named" + std::to_string(n), "el_GR.UTF-8",
                        "--name-encoding CP" + names[0].CodePage.substr(2));
        ++n;
    }
}

TEST_F(CliNamesTest, AMatchingUnicodePathFieldWinsOverEveryCodePage)
{
    const std::vector<Name> names = {{"Отчёт за май.txt", "cp866", false, true}};
    const std::string archive = Archive("unicode.zip", names);
    for (const char *lang : {"ja_JP.UTF-8", "ru_RU.UTF-8"}) {
        EXPECT_EQ(Listed(Cli("list " + archive, lang).Out), std::vector<std::string>{names[0].Text}) << lang;
        EXPECT_EQ(Listed(Cli("list --name-encoding CP437 " + archive, lang).Out),
                  std::vector<std::string>{names[0].Text});
    }
    ExpectExtracted(archive, names, "unicode", "ja_JP.UTF-8");
}

TEST_F(CliNamesTest, FlaggedNamesThatAreNotUtf8ShowTheirBadBytesInOneWarning)
{
    const std::string archive = Archive("broken.zip",
                                        {{"", "utf-8", true, false, "b'caf\\xe9.txt'"},
                                         {"", "utf-8", true, false, "b'd\\\\\\xff\\xc3.txt'"},
                                         {"fine é.txt", "utf-8", true}});
    const CliRun r = Cli("list " + archive, "ru_RU.UTF-8");
    EXPECT_EQ(r.Status, 0) << "a warning that only informs";
    EXPECT_EQ(Listed(r.Out), (std::vector<std::string>{"caf\\xE9.txt", "d/\\xFF\\xC3.txt", "fine é.txt"}));
    EXPECT_EQ(r.Err,
              "warning: names flagged as UTF-8 that are not (bad bytes shown as \\xHH): caf\\xE9.txt, "
              "d/\\xFF\\xC3.txt\n");
}

// On disk as in the listing, once the library reads names per archive.
TEST_F(CliNamesTest, FlaggedNamesThatAreNotUtf8AreWrittenAsListed)
{
    const std::string archive = Archive("broken.zip",
                                        {{"", "utf-8", true, false, "b'caf\\xe9.txt'"},
                                         {"", "utf-8", true, false, "b'\\xff\\\\d.txt'"},
                                         {"fine é.txt", "utf-8", true}});
    const CliRun r = Cli("extract " + archive + " -d out", "ru_RU.UTF-8");
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(fs::exists(dir.Path() / "out" / "caf\\xE9.txt"));
    EXPECT_TRUE(fs::exists(dir.Path() / "out" / "fine é.txt"));
    EXPECT_TRUE(fs::exists(dir.Path() / "out" / "\\xFF" / "d.txt"));
}

TEST_F(CliNamesTest, AnUnknownEncodingIsRefusedByName)
{
    const std::string archive = Archive("a.zip", {{"a.txt", "ascii"}});
    for (const std::string &command : {"list " + archive, "extract " + archive + " -d out", "test " + archive,
                                       "delete " + archive + " a.txt", "add " + archive + " a.zip"}) {
        const CliRun r = Cli(command + " --name-encoding NO-SUCH-PAGE");
        EXPECT_EQ(r.Status, 2) << command;
        EXPECT_EQ(r.Err, "unknown name encoding: NO-SUCH-PAGE\n") << command;
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "out"));
    EXPECT_EQ(Listed(Cli("list " + archive).Out), std::vector<std::string>{"a.txt"}) << "the archive is unchanged";
}
