// LibCallback: which report fires which event, and the answer that stops a library.
#include "zip/ZipBridge.h"
#include "zip/ZipEngine.h"

#include <gtest/gtest.h>

#include <cstring>

namespace pellux {
namespace {

struct Event {
    std::string Kind;
    int Value;
    std::string Text;
    bool operator==(const Event &) const = default;
};

class CallbackTest : public ::testing::Test {
protected:
    TZipEngine engine;
    std::vector<Event> events;

    void SetUp() override
    {
        engine.OnProgress = [this](TZipEngine &sender, ProgressType type, const std::string &name, int32_t size) {
            EXPECT_EQ(&sender, &engine);
            events.push_back({"progress" + std::to_string(type), size, name});
        };
        engine.OnMessage = [this](TZipEngine &sender, int32_t code, const std::string &message) {
            EXPECT_EQ(&sender, &engine);
            events.push_back({"message", code, message});
        };
    }
    int32_t Report(int32_t action, const char *text = "", int32_t code = 0, int32_t size = 0)
    {
        auto info = std::make_unique<LibCallbackInfo>();
        info->CallerObject = &engine;
        info->ActionCode = action;
        info->ErrorCode = code;
        info->FileSize = size;
        std::strcpy(info->Text, text);
        return TZipEngine::LibCallback(info.get());
    }
};

TEST_F(CallbackTest, EachActionFiresItsEvent)
{
    EXPECT_EQ(Report(1, "dir/file.txt", 0, 1234), PX_FALSE);
    EXPECT_EQ(Report(2, "ignored", 0, 99), PX_FALSE);
    EXPECT_EQ(Report(3, "ignored"), PX_FALSE);
    EXPECT_EQ(Report(4, "bad thing", 17), PX_FALSE);
    EXPECT_EQ(Report(5, "nothing"), PX_FALSE);
    EXPECT_EQ(Report(0, "nothing"), PX_FALSE);
    EXPECT_EQ(events,
              (std::vector<Event>{{"progress0", 1234, "dir/file.txt"},
                                  {"progress1", 99, " "},
                                  {"progress2", 0, " "},
                                  {"message", 17, "bad thing"}}));
}

// A step carries the bytes done since the previous one; the one step whose text is a
// number announces the bytes of the call, past what the 32-bit FileSize holds.
TEST_F(CallbackTest, StepsPassTheirBytesOnAndAnnounceTheTotal)
{
    EXPECT_EQ(engine.BytesToDo, 0u);
    Report(2, "5000000000");
    Report(2, "", 0, 131072);
    Report(2, "12 bytes", 0, 7); // not a number: no announcement
    EXPECT_EQ(engine.BytesToDo, 5000000000u);
    Report(2, "100"); // a second exec call of the same operation
    EXPECT_EQ(engine.BytesToDo, 5000000100u);
    EXPECT_EQ(events,
              (std::vector<Event>{
                  {"progress1", 0, " "}, {"progress1", 131072, " "}, {"progress1", 7, " "}, {"progress1", 0, " "}}));
}

TEST_F(CallbackTest, TheAnswerFollowsCancelForEveryAction)
{
    engine.Cancel = true;
    for (int action : {1, 2, 3, 4, 5, -1})
        EXPECT_EQ(Report(action), PX_TRUE) << action;
    engine.Cancel = false;
    EXPECT_EQ(Report(5), PX_FALSE);
}

TEST_F(CallbackTest, UnassignedEventsAreNotFired)
{
    engine.OnProgress = nullptr;
    engine.OnMessage = nullptr;
    EXPECT_EQ(Report(1, "x"), PX_FALSE);
    EXPECT_EQ(Report(4, "x"), PX_FALSE);
}

TEST_F(CallbackTest, AMessageReachesTheHandlerTrimmed)
{
    Report(4, "line\r\n");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Text, std::string("line\0\0", 6));
}

TEST_F(CallbackTest, AnErrorInsideTheCallbackStopsTheLibraryInsteadOfUnwindingThroughIt)
{
    engine.OnMessage = [](TZipEngine &, int32_t, const std::string &) { throw std::runtime_error("handler failed"); };
    TakeCallbackError();
    EXPECT_EQ(Report(4, "x"), PX_TRUE);
    EXPECT_TRUE(TakeCallbackError());

    // A record that does not come from a component is refused the same way.
    auto info = std::make_unique<LibCallbackInfo>();
    int notAnEngine = 0;
    info->CallerObject = &notAnEngine;
    info->ActionCode = 1;
    EXPECT_EQ(TZipEngine::LibCallback(info.get()), PX_TRUE);
    const auto error = TakeCallbackError();
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        EXPECT_STREQ(e.what(), "Invalid class typecast");
    }
}

