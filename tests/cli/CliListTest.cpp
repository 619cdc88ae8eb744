// pellux-cli list, run as a user runs it: stdout, stderr and the exit status.
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

using namespace pellux::test;

namespace {

struct CliRun {
    int Status = -1;
    std::string Out, Err;
};

class CliListTest : public ::testing::Test {
protected:
    CliRun Cli(const std::string &args, const std::string &env = "LC_ALL=C")
    {
        CliRun r;
        const std::string err = dir.File("stderr.txt");
        r.Status = RunShell(
            env + " " + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli") + " " + args + " 2>" + Quote(err), &r.Out);
        r.Err = ReadFile(err);
        return r;
    }
    TempDir dir;
};

} // namespace

TEST_F(CliListTest, PrintsOneTabSeparatedLinePerEntry)
{
    ZipBytes z;
    z.LocalHeader("docs/sub/a.txt", std::string(1000, 'a'), DosDateTime(1999, 12, 31, 23, 59, 0))
        .LocalHeader("empty/", "", DosDateTime(2024, 2, 29, 8, 5, 0))
        .EndRecord();
    const CliRun r = Cli("list " + Quote(dir.Write("a.zip", z.Str())));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out,
              "a.txt\t12/31/1999\t23:59\t1000\t \t1000\tdocs/sub\n"
              "empty/\t02/29/2024\t08:05\t \t \t \t\n");
    EXPECT_EQ(r.Err, "");
}

TEST_F(CliListTest, CodePage437NamesArePrintedAsUtf8)
{
    ZipBytes z;
    z.LocalHeader("gr\x94\xE1"
                  "e.txt",
                  "x")
        .EndRecord();
    const CliRun r = Cli("list " + Quote(dir.Write("cp.zip", z.Str())));
    EXPECT_EQ(r.Out.substr(0, r.Out.find('\t')),
              "gr\xC3\xB6\xC3\x9F"
              "e.txt");
}

TEST_F(CliListTest, MessagesGoToStderrAsTheWindowShowsThem)
{
    ZipBytes none;
    none.EndRecord();
    const CliRun empty = Cli("list " + Quote(dir.Write("empty.zip", none.Str())));
    EXPECT_EQ(empty.Status, 0); // a message, not an error
    EXPECT_EQ(empty.Out, "");
    EXPECT_EQ(empty.Err, "No valid zip entries found\n");

    // A missing archive is an error, not a new one, whatever the form of the listing.
    for (const char *form : {"", " --long", " --json"}) {
        const CliRun missing = Cli("list " + Quote(dir.File("missing.zip")) + form);
        EXPECT_EQ(missing.Status, 1) << form;
        EXPECT_EQ(missing.Out, "") << form;
        EXPECT_EQ(missing.Err, dir.File("missing.zip") + ": No such file or directory\n") << form;
    }

    const CliRun text = Cli("list " + Quote(dir.Write("notes.zip", "just some notes\n")));
    EXPECT_EQ(text.Status, 1); // no archive at all
    EXPECT_EQ(text.Err, "No valid zip entries found\n");
}

TEST_F(CliListTest, DisguisedNamesAndDamageAreWarningsAndExitWithOne)
{
    ZipBytes z;
    z.LocalHeader("tab\there.txt", "1", DosDateTime(2000, 1, 1, 0, 0, 0))
        .LocalHeader("unlisted.txt", "2", DosDateTime(2000, 1, 1, 0, 0, 0))
        .EndRecord();
    // Drop the second entry from the directory: cut its central header out and fix the end record.
    std::string bytes = z.Str();
    const std::size_t first = bytes.find("PK\x01\x02");
    const std::size_t second = bytes.find("PK\x01\x02", first + 1);
    const std::size_t end = bytes.find("PK\x05\x06");
    bytes.erase(second, end - second);
    const std::size_t fixedEnd = bytes.find("PK\x05\x06");
    bytes[fixedEnd + 8] = bytes[fixedEnd + 10] = 1;           // entries on this disk, total
    bytes[fixedEnd + 12] = static_cast<char>(second - first); // directory size: one header
    const CliRun r = Cli("list " + Quote(dir.Write("d.zip", bytes)));
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out,
              "tab\\x09here.txt\t01/01/2000\t00:00\t1\t \t1\t\n"
              "unlisted.txt\t01/01/2000\t00:00\t1\t \t1\t\n");
    EXPECT_EQ(r.Err,
              "warning: not in the central directory, so not extracted: unlisted.txt\n"
              "warning: names with control or direction characters: tab\\x09here.txt\n");

    // With --json the warnings are in the document; a failing listing repeats them on stderr.
    const CliRun json = Cli("list --json " + Quote(dir.File("d.zip")));
    EXPECT_EQ(json.Status, 1);
    EXPECT_NE(json.Out.find("\"not in the central directory, so not extracted: unlisted.txt\""), std::string::npos);
    EXPECT_EQ(json.Err, r.Err);

    // A warning that only informs is no failure.
    ZipBytes tab;
    tab.LocalHeader("tab\there.txt", "1").EndRecord();
    const CliRun informed = Cli("list " + Quote(dir.Write("t.zip", tab.Str())));
    EXPECT_EQ(informed.Status, 0);
    EXPECT_EQ(informed.Err, "warning: names with control or direction characters: tab\\x09here.txt\n");
}

