// Entry times beyond the DOS field (extended and NTFS timestamps) and symbolic links
// stored as links: written by libpxzip.so and read back by unzip, Python's zipfile and
// libpxunz.so.
#include "tests/libs/LibDriver.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>

namespace pellux::test {
namespace {

std::time_t Mtime(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

void SetZone(ScopedEnv &env, const std::string &zone)
{
    env.Set("TZ", zone);
    ::tzset();
}

TEST(TimesTest, ExtendedTimestampsKeepTheExactTimeAcrossZonesAndBeyondTheDosRange)
{
    TempDir dir;
    dir.Write("old.txt", "1975");
    dir.Write("late.txt", "2040");
    dir.Write("far.txt", "2110");
    std::filesystem::create_directory(dir.File("sub"));
    ASSERT_EQ(RunIn(dir.Path(),
                    "touch -d '1975-06-03 00:00:00 UTC' old.txt && touch -d '2040-01-01 00:00:00 UTC' "
                    "late.txt && touch -d '2110-06-01 00:00:00 UTC' far.txt && touch -d "
                    "'2030-05-06 07:08:09 UTC' sub"),
              0);
    const std::string archive = dir.File("t.zip");
    {
        ScopedEnv env;
        SetZone(env, "America/New_York");
        ZipOptions options;
        options.Recurse = false;
        ASSERT_EQ(
            RunZip(archive, {dir.File("old.txt"), dir.File("late.txt"), dir.File("far.txt"), dir.File("sub")}, options)
                .Result,
            3);
    }
    // Per entry: the DOS time (New York's), then the field of the central and of the
    // local header (flags and an unsigned time, as zip writes it).
    std::string printed;
    ASSERT_EQ(RunPython("import struct, sys, zipfile\n"
                        "def ut(e):\n"
                        "    while len(e) >= 4:\n"
                        "        k, n = struct.unpack('<HH', e[:4])\n"
                        "        if k == 0x5455: return (n, e[4], struct.unpack('<I', e[5:9])[0])\n"
                        "        e = e[4 + n:]\n"
                        "z = zipfile.ZipFile('"
                            + archive
                            + "')\n"
                              "b = open(z.filename, 'rb').read()\n"
                              "for i in z.infolist():\n"
                              "    n, m = struct.unpack('<HH', b[i.header_offset + 26:i.header_offset + 30])\n"
                              "    at = i.header_offset + 30 + n\n"
                              "    print(i.filename, i.date_time, ut(i.extra), ut(b[at:at + m]))\n",
                        &printed),
              0);
    EXPECT_EQ(printed,
              "old.txt (1980, 1, 1, 0, 0, 0) (5, 1, 170985600) (5, 1, 170985600)\n"
              "late.txt (2039, 12, 31, 19, 0, 0) (5, 1, 2208988800) (5, 1, 2208988800)\n"
              // Past the unsigned field's end too: the last second each field can hold.
              "far.txt (2107, 12, 31, 23, 59, 58) (5, 1, 4294967295) (5, 1, 4294967295)\n"
              "sub/ (2030, 5, 6, 3, 8, 8) (5, 1, 1904281689) (5, 1, 1904281689)\n");
    std::string info;
    RunShell("zipinfo -v " + Quote(archive), &info);
    EXPECT_NE(info.find("(UT extra field modtime): 2040 Jan 1 00:00:00 UTC"), std::string::npos) << info;

    // Read back in another zone, by unzip and by libpxunz.so.
    ScopedEnv env;
    SetZone(env, "Asia/Tokyo");
    TempDir byUnzip;
    TempDir byLib;
    ASSERT_EQ(RunIn(byUnzip.Path(), "TZ=Asia/Tokyo unzip -qq " + Quote(archive)), 0);
    ASSERT_EQ(RunUnz(archive, {}, UnzOptions{}, byLib.Path().string()).Result, 3);
    for (const TempDir *out : {&byUnzip, &byLib}) {
        EXPECT_EQ(Mtime(out->File("old.txt")), 170985600);
        EXPECT_EQ(Mtime(out->File("late.txt")), 2208988800);
        EXPECT_EQ(Mtime(out->File("far.txt")), 4294967295);
        EXPECT_EQ(Mtime(out->File("sub")), 1904281689);
    }
}

// A stored entry "n.txt" (data "n") whose headers both carry `extra`.
std::string EntryWithExtra(const std::string &extra)
{
    ZipBytes z;
    auto header = [&](bool central) {
        z.U32(central ? 0x02014B50 : 0x04034B50);
        if (central)
            z.U16(0x031E);                // made by Unix
        z.U16(10).U16(0).U16(0);          // needed, flags, stored
        z.U32(0x21 << 16);                // DOS: 1980-01-01 00:00
        z.U32(0x7808A3D2u).U32(1).U32(1); // crc-32 of "n", sizes
        z.U16(5).U16(static_cast<std::uint16_t>(extra.size()));
        if (central)
            z.U16(0).U16(0).U16(0).U32(0100644u << 16).U32(0); // comment, disk, attributes, offset
        z.Raw("n.txt").Raw(extra);
    };
    header(false);
    z.Raw("n");
    const auto start = static_cast<std::uint32_t>(z.Size());
    header(true);
    const auto size = static_cast<std::uint32_t>(z.Size()) - start;
    z.U32(0x06054B50).U16(0).U16(0).U16(1).U16(1).U32(size).U32(start).U16(0);
    return z.Str();
}

TEST(TimesTest, NtfsTimesAreReadWhenNoExtendedTimestampIs)
{
    // 2021-03-04 05:06:07.1234567 UTC in 100 ns units since 1601; access and creation later.
    const std::uint64_t ntfs = (1614834367ull + 11644473600ull) * 10000000ull + 1234567;
    const std::string ntfsField = ZipBytes()
                                      .U16(0x000A)
                                      .U16(32)
                                      .U32(0)      // reserved
                                      .U16(0x0001) // the times' tag
                                      .U16(24)
                                      .U64(ntfs)            // modified
                                      .U64(ntfs + 10000000) // accessed
                                      .U64(ntfs + 20000000) // created
                                      .Str();
    const std::string stamp = ZipBytes().U16(0x5455).U16(5).U8(1).U32(1600000000).Str();
    struct Case {
        std::string Extra;
        std::time_t Expected;
    };
    for (const Case &c :
         {Case{ntfsField, 1614834367}, Case{stamp + ntfsField, 1600000000}, Case{ntfsField + stamp, 1600000000}}) {
        TempDir dir;
        const std::string archive = dir.Write("n.zip", EntryWithExtra(c.Extra));
        ASSERT_EQ(RunShell("unzip -tqq " + Quote(archive) + " >/dev/null"), 0);
        TempDir out;
        ASSERT_EQ(RunUnz(archive, {}, UnzOptions{}, out.Path().string()).Result, 1);
        EXPECT_EQ(Mtime(out.File("n.txt")), c.Expected);
    }
}

TEST(LinksTest, SymlinksAreStoredAsLinksAndComeBackAsLinks)
{
    TempDir dir;
    dir.Write("tree/sub/real.txt", "real");
    std::filesystem::create_symlink("sub/real.txt", dir.File("tree/rel"));
    std::filesystem::create_symlink("../missing", dir.File("tree/sub/dangling"));
    const std::string cli = Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli");
    // The dangling link cannot be followed: reported, and the rest added.
    ASSERT_EQ(RunIn(dir.Path(), cli + " add plain.zip --dir-names --recurse tree >/dev/null 2>&1"), 1);
    ASSERT_EQ(RunIn(dir.Path(), cli + " add links.zip --dir-names --recurse --symlinks tree >/dev/null"), 0);
    // Without the option the link is followed (and the dangling one left out).
    std::string listing;
    RunShell("zipinfo " + Quote(dir.File("plain.zip")) + " tree/rel tree/sub/dangling", &listing);
    EXPECT_NE(listing.find("-rw"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("dangling"), std::string::npos) << listing;
    // With it: Unix mode with S_IFLNK, made by Unix, the target as stored data.
    std::string printed;
    ASSERT_EQ(RunPython("import zipfile\n"
                        "z = zipfile.ZipFile('"
                            + dir.File("links.zip")
                            + "')\n"
                              "for n in ('tree/rel', 'tree/sub/dangling'):\n"
                              "    i = z.getinfo(n)\n"
                              "    print(n, i.create_system, oct(i.external_attr >> 16), i.compress_type, z.read(n))\n",
                        &printed),
              0);
    EXPECT_EQ(printed, "tree/rel 3 0o120777 0 b'sub/real.txt'\ntree/sub/dangling 3 0o120777 0 b'../missing'\n");

    TempDir byUnzip;
    TempDir byCli;
    ASSERT_EQ(RunIn(byUnzip.Path(), "unzip -qq " + Quote(dir.File("links.zip"))), 0);
    ASSERT_EQ(RunIn(byCli.Path(), cli + " extract " + Quote(dir.File("links.zip")) + " >/dev/null"), 0);
    for (const TempDir *out : {&byUnzip, &byCli}) {
        EXPECT_TRUE(std::filesystem::is_symlink(out->File("tree/rel")));
        EXPECT_EQ(std::filesystem::read_symlink(out->File("tree/rel")), "sub/real.txt");
        EXPECT_EQ(std::filesystem::read_symlink(out->File("tree/sub/dangling")), "../missing");
        EXPECT_EQ(ReadFile(out->File("tree/rel")), "real");
    }
}

} // namespace
} // namespace pellux::test
