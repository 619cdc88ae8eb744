// Encrypted entries: the shared ciphers against peers' readers, and libpxunz.so reading
// what zip -P and 7z write, with a caller that answers password requests from a script.
#include "libs/common/TraditionalCipher.h"
#include "libs/common/WinZipAes.h"
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <utility>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;
using libs::AesCipher;
using libs::TraditionalCipher;

std::string Text(std::size_t n, unsigned seed)
{
    std::string s;
    while (s.size() < n)
        s += "line " + std::to_string(seed++ * 7919u % 100003u) + " of some text\n";
    return s.substr(0, n);
}

// An answer to one PX_ACTION_PASSWORD request; a script that runs out leaves the rest alone.
struct Answer {
    int Given = PX_PASSWORD_GIVEN; // or PX_PASSWORD_DECLINED, PX_PASSWORD_UNANSWERED
    std::string Password;
};

struct Asked {
    int Reason;
    std::string Entry;
};

struct Call {
    std::vector<Answer> Script;
    std::vector<Asked> Requests;
    std::vector<Report> Reports;
    std::string LastGiven;
    bool PasswordLeftInRecord = false;
    int Result = 0;

    std::vector<std::string> Errors() const
    {
        std::vector<std::string> texts;
        for (const auto &r : Reports)
            if (r.Action == PX_ACTION_MESSAGE)
                texts.push_back(std::to_string(r.ErrorCode) + " " + r.Text);
        return texts;
    }
    // The total the steps announced, and the bytes they add up to.
    std::pair<std::uint64_t, std::uint64_t> Steps() const
    {
        std::uint64_t total = 0, steps = 0;
        for (const auto &r : Reports) {
            if (r.Action == PX_ACTION_STEP && !r.Text.empty())
                total = std::stoull(r.Text);
            if (r.Action == PX_ACTION_STEP)
                steps += static_cast<std::uint64_t>(r.FileSize);
        }
        return {total, steps};
    }
};

int32_t Answering(LibCallbackInfo *info)
{
    auto &call = *static_cast<Call *>(info->CallerObject);
    // The record is reused: once taken, the password must be gone from all of it.
    if (!call.LastGiven.empty()
        && std::search(info->Text, info->Text + sizeof info->Text, call.LastGiven.begin(), call.LastGiven.end())
            != info->Text + sizeof info->Text)
        call.PasswordLeftInRecord = true;
    call.Reports.push_back({info->ActionCode, info->ErrorCode, info->FileSize, info->Text});
    if (info->ActionCode != PX_ACTION_PASSWORD)
        return PX_FALSE;
    EXPECT_EQ(info->FileSize, PX_PASSWORD_UNANSWERED);
    call.Requests.push_back({info->ErrorCode, info->Text});
    if (call.Requests.size() <= call.Script.size()) {
        const Answer &answer = call.Script[call.Requests.size() - 1];
        info->FileSize = answer.Given;
        std::snprintf(info->Text, sizeof info->Text, "%s", answer.Password.c_str());
        call.LastGiven = answer.Password;
    }
    return PX_FALSE;
}