TEST_F(CliListTest, ReadErrorKeepsRowsReadBeforeItAndExitsWithOne)
{
    ZipBytes z;
    z.LocalHeader("first.txt", "1", DosDateTime(2000, 1, 1, 0, 0, 0)).Fill(26, 'x');
    const CliRun r = Cli("list " + Quote(dir.Write("bad.zip", z.Str())));
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "first.txt\t01/01/2000\t00:00\t1\t \t1\t\n");
    EXPECT_EQ(r.Err, "Error reading Zip File.\n");

    const std::string fifo = dir.File("pipe.zip");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const CliRun open = Cli("list " + Quote(fifo));
    EXPECT_EQ(open.Status, 1);
    EXPECT_EQ(open.Err, "Cannot open file " + fifo + ".\n");
}

// One archive as 7-Zip, Info-ZIP zip and Python's zipfile write them: AES and ZipCrypto
// entries, a directory, links stored and deflated (and one without a target), a name in
// code page 437 and one flagged UTF-8 that is not. Python reads the JSON listing and
// holds every field against what the writers stored.
TEST_F(CliListTest, LongAndJsonListingsShowWhatThePeersStored)
{
    const std::string at = "cd " + Quote(dir.Path().string()) + " && ";
    ASSERT_EQ(RunShell(at + "umask 022 && mkdir d && printf 'hello\\n' >d/a.txt"
                       + " && ln -s \"$(printf './%.0s' $(seq 100))a.txt\" d/link"
                       + " && printf 'hello %.0s' $(seq 100) >zc.txt && printf 'secret %.0s' $(seq 50) >aes.txt"
                       + " && chmod 640 d/a.txt && chmod 750 d && chmod 600 zc.txt"
                       + " && touch -h -d '2021-03-04 05:06:07 UTC' d/a.txt d/link zc.txt aes.txt d"
                       + " && 7z a -tzip -bd -bso0 -ppw -mem=AES256 all.zip aes.txt"
                       + " && zip -q -y -r all.zip d && zip -q -P pw all.zip zc.txt"),
              0);
    std::string out;
    EXPECT_EQ(RunPython(R"(
import json, os, subprocess, zipfile
archive, cli = )" + std::string("'")
                            + dir.File("all.zip") + "', '" + std::string(PELLUX_BIN_DIR) + "/pellux-cli'" + R"(
class Raw(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.raw, self.flag_bits | self.want
def link(name, data, method=zipfile.ZIP_STORED):
    i = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6)); i.create_system = 3; i.external_attr = 0o120777 << 16
    i.compress_type = method
    z.writestr(i, data)
target = './' * 100 + 'a.txt'
with zipfile.ZipFile(archive, 'a') as z:
    link('d/deflated-link', target.encode(), zipfile.ZIP_DEFLATED)
    link('d/broken-link', b'')
    link('d/up', b'../../etc')
    for raw, flags in ((b'caf\x82.txt', 0), (b'bad\xff.txt', 0x800)):
        i = Raw(raw.decode('latin-1'), (1999, 12, 31, 23, 59, 58)); i.raw = raw; i.want = flags; i.create_system = 0
        z.writestr(i, b'x')
    stored = {i.filename: i for i in z.infolist()}
# The raw names as the listing shows them: code page 437, and the bad byte escaped.
stored['caf\xe9.txt'], stored['bad\\xFF.txt'] = stored['caf\x82.txt'], stored['bad\xff.txt']
r = subprocess.run([cli, 'list', archive, '--json'], capture_output=True, env=dict(os.environ, TZ='EST5', LC_ALL='C'))
assert r.returncode == 0 and r.stderr == b'', r
doc = json.loads(r.stdout)
assert doc['archive'] == archive, doc['archive']
assert doc['warnings'] == ['symbolic links pointing out of the target, not extracted: d/up -> ../../etc',
                           'names flagged as UTF-8 that are not (bad bytes shown as \\xHH): bad\\xFF.txt',
                           'cannot read the target of symbolic link d/broken-link: not a valid symbolic link'], doc['warnings']
ut, dos = '2021-03-04T00:06:07-05:00', '2020-01-02T03:04:06-05:00'
def entry(name, size, method, mode, mtime, encryption='none', link=None, warning=None):
    return dict(name=name, size=size, method=method, mode=mode, mtime=mtime, encryption=encryption,
                encrypted=encryption != 'none', link=link, warning=warning, packed=stored[name].compress_size,
                crc='%08x' % stored[name].CRC)
want = [entry('aes.txt', 350, 'Deflate', '-rw-r--r--', ut, 'AES-256'),
        entry('d/', 0, 'Stored', 'drwxr-x---', ut),
        entry('d/link', len(target), 'Stored', 'lrwxrwxrwx', ut, link=target),
        entry('d/a.txt', 6, 'Stored', '-rw-r-----', ut),
        entry('zc.txt', 600, 'Deflate', '-rw-------', ut, 'ZipCrypto'),
        entry('d/deflated-link', len(target), 'Deflate', 'lrwxrwxrwx', dos, link=target),
        entry('d/broken-link', 0, 'Stored', 'lrwxrwxrwx', dos),
        entry('d/up', 9, 'Stored', 'lrwxrwxrwx', dos, link='../../etc',
              warning='Not extracted: symbolic link points outside (../../etc)'),
        entry('caf\xe9.txt', 1, 'Stored', '-rw-r--r--', '1999-12-31T23:59:58-05:00'),
        entry('bad\\xFF.txt', 1, 'Stored', '-rw-r--r--', '1999-12-31T23:59:58-05:00')]
for got, expected in zip(doc['entries'], want):
    assert got == expected, (got, expected)
assert len(doc['entries']) == len(want), doc['entries']
print('ok')
)",
                        &out),
              0);
    EXPECT_EQ(out, "ok\n");

    const CliRun r = Cli("list --long " + Quote(dir.File("all.zip")), "LC_ALL=C TZ=EST5");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(
        r.Out.substr(0, r.Out.find('\n') + 1),
        "Mode        Method             Size        Packed  CRC-32    Encryption  Modified                   Name\n");
    EXPECT_NE(r.Out.find("\n-rw-r-----  Stored                6             6  363a3020  none        "
                         "2021-03-04T00:06:07-05:00  d/a.txt\n"),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 11);
}

