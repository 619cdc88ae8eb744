#include "platform/Volumes.h"

#include "platform/InOutError.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <unistd.h>

using namespace pellux;
namespace fs = std::filesystem;

namespace {
class VolumesTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CurrentDirectory(); }
    void TearDown() override { ASSERT_EQ(::chdir(saved_.c_str()), 0); }
    test::TempDir temp_;
    std::string saved_;
};
} // namespace

TEST_F(VolumesTest, RootIsAlwaysAmongTheVolumes)
{
    const auto volumes = BrowsableVolumes();
    EXPECT_TRUE(std::any_of(volumes.begin(), volumes.end(), [](const VolumeInfo &v) { return v.Root == "/"; }));
    EXPECT_EQ(VolumeRootOf("/"), "/");
    const std::string root = VolumeRootOf(temp_.Path().string());
    EXPECT_EQ(temp_.Path().string().rfind(root, 0), 0u) << root;
}

TEST_F(VolumesTest, EnteringADirectoryMakesItCurrentAndRemembersIt)
{
    const std::string dir = fs::canonical(temp_.Path()).string();
    EnterDirectory(dir);
    EXPECT_EQ(CurrentDirectory(), dir);
    EXPECT_EQ(VolumeCurrentDirectory(VolumeRootOf(dir)), dir);
}

TEST_F(VolumesTest, AMissingDirectoryRaisesWithItsErrorNumber)
{
    const std::string before = CurrentDirectory();
    try {
        EnterDirectory(temp_.File("missing"));
        FAIL() << "no error raised";
    } catch (const EInOutError &error) {
        EXPECT_EQ(error.ErrorCode, ENOENT);
        EXPECT_NE(std::string(error.what()).find(temp_.File("missing")), std::string::npos);
    }
    EXPECT_EQ(CurrentDirectory(), before);
}
