// The two parameter blocks as SetZipParams / SetUnzParams fill them from the options.
#include "zip/ZipEngine.h"

#include <gtest/gtest.h>

namespace pellux {
namespace {

constexpr int32_t T = PX_TRUE;
constexpr int32_t F = PX_FALSE;

TEST(ZipBlockTest, EmptyOptionsGiveTheFixedValuesAndStrippedNames)
{
    TZipEngine engine;
    engine.SetZipParams();
    const auto &p = engine.ZipExecParams;
    EXPECT_EQ(p.Handle, 0);
    EXPECT_EQ(p.CallerObject, &engine);
    EXPECT_EQ(p.InterfaceVersion, 120);
    EXPECT_EQ(p.CallbackProc, &TZipEngine::LibCallback);
    EXPECT_EQ(p.CheckValue, 7);
    // Fixed switches.
    EXPECT_EQ(p.Switch05, F);
    EXPECT_EQ(p.Switch06, 0);
    EXPECT_EQ(p.Switch07, F);
    EXPECT_EQ(p.Switch09, F);
    EXPECT_EQ(p.Switch10, F);
    EXPECT_EQ(p.Switch11, T);
    EXPECT_EQ(p.Switch12, F);
    EXPECT_EQ(p.Switch14, T);
    EXPECT_EQ(p.Switch16, F);
    EXPECT_EQ(p.Switch17, F);
    EXPECT_EQ(p.Switch20, T);
    EXPECT_EQ(p.Switch26, F);
    EXPECT_EQ(p.EncryptFlag, 0);
    EXPECT_EQ(p.StoreLinksFlag, 0);
    // From the (empty) options.
    EXPECT_EQ(p.StripDirNamesFlag, T);
    EXPECT_EQ(p.RecurseFlag, F);
    EXPECT_EQ(p.HiddenFilesFlag, F);
    EXPECT_EQ(p.ForceDosFlag, F);
    EXPECT_EQ(p.MoveFlag, F);
    EXPECT_EQ(p.DeleteEntriesFlag, F);
    EXPECT_EQ(p.UpdateFlag, F);
    EXPECT_EQ(p.FreshenFlag, F);
    EXPECT_EQ(p.ZipTimeFlag, F);
    EXPECT_EQ(p.TraceFlag, F);
    EXPECT_EQ(p.VerboseFlag, F);
    EXPECT_EQ(p.CompressionLevel, 9);
}

struct AddOptionRow {
    const char *Name;
    AddOptsEnum Option;
    int32_t ZipExecParams::*Field;
    int32_t WhenSet;
};

class AddOptionTest : public ::testing::TestWithParam<AddOptionRow> {};

TEST_P(AddOptionTest, EachOptionReachesItsFlag)
{
    const auto &row = GetParam();
    TZipEngine engine;
    engine.AddOptions = {row.Option};
    engine.SetZipParams();
    EXPECT_EQ(engine.ZipExecParams.*row.Field, row.WhenSet);
    // Every call writes every field: without the option the flag goes back.
    engine.AddOptions = {};
    engine.SetZipParams();
    EXPECT_EQ(engine.ZipExecParams.*row.Field, row.Option == AddDirNames ? T : F);
}

INSTANTIATE_TEST_SUITE_P(Options, AddOptionTest,
                         ::testing::Values(AddOptionRow{"DirNames", AddDirNames, &ZipExecParams::StripDirNamesFlag, F},
                                           AddOptionRow{"Recurse", AddRecurseDirs, &ZipExecParams::RecurseFlag, T},
                                           AddOptionRow{"Move", AddMove, &ZipExecParams::MoveFlag, T},
                                           AddOptionRow{"Freshen", AddFreshen, &ZipExecParams::FreshenFlag, T},
                                           AddOptionRow{"Update", AddUpdate, &ZipExecParams::UpdateFlag, T},
                                           AddOptionRow{"ZipTime", AddZipTime, &ZipExecParams::ZipTimeFlag, T},
                                           AddOptionRow{"ForceDos", AddForceDOS, &ZipExecParams::ForceDosFlag, T},
                                           AddOptionRow{"Hidden", AddHiddenFiles, &ZipExecParams::HiddenFilesFlag, T}),
                         [](const auto &info) { return std::string(info.param.Name); });

TEST(ZipBlockTest, UpdateWinsOverFreshen)
{
    TZipEngine engine;
    engine.AddOptions = {AddFreshen, AddUpdate};
    engine.SetZipParams();
    EXPECT_EQ(engine.ZipExecParams.UpdateFlag, T);
    EXPECT_EQ(engine.ZipExecParams.FreshenFlag, F);
}

TEST(ZipBlockTest, TraceAloneMakesTheLibraryVerbose)
{
    TZipEngine engine;
    engine.Trace = true;
    engine.SetZipParams();
    EXPECT_EQ(engine.ZipExecParams.TraceFlag, T);
    EXPECT_EQ(engine.ZipExecParams.VerboseFlag, T);
    engine.SetUnzParams();
    EXPECT_EQ(engine.UnzExecParams.TraceFlag, T);
    EXPECT_EQ(engine.UnzExecParams.VerboseFlag, T);
    engine.Trace = false;
    engine.Verbose = true;
    engine.SetZipParams();
    EXPECT_EQ(engine.ZipExecParams.TraceFlag, F);
    EXPECT_EQ(engine.ZipExecParams.VerboseFlag, T);
}

TEST(ZipBlockTest, TheCompressionLevelIsPassedWithoutARangeCheck)
{
    TZipEngine engine;
    engine.AddCompLevel = 42;
    engine.SetZipParams();
    EXPECT_EQ(engine.ZipExecParams.CompressionLevel, 42);
}

TEST(UnzBlockTest, EmptyOptionsAndEachOption)
{
    TZipEngine engine;
    engine.SetUnzParams();
    const auto &p = engine.UnzExecParams;
    EXPECT_EQ(p.Handle, 0);
    EXPECT_EQ(p.CallerObject, &engine);
    EXPECT_EQ(p.InterfaceVersion, 120);
    EXPECT_EQ(p.CallbackProc, &TZipEngine::LibCallback);
    EXPECT_EQ(p.CheckValue, 7);
    EXPECT_EQ(p.Switch05, 0);
    EXPECT_EQ(p.Switch06, F);
    EXPECT_EQ(p.Switch07, F);
    EXPECT_EQ(p.Switch08, F);
    EXPECT_EQ(p.Switch09, F);
    EXPECT_EQ(p.Switch10, T);
    EXPECT_EQ(p.UpdateFlag, F);
    EXPECT_EQ(p.FreshenFlag, F);
    EXPECT_EQ(p.DirNamesFlag, F);
    EXPECT_EQ(p.OverwriteFlag, F);

    engine.ExtrOptions = {ExtrDirNames, ExtrOverWrite};
    engine.SetUnzParams();
    EXPECT_EQ(p.DirNamesFlag, T);
    EXPECT_EQ(p.OverwriteFlag, T);
    engine.ExtrOptions = {ExtrFreshen};
    engine.SetUnzParams();
    EXPECT_EQ(p.FreshenFlag, T);
    EXPECT_EQ(p.DirNamesFlag, F);
    EXPECT_EQ(p.OverwriteFlag, F);
    engine.ExtrOptions = {ExtrFreshen, ExtrUpdate};
    engine.SetUnzParams();
    EXPECT_EQ(p.UpdateFlag, T);
    EXPECT_EQ(p.FreshenFlag, F);
}

} // namespace
} // namespace pellux