TEST_F(CliListTest, LocaleDateSeparator)
{
    // A German locale compiled into the test's own folder: "%d.%m.%Y" gives ".".
    const std::string locales = dir.File("locales");
    if (RunShell("mkdir -p " + Quote(locales) + " && localedef -i de_DE -f UTF-8 " + Quote(locales + "/de_DE.UTF-8")
                 + " >/dev/null 2>&1")
        != 0)
        GTEST_SKIP() << "localedef or the de_DE locale source is not available";
    ZipBytes z;
    z.LocalHeader("a", "1", DosDateTime(1999, 12, 31, 23, 59, 0)).EndRecord();
    const CliRun r =
        Cli("list " + Quote(dir.Write("a.zip", z.Str())), "LOCPATH=" + Quote(locales) + " LC_ALL=de_DE.UTF-8");
    EXPECT_EQ(r.Out, "a\t12.31.1999\t23:59\t1\t \t1\t\n");
}

TEST_F(CliListTest, WrongUsageExitsWithTwo)
{
    EXPECT_EQ(Cli("").Status, 2);
    EXPECT_EQ(Cli("list").Status, 2);
    EXPECT_EQ(Cli("list a.zip b.zip").Status, 2);
    EXPECT_EQ(Cli("list --long --json a.zip").Status, 2);
    EXPECT_EQ(Cli("frobnicate a.zip").Status, 2);
}