// Runs PxUnzExec (or PxUnzTest) on the archive, extracting into `into`.
Call Run(const char *entry, const std::string &archive, const std::string &into, std::vector<Answer> script,
         bool callback = true)
{
    static void *library = ::dlopen(PELLUX_BIN_DIR "/libpxunz.so", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        throw std::runtime_error(::dlerror());
    const auto exec = reinterpret_cast<PxUnzExecFn>(::dlsym(library, entry));
    Call call;
    call.Script = std::move(script);
    auto params = std::make_unique<UnzExecParams>();
    std::string name = archive;
    params->CallerObject = &call;
    params->InterfaceVersion = PX_INTERFACE_VERSION;
    params->CallbackProc = callback ? Answering : nullptr;
    params->DirNamesFlag = PX_TRUE;
    params->ZipFileNamePtr = name.data();
    params->CheckValue = PX_CHECK_VALUE;
    const fs::path previous = fs::current_path();
    fs::current_path(into);
    call.Result = exec(params.get());
    fs::current_path(previous);
    EXPECT_FALSE(call.PasswordLeftInRecord);
    return call;
}
Call Extract(const std::string &archive, const std::string &into, std::vector<Answer> script, bool callback = true)
{
    return Run("PxUnzExec", archive, into, std::move(script), callback);
}
Call Check(const std::string &archive, const std::string &into, std::vector<Answer> script)
{
    return Run("PxUnzTest", archive, into, std::move(script));
}

// A stored archive of one entry, written here byte by byte around our own ciphers, so
// that a peer's reader checks what they produce.
void Put16(std::string &s, unsigned v) { s += char(v & 0xFF), s += char(v >> 8 & 0xFF); }
void Put32(std::string &s, std::uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }
std::string StoredZip(const std::string &name, std::uint16_t flags, std::uint16_t method, std::uint32_t crc,
                      const std::string &extra, const std::string &data, std::size_t size)
{
    const auto fields = [&](std::string &s) {
        Put16(s, method == 99 ? 51 : 20), Put16(s, flags), Put16(s, method), Put16(s, 0x6000), Put16(s, 0x5A21);
        Put32(s, crc), Put32(s, static_cast<std::uint32_t>(data.size())), Put32(s, static_cast<std::uint32_t>(size));
        Put16(s, name.size()), Put16(s, extra.size());
    };
    std::string zip;
    Put32(zip, 0x04034b50), fields(zip), zip += name + extra + data;
    const std::size_t central = zip.size();
    Put32(zip, 0x02014b50), Put16(zip, 0x031E), fields(zip);
    Put16(zip, 0), Put16(zip, 0), Put16(zip, 0), Put32(zip, 0100644u << 16), Put32(zip, 0), zip += name + extra;
    const std::size_t end = zip.size();
    Put32(zip, 0x06054b50), Put32(zip, 0), Put16(zip, 1), Put16(zip, 1);
    Put32(zip, static_cast<std::uint32_t>(end - central)), Put32(zip, static_cast<std::uint32_t>(central)),
        Put16(zip, 0);
    return zip;
}

std::uint32_t Crc(const std::string &data)
{
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(data.data()), data.size()));
}

// Enciphers in pieces of awkward lengths: the stream must carry on across calls.
template <class Cipher>
void InPieces(Cipher &cipher, std::string &data)
{
    auto *p = reinterpret_cast<unsigned char *>(data.data());
    for (std::size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 5 + 3)
        cipher.Encrypt(p + at, std::min(piece, data.size() - at));
}

class PasswordTest : public ::testing::Test {
protected:
    TempDir dir;
    TempDir out;
    std::string small = Text(3000, 1);
    std::string large = Text(1500000, 2) + RandomBytes(300000, 3); // read on the writer thread

    void Sources()
    {
        dir.Write("t/small.txt", small);
        dir.Write("t/large.bin", large);
    }
    void ExpectExtracted(const std::string &name, const std::string &bytes)
    {
        ASSERT_TRUE(fs::exists(out.File(name))) << name;
        EXPECT_TRUE(ReadFile(out.File(name)) == bytes) << name;
    }
};

TEST_F(PasswordTest, OurCiphersAreReadByPeers)
{
    const std::string plain = Text(70000, 9);
    // AES, all three strengths, AE-1 (CRC kept) and AE-2.
    for (std::uint8_t strength = 1; strength <= 3; ++strength) {
        for (std::uint16_t version : {1, 2}) {
            SCOPED_TRACE(std::to_string(strength) + "/" + std::to_string(version));
            std::string salt = RandomBytes(libs::AesSaltSize(strength), strength);
            unsigned char verifier[libs::kAesVerifierSize], mac[libs::kAesMacSize];
            AesCipher cipher;
            ASSERT_TRUE(cipher.Start("pa55", strength, reinterpret_cast<const unsigned char *>(salt.data()), verifier));
            std::string data = plain;
            InPieces(cipher, data);
            cipher.Finish(mac);
            const std::string body = salt + std::string(reinterpret_cast<char *>(verifier), sizeof verifier) + data
                + std::string(reinterpret_cast<char *>(mac), sizeof mac);
            const libs::AesField field{version, strength, 0};
            ASSERT_EQ(libs::ParseAesField(libs::AesFieldBytes(field))->Strength, strength);
            dir.Write("aes.zip",
                      StoredZip("aes.txt", 1, 99, version == 1 ? Crc(plain) : 0, libs::AesFieldBytes(field), body,
                                plain.size()));
            EXPECT_EQ(RunIn(dir.Path(), "7z t -ppa55 aes.zip -bso0 -bse0"), 0);
            EXPECT_NE(RunIn(dir.Path(), "7z t -ppa56 aes.zip -bso0 -bse0"), 0);
            const Call call = Extract(dir.File("aes.zip"), out.Path(), {{PX_PASSWORD_GIVEN, "pa55"}});
            EXPECT_EQ(call.Result, 1) << ::testing::PrintToString(call.Errors());
            ExpectExtracted("aes.txt", plain);
            fs::remove(out.File("aes.txt"));
        }
    }
    // The traditional cipher: the header's last byte is the CRC's high byte.
    std::string data = RandomBytes(11, 4) + char(Crc(plain) >> 24) + plain;
    TraditionalCipher cipher("pa55");
    InPieces(cipher, data);
    dir.Write("zc.zip", StoredZip("zc.txt", 1, 0, Crc(plain), "", data, plain.size()));
    EXPECT_EQ(RunIn(dir.Path(), "unzip -tqq -P pa55 zc.zip"), 0);
}

