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
    ASSERT_EQ(RunIn(dir.Path(), "touch -d '1975-06-03 00:00:00 UTC' old.txt && touch -d '2040-01-01 00:00:00 UTC' "
                                "late.txt && touch -d '2110-06-01 00:00:00 UTC' far.txt && touch -d "
                                "'2030-05-06 07:08:09 UTC' sub"),
              0);
    const std::string archive = dir.File("t.zip");
    {
        ScopedEnv env;
        SetZone(env, "America/New_York");
        ZipOptions options;
        options.Recurse = false;
        ASSERT_EQ(RunZip(archive, {dir.File("old.txt"), dir.File("late.txt"), dir.File("far.txt"), dir.File("sub")},
                         options)
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

} // namespace
} // namespace pellux::test
