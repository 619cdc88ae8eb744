// TKqRegistry over the in-memory store: how keys are opened and what their paths read,
// writing into another key and coming back, and the two ways a write fails. Then the
// desktop store's refusal of every key it cannot map.
#include "platform/DesktopRegistryStore.h"
#include "platform/ErrorReport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "util/KqRegistry2.h"

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;
using Strings = std::vector<std::string>;

namespace {

class KqRegistryTest : public ::testing::Test {
protected:
    KqRegistryTest()
    {
        auto owned = std::make_unique<MemoryRegistryStore>();
        store = owned.get();
        previous_ = SetRegistryStore(std::move(owned));
    }
    ~KqRegistryTest() override { SetRegistryStore(std::move(previous_)); }
    MemoryRegistryStore *store = nullptr;

private:
    std::unique_ptr<RegistryStore> previous_;
};

std::string FailureOf(TKqRegistry &reg, const std::string &key, const std::string &name)
{
    try {
        reg.WriteStringAt(key, name, "v");
    } catch (const ERegistryException &e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST_F(KqRegistryTest, AbsoluteAndRelativeOpensSetTheCurrentPath)
{
    TKqRegistry reg;
    EXPECT_EQ(reg.GetRootKey(), HKEY_CURRENT_USER);
    EXPECT_EQ(reg.GetCurrentKeyPath(), "");
    // A relative key with nothing current opens below the root.
    ASSERT_TRUE(reg.OpenKey("Software", true));
    EXPECT_EQ(reg.CurrentPath(), "Software");
    EXPECT_EQ(reg.GetCurrentKeyPath(), "\\Software");
    ASSERT_TRUE(reg.OpenKey("Pellux\\Options", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Pellux\\Options");
    EXPECT_TRUE(store->HasKey(HKEY_CURRENT_USER, "software\\PELLUX"));
    ASSERT_TRUE(reg.OpenKey("\\Software\\Pellux", false));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Pellux");
    // A missing key opened without CanCreate changes nothing.
    EXPECT_FALSE(reg.OpenKey("\\Missing", false));
    EXPECT_FALSE(reg.OpenKey("Missing", false));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Pellux");
    // An empty relative key re-opens the current one and its path gains a '\'.
    ASSERT_TRUE(reg.OpenKey("", true));
    EXPECT_EQ(reg.GetCurrentKeyPath(), "\\Software\\Pellux\\");

    reg.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_TRUE(reg.HasCurrentKey());
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    EXPECT_FALSE(reg.HasCurrentKey());
    EXPECT_EQ(reg.GetCurrentKeyPath(), "");
    // The same path below another root is another key.
    EXPECT_FALSE(reg.OpenKey("\\Software", false));
    ASSERT_TRUE(reg.OpenKey("\\Software", true));
    reg.CloseKey();
    EXPECT_EQ(reg.CurrentPath(), "");
}

TEST_F(KqRegistryTest, WriteStringAtComesBackToTheRememberedKey)
{
    TKqRegistry reg;
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(reg.OpenKey("\\Before", true));
    reg.WriteStringAt("\\Pellux\\shell\\open\\command", "", "/opt/p \"%1\"");
    EXPECT_EQ(store->Value(HKEY_CLASSES_ROOT, "Pellux\\shell\\open\\command", ""), "/opt/p \"%1\"");
    EXPECT_EQ(reg.GetCurrentKeyPath(), "\\Before");

    // With nothing current the key just written stays current, by an empty relative open.
    reg.CloseKey();
    reg.WriteStringAt("\\.zip", "", "Pellux");
    EXPECT_EQ(reg.GetCurrentKeyPath(), "\\.zip\\");
    reg.WriteStringAt("\\.zip", "", "Other");
    EXPECT_EQ(reg.GetCurrentKeyPath(), "\\.zip\\");

    // A remembered key that cannot be opened again leaves the written one current.
    ASSERT_TRUE(reg.OpenKey("\\Gone", true));
    store->RefuseKey(HKEY_CLASSES_ROOT, "Gone");
    reg.WriteStringAt("\\Next", "Name", "value");
    EXPECT_EQ(reg.GetCurrentKeyPath(), "\\Next");
    EXPECT_EQ(store->Dump(),
              (Strings{"HKEY_CLASSES_ROOT\\.zip|=Other", "HKEY_CLASSES_ROOT\\next|name=value",
                       "HKEY_CLASSES_ROOT\\pellux\\shell\\open\\command|=/opt/p \"%1\""}));
}

TEST_F(KqRegistryTest, FailuresWriteNothingAnywhere)
{
    TKqRegistry reg;
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    store->RefuseWrites(HKEY_CLASSES_ROOT, ".zip");
    // The general error report shows the text as it is: it ends in a quote, which
    // sorts before ".".
    EXPECT_EQ(FailureOf(reg, "\\.zip", ""), "Failed to set data for ''");
    EXPECT_EQ(WithFinalDot(FailureOf(reg, "\\.zip", "")), "Failed to set data for ''");
    EXPECT_EQ(FailureOf(reg, "\\.zip", "Name"), "Failed to set data for 'Name'");

    // A key that can be neither opened nor created is not written into the current one.
    ASSERT_TRUE(reg.OpenKey("\\Current", true));
    store->RefuseKey(HKEY_CLASSES_ROOT, "Locked");
    EXPECT_EQ(FailureOf(reg, "\\Locked\\Below", ""), "Cannot open key '\\Locked\\Below'");
    EXPECT_EQ(reg.GetCurrentKeyPath(), "\\Current");
    EXPECT_EQ(store->Dump(), Strings{});
}

TEST(DesktopRegistryStore, KeysItCannotMapAreRefusedAndNothingIsWritten)
{
    TempDir dir;
    ScopedEnv env;
    env.Set("HOME", dir.File("home"));
    env.Set("XDG_CONFIG_HOME", dir.File("config"));
    env.Set("XDG_DATA_HOME", dir.File("data"));
    auto previous = SetRegistryStore(nullptr); // the desktop store
    TKqRegistry reg;
    reg.SetRootKey(HKEY_CLASSES_ROOT);
    EXPECT_THROW(reg.WriteStringAt("\\.txt", "", "Pellux"), ERegistryException);
    EXPECT_THROW(reg.WriteStringAt("\\Pellux\\shell\\edit\\command", "", "/p \"%1\""), ERegistryException);
    EXPECT_THROW(reg.WriteStringAt("\\My App\\shell\\open\\command", "", "/p \"%1\""), ERegistryException);
    EXPECT_THROW(reg.WriteStringAt("\\.zip", "Name", "Pellux"), ERegistryException);
    EXPECT_THROW(reg.WriteStringAt("\\.zip", "", "../evil"), ERegistryException);
    EXPECT_THROW(reg.WriteStringAt("\\Pellux\\shell\\open\\command", "", "/p"), ERegistryException);
    reg.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_THROW(reg.WriteStringAt("\\.zip", "", "Pellux"), ERegistryException);
    // Relative paths in the variables are not base directories.
    env.Set("XDG_CONFIG_HOME", "config");
    EXPECT_EQ(ConfigHome(), dir.File("home") + "/.config");
    EXPECT_FALSE(std::filesystem::exists(dir.File("config")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("data")));
    SetRegistryStore(std::move(previous));
}