TEST_F(PasswordTest, RightPasswordOpensWhatZipAnd7zWrite)
{
    Sources();
    const std::vector<std::pair<std::string, std::string>> writers = {
        {"zc-stored.zip", "zip -q -0 -P pw ../zc-stored.zip large.bin small.txt"},
        {"zc-deflate.zip", "zip -q -P pw ../zc-deflate.zip large.bin small.txt"},
        {"zc-7z.zip", "7z a -tzip -ppw -mem=ZipCrypto ../zc-7z.zip large.bin small.txt -bso0"},
        {"aes128.zip", "7z a -tzip -ppw -mem=AES128 ../aes128.zip large.bin small.txt -bso0"},
        {"aes256.zip", "7z a -tzip -ppw -mem=AES256 ../aes256.zip large.bin small.txt -bso0"},
        {"aes256-bzip2.zip", "7z a -tzip -ppw -mem=AES256 -mm=BZip2 ../aes256-bzip2.zip large.bin small.txt -bso0"},
        {"aes192-lzma.zip", "7z a -tzip -ppw -mem=AES192 -mm=LZMA ../aes192-lzma.zip large.bin small.txt -bso0"},
        {"aes256-stored.zip", "7z a -tzip -ppw -mem=AES256 -mm=Copy ../aes256-stored.zip large.bin small.txt -bso0"},
    };
    for (const auto &[archive, command] : writers) {
        SCOPED_TRACE(archive);
        ASSERT_EQ(RunIn(dir.File("t"), command), 0);
        const Call call = Extract(dir.File(archive), out.Path(), {{PX_PASSWORD_GIVEN, "pw"}});
        EXPECT_EQ(call.Result, 2) << ::testing::PrintToString(call.Errors());
        EXPECT_TRUE(call.Errors().empty()) << ::testing::PrintToString(call.Errors());
        // Asked once, for the first entry, though both are encrypted.
        ASSERT_EQ(call.Requests.size(), 1u);
        EXPECT_EQ(call.Requests[0].Reason, PX_PASSWORD_FIRST);
        EXPECT_EQ(call.Requests[0].Entry, "large.bin");
        ExpectExtracted("small.txt", small);
        ExpectExtracted("large.bin", large);
        fs::remove_all(out.Path() / "small.txt");
        fs::remove_all(out.Path() / "large.bin");
        const Call test = Check(dir.File(archive), out.Path(), {{PX_PASSWORD_GIVEN, "pw"}});
        EXPECT_EQ(test.Result, 2) << ::testing::PrintToString(test.Errors());
    }
    // Streamed from a pipe: a data descriptor, so the header checks against the time.
    ASSERT_EQ(RunIn(dir.File("t"), "zip -q -P pw - small.txt < /dev/null > ../dd.zip"), 0);
    const Call call = Extract(dir.File("dd.zip"), out.Path(), {{PX_PASSWORD_GIVEN, "pw"}});
    EXPECT_EQ(call.Result, 1) << ::testing::PrintToString(call.Errors());
    ExpectExtracted("small.txt", small);
}

