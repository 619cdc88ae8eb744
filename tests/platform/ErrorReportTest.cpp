#include "platform/ErrorReport.h"
#include "tests/support/ScriptedInteraction.h"

#include <gtest/gtest.h>

using namespace pellux;

TEST(ErrorReport, DotIsAppendedOnlyAfterCharactersThatSortAfterIt)
{
    EXPECT_EQ(WithFinalDot("Error 3 reading Zip file"), "Error 3 reading Zip file.");
    EXPECT_EQ(WithFinalDot("Done."), "Done.");
    EXPECT_EQ(WithFinalDot("Why?"), "Why?.");                              // '?' sorts after '.'
    EXPECT_EQ(WithFinalDot("Unable to create \r"), "Unable to create \r"); // CR sorts before
    EXPECT_EQ(WithFinalDot("100%"), "100%");                               // '%' sorts before '.'
    EXPECT_EQ(WithFinalDot("/tmp/"), "/tmp/.");
    EXPECT_EQ(WithFinalDot(""), "");
    EXPECT_EQ(WithFinalDot("caf\xC3\xA9"), "caf\xC3\xA9.");
}

TEST(ErrorReport, GuardedShowsEscapingErrorsInTheErrorBox)
{
    test::ScopedScriptedInteraction ui;
    bool after = false;
    Guarded([] { throw std::runtime_error("Cannot open file /x/a.zip"); });
    Guarded([&] { after = true; });
    ASSERT_EQ(ui.Log.Errors.size(), 1u);
    EXPECT_EQ(ui.Log.Errors[0], "Cannot open file /x/a.zip.");
    EXPECT_TRUE(after);
}

TEST(ErrorReport, SwappedHandlerIsRestoredEvenWhenLeftByAnException)
{
    test::ScopedScriptedInteraction ui;
    std::vector<std::string> seen;
    try {
        ScopedErrorHandler swap([&](const std::exception &e) { seen.push_back(e.what()); });
        Guarded([] { throw std::runtime_error("inside"); });
        throw std::runtime_error("leave");
    } catch (const std::exception &) {
    }
    Guarded([] { throw std::runtime_error("outside"); });
    EXPECT_EQ(seen, std::vector<std::string>{"inside"});
    EXPECT_EQ(ui.Log.Errors, std::vector<std::string>{"outside."});
}

TEST(ErrorReport, FailingHandlerDoesNotEscape)
{
    ScopedErrorHandler swap([](const std::exception &) { throw 42; });
    EXPECT_NO_THROW(Guarded([] { throw std::runtime_error("x"); }));
}
