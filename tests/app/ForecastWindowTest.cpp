// The listing says up front what extraction will refuse or change: warnings at open, a
// warning sign with the reason on each such row, and extraction doing what they said.
#include "app/Glyphs.h"
#include "tests/app/WindowFixture.h"

#include <algorithm>
#include <filesystem>
#include <set>

using namespace pellux;
using namespace pellux::test;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

// Every file and link under root, relative to it.
std::set<std::string> Tree(const std::string &root)
{
    std::set<std::string> found;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (!e.is_directory() || e.is_symlink())
            found.insert(fs::relative(e.path(), root).string());
    return found;
}

} // namespace

TEST_F(WindowTest, EntriesExtractionRefusesOrChangesAreNamedAtOpenAndMarkedOnTheirRows)
{
    const std::string archive = dir.File("hostile.zip");
    ASSERT_EQ(
        RunPython(
            "import zipfile, zlib, struct, stat\n"
            "z = zipfile.ZipFile('"
            + archive
            + "', 'w')\n"
              "z.writestr('../../.bashrc', 'a')\n"         // climbs out of the target
              "z.writestr('/etc/cron.d/x', 'b')\n"         // absolute
              "z.writestr('C:\\\\boot.ini', 'c')\n"        // drive prefix: stripped
              "z.writestr('a\\\\..\\\\..\\\\evil', 'd')\n" // backslash traversal
              "link = zipfile.ZipInfo('docs')\n"
              "link.create_system = 3\n"                            // made on Unix, so the mode counts
              "link.external_attr = (stat.S_IFLNK | 0o777) << 16\n" // a symbolic link
              "z.writestr(link, '/home')\n"                         // its target, outside
              "named = zipfile.ZipInfo('note.txt')\n"               // the stored name stays inside
              "path = b'../note.txt'\n"
              "named.extra = struct.pack('<HHBI', 0x7075, 5 + len(path), 1,\n" // Unicode Path field, version 1
              "                          zlib.crc32(b'note.txt')) + path\n"    // CRC of the stored name, then the name
              "z.writestr(named, 'e')\n"
              "z.writestr('setup.sh', 'one')\n" // the same name twice:
              "z.writestr('setup.sh', 'two')\n" // the last one is written
              "z.writestr('ok.txt', 'fine')\n"
              "z.close()\n"),
        0);
    auto w = Start({archive});
    EXPECT_EQ(ui.Log.Warnings,
              (Strings{"absolute names, not extracted: /etc/cron.d/x",
                       "names with \"..\" in their path, not extracted: ../../.bashrc, a\\..\\..\\evil",
                       "names whose Unicode path field leads out of the target, not extracted: ../note.txt",
                       "drive prefixes, removed when extracting: C:\\boot.ini as boot.ini",
                       "symbolic links pointing out of the target, not extracted: docs -> /home",
                       "names stored more than once, only the last of each extracted: setup.sh"}));

    ListingModel &model = w->Listing();
    ASSERT_EQ(model.rowCount(), 9);
    const QImage sign = toolglyphs::Warned().pixmap(14).toImage();
    auto marked = [&](int row) {
        return model.data(model.index(row, ColFilename), Qt::DecorationRole).value<QIcon>().pixmap(14).toImage()
            == sign;
    };
    auto tip = [&](int row, int column = ColFilename) {
        return model.data(model.index(row, column), Qt::ToolTipRole).toString().toStdString();
    };
    for (int row = 0; row < 7; ++row)
        EXPECT_TRUE(marked(row)) << row;
    EXPECT_FALSE(marked(7)); // the setup.sh that is written
    EXPECT_FALSE(marked(8));
    EXPECT_EQ(tip(0), "Not extracted: path leads outside the extraction directory");
    EXPECT_EQ(tip(1, ColPath), "Not extracted: absolute path");
    EXPECT_EQ(tip(2), "Extracted as boot.ini: drive prefix C:\\ removed");
    EXPECT_EQ(tip(4), "Not extracted: symbolic link points outside (/home)");
    EXPECT_EQ(tip(5),
              "Not extracted: its Unicode path field leads out of the extraction directory (stored as "
              "note.txt)");
    EXPECT_EQ(tip(6), "Not extracted: a later entry of the same name is extracted instead");
    EXPECT_EQ(tip(8), "");
    // The texts are the listing's as ever; the mark goes with its row through a sort.
    EXPECT_EQ(w->GetColumnText(2, ColFilename), "boot.ini");
    EXPECT_EQ(w->GetColumnText(2, ColPath), "C:");
    w->ListViewFilesColumnClick(ColFilename);
    for (int row = 0; row < model.rowCount(); ++row) {
        const std::string name = w->GetColumnText(row, ColFilename);
        EXPECT_EQ(tip(row).empty(), name == "ok.txt" || (name == "setup.sh" && !marked(row))) << name;
        if (name == "boot.ini") {
            EXPECT_EQ(tip(row), "Extracted as boot.ini: drive prefix C:\\ removed");
        }
    }

    // Extraction does what the listing said, and nothing lands outside the target.
    const std::string out = dir.File("work/out");
    fs::create_directories(out);
    TZipEngine &engine = w->ZipEngine();
    engine.ExtrBaseDir = out;
    engine.ExtrOptions = {ExtrDirNames};
    const fs::path cwd = fs::current_path(); // extraction enters the target
    engine.Extract();
    fs::current_path(cwd);
    EXPECT_EQ(Tree(out), (std::set<std::string>{"boot.ini", "setup.sh", "ok.txt"}));
    EXPECT_EQ(ReadFile(out + "/setup.sh"), "two");
    EXPECT_EQ(Tree(dir.File("work")), (std::set<std::string>{"out/boot.ini", "out/setup.sh", "out/ok.txt"}));
    EXPECT_FALSE(fs::exists(dir.File("evil")) || fs::exists(dir.File("note.txt")));

    // Without its central directory the entries are recovered from their local headers,
    // and the listing forecasts over those.
    const std::string whole = ReadFile(archive);
    const std::string cut = dir.Write("cut.zip", whole.substr(0, whole.find("PK\x01\x02")));
    ui.Log.Warnings.clear();
    EXPECT_ANY_THROW(w->OpenZipFile(cut)); // the walk ends in a read error, after the entries
    EXPECT_NE(std::find(ui.Log.Warnings.begin(), ui.Log.Warnings.end(), "absolute names, not extracted: /etc/cron.d/x"),
              ui.Log.Warnings.end());
    ASSERT_GE(model.rowCount(), 2);
    EXPECT_EQ(tip(1), "Not extracted: absolute path");
}