// The password request is answered in the record itself: a remembered password first,
// then the handler; without a handler the record stays unanswered, as an old caller's.
TEST_F(CallbackTest, PasswordRequestsAreAnsweredInTheRecord)
{
    auto ask = [this](int32_t reason, const char *entry) {
        auto info = std::make_unique<LibCallbackInfo>();
        info->CallerObject = &engine;
        info->ActionCode = PX_ACTION_PASSWORD;
        info->ErrorCode = reason;
        std::strcpy(info->Text, entry);
        EXPECT_EQ(TZipEngine::LibCallback(info.get()), PX_FALSE);
        return std::make_pair(info->FileSize, std::string(info->Text));
    };
    using Answer = std::pair<int32_t, std::string>;
    EXPECT_EQ(ask(PX_PASSWORD_FIRST, "a.txt"), (Answer{PX_PASSWORD_UNANSWERED, "a.txt"}));

    std::vector<std::pair<std::string, bool>> asked;
    engine.OnPassword = [&](TZipEngine &, const std::string &entry, bool again, Secret &password) {
        asked.emplace_back(entry, again);
        if (entry == "cancel")
            return false;
        password.Assign("pw-" + entry);
        return true;
    };
    EXPECT_EQ(ask(PX_PASSWORD_FIRST, "a.txt"), (Answer{PX_PASSWORD_GIVEN, "pw-a.txt"}));
    EXPECT_EQ(ask(PX_PASSWORD_AGAIN, "b.txt"), (Answer{PX_PASSWORD_GIVEN, "pw-b.txt"}));
    EXPECT_EQ(ask(PX_PASSWORD_AGAIN, "cancel"), (Answer{PX_PASSWORD_DECLINED, ""}));
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, bool>>{{"a.txt", false}, {"b.txt", true}, {"cancel", true}}));

    EXPECT_EQ(ask(PX_PASSWORD_NEW, ""), (Answer{PX_PASSWORD_DECLINED, ""}));
    engine.SetAddPassword(Secret("for adding"));
    EXPECT_TRUE(engine.EncryptsAdded());
    EXPECT_EQ(ask(PX_PASSWORD_NEW, ""), (Answer{PX_PASSWORD_GIVEN, "for adding"}));
    EXPECT_EQ(asked.size(), 3u);
}

TEST(TrimLineEndTest, LineEndsBecomeNulAndTheLengthStays)
{
    EXPECT_EQ(TrimLineEnd("text\r\n"), std::string("text\0\0", 6));
    EXPECT_EQ(TrimLineEnd("text\n"), std::string("text\0", 5));
    EXPECT_EQ(TrimLineEnd("text\r"), std::string("text\0", 5));
    EXPECT_EQ(TrimLineEnd("text\rX"), std::string("text\0X", 6)); // seen as ending before the CR
    EXPECT_EQ(TrimLineEnd("a\nb"), std::string("a\0b", 3));       // the two positions are tested apart
    EXPECT_EQ(TrimLineEnd("\nab"), "\nab");                       // only the last two positions count
    EXPECT_EQ(TrimLineEnd("\n"), std::string("\0", 1));
    EXPECT_EQ(TrimLineEnd("\n\n\n"), std::string("\n\0\0", 3));
    EXPECT_EQ(TrimLineEnd(""), "");
    EXPECT_EQ(TrimLineEnd("plain"), "plain");
}

} // namespace
} // namespace pellux
