// libpxzip.so adding encrypted entries (AES-256, AE-2): read back by 7z, bsdtar and
// Python's zipfile, which also shows the records as written.
#include "tests/libs/LibDriver.h"
#include "tests/support/TempDir.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace pellux::test {
namespace {

namespace fs = std::filesystem;

enum class Answer { Give, Decline, Ignore, Stop };

struct Call {
    Answer How = Answer::Give;
    std::string Password = "pw";
    LibRun Run;
    int Asked = 0;
    bool AskedRight = true; // every request: PX_PASSWORD_NEW, unanswered, empty text
};

int32_t Answering(LibCallbackInfo *info)
{
    auto &call = *static_cast<Call *>(info->CallerObject);
    call.Run.Reports.push_back(Report{info->ActionCode, info->ErrorCode, info->FileSize, info->Text});
    if (info->ActionCode != PX_ACTION_PASSWORD)
        return PX_FALSE;
    ++call.Asked;
    call.AskedRight = call.AskedRight && info->ErrorCode == PX_PASSWORD_NEW && info->FileSize == PX_PASSWORD_UNANSWERED
        && info->Text[0] == '\0';
    switch (call.How) {
    case Answer::Give:
        std::strcpy(info->Text, call.Password.c_str());
        info->FileSize = PX_PASSWORD_GIVEN;
        return PX_FALSE;
    case Answer::Decline:
        info->FileSize = PX_PASSWORD_DECLINED;
        return PX_FALSE;
    case Answer::Ignore:
        return PX_FALSE;
    case Answer::Stop:
        return PX_TRUE;
    }
    return PX_FALSE;
}

// One add (or delete) call with EncryptFlag set, the password answered as `call` says.
void RunEncrypted(Call &call, const std::string &archive, const std::vector<std::string> &paths, int level = 9,
                  bool move = false, bool remove = false)
{
    static auto exec = [] {
        void *handle = ::dlopen(PELLUX_BIN_DIR "/libpxzip.so", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            throw std::runtime_error(::dlerror());
        return reinterpret_cast<PxZipExecFn>(::dlsym(handle, "PxZipExec"));
    }();
    std::vector<std::string> texts(paths);
    std::string archiveText = archive;
    auto params = std::make_unique<ZipExecParams>();
    params->CallerObject = &call;
    params->InterfaceVersion = PX_INTERFACE_VERSION;
    params->CallbackProc = Answering;
    params->CompressionLevel = level;
    params->RecurseFlag = PX_TRUE;
    params->MoveFlag = move ? PX_TRUE : PX_FALSE;
    params->DeleteEntriesFlag = remove ? PX_TRUE : PX_FALSE;
    params->EncryptFlag = PX_TRUE;
    params->ZipFileNamePtr = archiveText.data();
    params->CheckValue = PX_CHECK_VALUE;
    for (auto &text : texts)
        params->FileNames[params->ArgCount++] = text.data();
    call.Run.Result = exec(params.get());
}

// Per entry, sorted by name: name, method, flags, CRC, sizes, the AES field (version,
// strength, method) of the central and of the local header, the local header's method
// and flags, and a hash of the entry's bytes on disk (local header to the next entry).
std::string Records(const std::string &archive)
{
    std::string out;
    RunPython("import zipfile, struct, hashlib\n"
              "path = "
                  + Quote(archive)
                  + "\n"
                    "raw = open(path, 'rb').read()\n"
                    "z = zipfile.ZipFile(path)\n"
                    "infos = z.infolist()\n"
                    "starts = sorted(i.header_offset for i in infos) + [z.start_dir]\n"
                    "def aes(extra):\n"
                    "    i = 0\n"
                    "    while i + 4 <= len(extra):\n"
                    "        tag, n = struct.unpack_from('<HH', extra, i)\n"
                    "        if tag == 0x9901:\n"
                    "            v, vendor, s, m = struct.unpack_from('<H2sBH', extra, i + 4)\n"
                    "            return '%d/%s/%d/%d' % (v, vendor.decode(), s, m)\n"
                    "        i += 4 + n\n"
                    "    return '-'\n"
                    "for i in sorted(infos, key=lambda i: i.filename):\n"
                    "    o = i.header_offset\n"
                    "    flags, method = struct.unpack_from('<HH', raw, o + 6)\n"
                    "    n, m = struct.unpack_from('<HH', raw, o + 26)\n"
                    "    local = raw[o + 30 + n:o + 30 + n + m]\n"
                    "    end = starts[starts.index(o) + 1]\n"
                    "    print(i.filename, i.compress_type, i.flag_bits, i.CRC, i.compress_size, i.file_size,\n"
                    "          aes(i.extra), aes(local), method, flags, hashlib.sha1(raw[o:end]).hexdigest()[:12])\n",
              &out);
    return out;
}

// The row of `name` in Records, split into its fields.
std::vector<std::string> Row(const std::string &records, const std::string &name)
{
    const auto at = records.find(name + " ");
    if (at == std::string::npos || (at > 0 && records[at - 1] != '\n'))
        return {};
    std::vector<std::string> fields;
    std::istringstream line(records.substr(at, records.find('\n', at) - at));
    for (std::string field; line >> field;)
        fields.push_back(field);
    return fields;
}

std::string Text(std::size_t lines)
{
    std::string s;
    for (std::size_t i = 0; i < lines; ++i)
        s += "line " + std::to_string(i) + " of the report, value " + std::to_string(i * 31 % 97) + "\n";
    return s;
}

class EncryptAddTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive = dir.File("out.zip");
    std::string src = dir.File("src");
};

TEST_F(EncryptAddTest, EveryFileIsEncryptedAndPeersReadItBack)
{
    dir.Write("src/notes.txt", Text(200));
    dir.Write("src/big.txt", Text(120000)); // about 5 MiB: several chunks
    dir.Write("src/noise.bin", RandomBytes(300000, 7));
    dir.Write("src/empty", "");
    fs::create_directories(src + "/sub");
    for (const int level : {0, 9}) {
        SCOPED_TRACE("level " + std::to_string(level));
        fs::remove(archive);
        Call call;
        RunEncrypted(call, archive, {src}, level);
        EXPECT_EQ(call.Run.Result, 4);
        EXPECT_FALSE(call.Run.HasError());
        EXPECT_EQ(call.Asked, 1);
        EXPECT_TRUE(call.AskedRight);

        const std::string records = Records(archive);
        // name method flags crc csize usize aes(central) aes(local) method(local) flags(local)
        for (const char *name : {"src/notes.txt", "src/big.txt", "src/noise.bin", "src/empty"}) {
            SCOPED_TRACE(name);
            const auto row = Row(records, name);
            ASSERT_EQ(row.size(), 11u) << records;
            const bool deflated = level > 0 && std::string(name).ends_with(".txt");
            EXPECT_EQ(row[1], "99");
            EXPECT_EQ(std::stoi(row[2]) & 1, 1);
            EXPECT_EQ(row[3], "0");
            EXPECT_EQ(row[6], deflated ? "2/AE/3/8" : "2/AE/3/0");
            EXPECT_EQ(row[7], row[6]);
            EXPECT_EQ(row[8], "99");
            EXPECT_EQ(row[9], row[2]);
            if (!deflated) { // salt, verifier, the data as it is, MAC
                EXPECT_EQ(std::stoull(row[4]), std::stoull(row[5]) + 16 + 2 + 10);
            }
        }
        EXPECT_EQ(Row(records, "src/sub/").at(1), "0");
        EXPECT_EQ(Row(records, "src/sub/").at(2), "0");
        EXPECT_EQ(ReadFile(archive).find("of the report"), std::string::npos);

        EXPECT_EQ(RunShell("7z t -ppw " + Quote(archive) + " >/dev/null 2>&1"), 0);
        EXPECT_NE(RunShell("7z t -pwrong " + Quote(archive) + " >/dev/null 2>&1"), 0);
        TempDir bySevenZip, byBsdtar;
        ASSERT_EQ(RunIn(bySevenZip.Path(), "7z x -ppw " + Quote(archive) + " >/dev/null 2>&1"), 0);
        EXPECT_EQ(TreeListing(bySevenZip.File("src")), TreeListing(src));
        ASSERT_EQ(RunIn(byBsdtar.Path(), "bsdtar --passphrase pw -xf " + Quote(archive) + " 2>&1"), 0);
        EXPECT_EQ(TreeListing(byBsdtar.File("src")), TreeListing(src));
    }
}

TEST_F(EncryptAddTest, NoPasswordAddsNothingAndLeavesTheArchiveAsItWas)
{
    dir.Write("src/a.txt", "first");
    const LibRun plain = RunZip(archive, {src}, ZipOptions{});
    ASSERT_EQ(plain.Result, 1);
    const std::string before = ReadFile(archive);
    dir.Write("src/b.txt", "second");
    for (const Answer how : {Answer::Decline, Answer::Ignore, Answer::Give, Answer::Stop}) {
        Call call;
        call.How = how;
        call.Password = ""; // given, but empty
        RunEncrypted(call, archive, {src});
        EXPECT_EQ(call.Run.Result, 0);
        EXPECT_EQ(call.Asked, 1);
        EXPECT_EQ(ReadFile(archive), before);
        // A stop is the caller's own: no message.
        const std::vector<std::string> expected =
            how == Answer::Stop ? std::vector<std::string>{} : std::vector{archive + ": no password for encryption"};
        EXPECT_EQ(call.Run.Messages(), expected);
    }
    Call call;
    call.How = Answer::Decline;
    RunEncrypted(call, dir.File("new.zip"), {src});
    EXPECT_FALSE(fs::exists(dir.File("new.zip")));
}

TEST_F(EncryptAddTest, EntriesCopiedKeepTheirBytesWhenAddingAndDeleting)
{
    PythonZip(archive,
              "add('keep.txt', b'plain and kept ' * 100)\n"
              "add('old.txt', b'replaced')\n"
              "add('raw.bin', b'stored', method=zipfile.ZIP_STORED)\n");
    const std::string before = Records(archive);
    dir.Write("src/old.txt", "the new old.txt");
    dir.Write("src/new.txt", Text(50));
    Call call;
    const auto cwd = fs::current_path();
    fs::current_path(src);
    RunEncrypted(call, archive, {"old.txt", "new.txt"}, 9, true);
    fs::current_path(cwd);
    EXPECT_EQ(call.Run.Result, 2);
    EXPECT_FALSE(fs::exists(src + "/new.txt")); // moved
    const std::string after = Records(archive);
    EXPECT_EQ(Row(after, "keep.txt"), Row(before, "keep.txt"));
    EXPECT_EQ(Row(after, "raw.bin"), Row(before, "raw.bin"));
    EXPECT_EQ(Row(after, "old.txt").at(1), "99");
    EXPECT_EQ(Row(after, "new.txt").at(1), "99");
    TempDir out;
    ASSERT_EQ(RunIn(out.Path(), "7z x -ppw " + Quote(archive) + " >/dev/null 2>&1"), 0);
    EXPECT_EQ(ReadFile(out.File("old.txt")), "the new old.txt");
    EXPECT_EQ(ReadFile(out.File("new.txt")), Text(50));
    EXPECT_EQ(ReadFile(out.File("keep.txt")).size(), 1500u);

    // Deleting asks for nothing and copies the encrypted entries as they are.
    Call remove;
    RunEncrypted(remove, archive, {"keep.txt"}, 9, false, true);
    EXPECT_EQ(remove.Run.Result, 1);
    EXPECT_EQ(remove.Asked, 0);
    const std::string deleted = Records(archive);
    EXPECT_TRUE(Row(deleted, "keep.txt").empty());
    EXPECT_EQ(Row(deleted, "new.txt"), Row(after, "new.txt"));
    EXPECT_EQ(Row(deleted, "old.txt"), Row(after, "old.txt"));
    EXPECT_EQ(RunShell("7z t -ppw " + Quote(archive) + " >/dev/null 2>&1"), 0);
}

} // namespace
} // namespace pellux::test