TEST_F(WindowTest, ArchivesOfEveryPeerOpenWithoutAWarningOrAMark)
{
    TZipEngine::SetLibraryDirectory("");
    dir.Write("src/a.txt", "alpha\n");
    dir.Write("src/sub/b.txt", std::string(5000, 'b'));
    fs::create_symlink("a.txt", dir.File("src/link"));
    const std::string src = Quote(dir.File("src"));
    ASSERT_EQ(RunShell("cd " + src + " && zip -qry " + Quote(dir.File("zip.zip")) + " ."), 0);
    ASSERT_EQ(RunShell("cd " + src + " && 7z a -tzip -snl -bd " + Quote(dir.File("7z.zip")) + " . >/dev/null"), 0);
    ASSERT_EQ(
        RunPython("import shutil\nshutil.make_archive('" + dir.File("py") + "', 'zip', '" + dir.File("src") + "')\n"),
        0);
    auto w = Start();
    TZipEngine &engine = w->ZipEngine();
    engine.SetZipFilename(dir.File("pellux.zip"));
    engine.AddOptions = {AddDirNames, AddRecurseDirs};
    engine.StoreLinks = true;
    engine.FSpecArgs = {dir.File("src")};
    engine.Add();
    for (const char *name : {"zip.zip", "7z.zip", "py.zip", "pellux.zip"}) {
        ui.Log.Warnings.clear();
        w->OpenZipFile(dir.File(name));
        EXPECT_GE(w->Listing().rowCount(), 3) << name;
        EXPECT_EQ(ui.Log.Warnings, Strings{}) << name;
        for (int row = 0; row < w->Listing().rowCount(); ++row)
            EXPECT_EQ(w->Listing().Warning(row), "") << name << " " << w->GetColumnText(row, ColFilename);
    }
}