TEST_F(PasswordTest, WrongPasswordsAndDamageLeaveNoFile)
{
    Sources();
    ASSERT_EQ(RunIn(dir.File("t"), "zip -q -P right ../zc.zip small.txt && zip -q -0 -P right ../zc0.zip small.txt"),
              0);
    // A wrong password whose check byte matches: only the data can tell.
    const auto luckyFor = [&](const std::string &archive) {
        const std::string zip = ReadFile(dir.File(archive));
        const auto flags = static_cast<unsigned char>(zip[6]);
        const auto expected = static_cast<unsigned char>((flags & 8) ? zip[11] : zip[17]);
        const std::size_t header = 30 + static_cast<unsigned char>(zip[26]) + static_cast<unsigned char>(zip[28]);
        std::optional<std::string> lucky;
        for (int i = 0; i < 20000 && !lucky; ++i) {
            std::string candidate = "guess" + std::to_string(i);
            std::string head = zip.substr(header, 12);
            TraditionalCipher(candidate).Decrypt(reinterpret_cast<unsigned char *>(head.data()), head.size());
            if (static_cast<unsigned char>(head[11]) == expected)
                lucky = candidate;
        }
        return lucky;
    };
    const std::optional<std::string> lucky = luckyFor("zc.zip");
    ASSERT_TRUE(lucky);
    // Its attempt reads the whole stored entry before the CRC fails it: the right
    // password's attempt reads it again, and the steps still add up to the total.
    {
        const std::optional<std::string> luckyStored = luckyFor("zc0.zip");
        ASSERT_TRUE(luckyStored);
        const Call call =
            Extract(dir.File("zc0.zip"), out.Path(), {{PX_PASSWORD_GIVEN, *luckyStored}, {PX_PASSWORD_GIVEN, "right"}});
        EXPECT_EQ(call.Result, 1) << ::testing::PrintToString(call.Errors());
        ExpectExtracted("small.txt", small);
        const auto [total, steps] = call.Steps();
        EXPECT_GT(total, 0u);
        EXPECT_EQ(steps, total);
        fs::remove(out.File("small.txt"));
    }
    for (const std::string &wrong : {*lucky, std::string("plainly wrong")}) {
        SCOPED_TRACE(wrong);
        const std::vector<Answer> script = {{PX_PASSWORD_GIVEN, wrong}, {PX_PASSWORD_DECLINED, ""}};
        const Call call = Extract(dir.File("zc.zip"), out.Path(), script);
        EXPECT_EQ(call.Result, 0);
        ASSERT_EQ(call.Requests.size(), 2u);
        EXPECT_EQ(call.Requests[1].Reason, PX_PASSWORD_AGAIN);
        EXPECT_EQ(call.Requests[1].Entry, "small.txt");
        EXPECT_EQ(call.Errors(), std::vector<std::string>{"7 wrong password for small.txt"});
        EXPECT_TRUE(fs::is_empty(out.Path()));
        EXPECT_EQ(Check(dir.File("zc.zip"), out.Path(), script).Errors(),
                  std::vector<std::string>{"7 wrong password for small.txt"});
    }
    // One byte of AES data flipped: the MAC, not the decoder, must catch it.
    for (const std::string name : {"small.txt", "large.bin"}) {
        SCOPED_TRACE(name);
        const std::string archive = dir.File("aes-" + name + ".zip");
        ASSERT_EQ(
            RunIn(dir.File("t"), "7z a -tzip -ppw -mem=AES256 -mm=Copy " + Quote(archive) + " " + name + " -bso0"), 0);
        std::string bytes = ReadFile(archive);
        const std::size_t data = 30 + static_cast<unsigned char>(bytes[26]) + static_cast<unsigned char>(bytes[28])
            + 256 * static_cast<unsigned char>(bytes[29]) + libs::AesSaltSize(3) + libs::kAesVerifierSize;
        bytes[data + 1000] ^= 0x20;
        dir.Write("aes-" + name + ".zip", bytes);
        const Call call = Extract(archive, out.Path(), {{PX_PASSWORD_GIVEN, "pw"}});
        EXPECT_EQ(call.Result, 0);
        EXPECT_EQ(call.Errors(),
                  std::vector<std::string>{"7 cannot extract " + name
                                           + ": authentication failed (wrong password or damaged data)"});
        EXPECT_TRUE(fs::is_empty(out.Path()));
        EXPECT_EQ(Check(archive, out.Path(), {{PX_PASSWORD_GIVEN, "pw"}}).Errors(),
                  std::vector<std::string>{"7 " + name + ": authentication failed (wrong password or damaged data)"});
    }
}

TEST_F(PasswordTest, EachPasswordGivenIsTriedAndAnotherAskedOnlyWhenNoneOpens)
{
    dir.Write("t/plain.txt", "plain");
    dir.Write("t/x.txt", "x data");
    dir.Write("t/y.txt", "y data");
    dir.Write("t/z.txt", "z data");
    ASSERT_EQ(RunIn(dir.File("t"),
                    "zip -q ../m.zip plain.txt && zip -q -P one ../m.zip x.txt "
                    "&& zip -q -P two ../m.zip y.txt && zip -q -P one ../m.zip z.txt"),
              0);
    const std::vector<Answer> script = {{PX_PASSWORD_GIVEN, "one"}, {PX_PASSWORD_GIVEN, "two"}};
    const Call call = Extract(dir.File("m.zip"), out.Path(), script);
    EXPECT_EQ(call.Result, 4) << ::testing::PrintToString(call.Errors());
    ASSERT_EQ(call.Requests.size(), 2u);
    EXPECT_EQ(call.Requests[0].Reason, PX_PASSWORD_FIRST);
    EXPECT_EQ(call.Requests[0].Entry, "x.txt");
    EXPECT_EQ(call.Requests[1].Reason, PX_PASSWORD_AGAIN);
    EXPECT_EQ(call.Requests[1].Entry, "y.txt");
    for (const char *name : {"plain.txt", "x.txt", "y.txt", "z.txt"})
        EXPECT_TRUE(fs::exists(out.File(name))) << name;
    ExpectExtracted("y.txt", "y data");
    // The announced total counts the encrypted entries, and the steps reach it.
    const auto [total, steps] = call.Steps();
    EXPECT_EQ(total, 23u);
    EXPECT_EQ(steps, 23u);
    EXPECT_EQ(Check(dir.File("m.zip"), out.Path(), script).Result, 4);

    // Declining AGAIN fails that entry and every later one no known password opens,
    // without asking again.
    fs::remove_all(out.Path() / "x.txt"), fs::remove_all(out.Path() / "y.txt"), fs::remove_all(out.Path() / "z.txt");
    fs::remove_all(out.Path() / "plain.txt");
    ASSERT_EQ(RunIn(dir.File("t"), "zip -q -P three ../m.zip plain.txt"), 0);
    const Call declined =
        Extract(dir.File("m.zip"), out.Path(), {{PX_PASSWORD_GIVEN, "one"}, {PX_PASSWORD_DECLINED, ""}});
    EXPECT_EQ(declined.Requests.size(), 2u);
    EXPECT_EQ(declined.Errors(),
              (std::vector<std::string>{"7 wrong password for plain.txt", "7 wrong password for y.txt"}));
    EXPECT_FALSE(fs::exists(out.File("y.txt")));
    EXPECT_TRUE(fs::exists(out.File("z.txt")));
}

TEST_F(PasswordTest, DecliningSkipsWithOneMessageAndOldCallersSeeEncrypted)
{
    dir.Write("t/open.txt", "o");
    dir.Write("t/a.txt", "a");
    dir.Write("t/b.bin", "b");
    ASSERT_EQ(RunIn(dir.File("t"),
                    "zip -q -P pw ../e.zip a.txt && zip -q ../e.zip open.txt "
                    "&& 7z a -tzip -ppw -mem=AES256 ../e.zip b.bin -bso0"),
              0);
    const Call declined = Extract(dir.File("e.zip"), out.Path(), {{PX_PASSWORD_DECLINED, ""}});
    EXPECT_EQ(declined.Result, 1);
    EXPECT_EQ(declined.Requests.size(), 1u);
    EXPECT_EQ(declined.Errors(), std::vector<std::string>{"6 skipped 2 encrypted entries (no password): a.txt, b.bin"});
    EXPECT_TRUE(fs::exists(out.File("open.txt")));
    EXPECT_FALSE(fs::exists(out.File("a.txt")));
    EXPECT_EQ(Check(dir.File("e.zip"), out.Path(), {{PX_PASSWORD_DECLINED, ""}}).Errors(),
              std::vector<std::string>{"6 skipped 2 encrypted entries (no password): a.txt, b.bin"});
    fs::remove(out.File("open.txt"));

    const std::vector<std::string> refused = {"6 skipping a.txt: encrypted", "6 skipping b.bin: encrypted"};
    const Call unanswered = Extract(dir.File("e.zip"), out.Path(), {});
    EXPECT_EQ(unanswered.Result, 1);
    EXPECT_EQ(unanswered.Errors(), refused);
    EXPECT_EQ(Check(dir.File("e.zip"), out.Path(), {}).Errors(),
              (std::vector<std::string>{"7 a.txt: encrypted", "7 b.bin: encrypted"}));
    fs::remove(out.File("open.txt"));
    EXPECT_EQ(Extract(dir.File("e.zip"), out.Path(), {}, false).Result, 1);
    EXPECT_FALSE(fs::exists(out.File("a.txt")));
}

} // namespace
} // namespace pellux::test
