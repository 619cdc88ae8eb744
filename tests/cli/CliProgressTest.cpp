// pellux-cli on a terminal: the progress line, -q, and Ctrl+C. The program runs on a
// pseudo-terminal of our own (stderr there, stdout in a file), so that the test sees
// exactly what the user would see and can interrupt it once the work is under way.
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

using namespace pellux::test;
namespace fs = std::filesystem;

namespace {

struct TerminalRun {
    int Status = -1; // the exit status, or minus the signal that ended the program
    std::string Screen, Out;
};

// Words and numbers, compressible enough that level 9 works hard on them.
std::string TextLike(std::size_t size)
{
    std::string text;
    text.reserve(size + 64);
    std::uint64_t x = 88172645463325252ull;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    while (text.size() < size) {
        const std::uint64_t r = next();
        for (unsigned i = 0; i < 2 + r % 8; ++i)
            text += static_cast<char>('a' + (r >> (8 + 4 * i)) % 7 * 3);
        text += r % 13 == 0 ? '\n' : ' ';
        if (r % 5 == 0)
            text += std::to_string(r % 100000);
    }
    return text;
}

class CliProgressTest : public ::testing::Test {
protected:
    TempDir dir;

    // Runs pellux-cli in `dir` with `env` (NAME=VALUE) on a terminal of `columns`
    // columns. With `signal`, sends it once the terminal shows `cue`.
    TerminalRun OnTerminal(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                           int signal = 0, const std::string &cue = "\r", unsigned short columns = 80)
    {
        const std::string program = std::string(PELLUX_BIN_DIR) + "/pellux-cli";
        const std::string out = dir.File("stdout.txt");
        std::vector<std::string> argvText{program};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &arg : argvText)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
        if (pid == 0) {
            if (::chdir(dir.Path().c_str()) != 0)
                ::_exit(120);
            for (const auto &pair : env)
                ::putenv(const_cast<char *>(pair.c_str()));
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, STDOUT_FILENO);
            ::execv(program.c_str(), argv.data());
            ::_exit(121);
        }
        TerminalRun run;
        if (pid < 0)
            return run;
        bool sent = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            pollfd ready{master, POLLIN, 0};
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ADD_FAILURE() << "pellux-cli did not end";
                break;
            }
            if (::poll(&ready, 1, 200) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0) // EIO: the program has closed the terminal
                break;
            run.Screen.append(chunk, static_cast<std::size_t>(n));
            if (signal && !sent && run.Screen.find(cue) != std::string::npos) {
                ::kill(pid, signal);
                sent = true;
            }
        }
        ::close(master);
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        run.Out = ReadFile(out);
        EXPECT_TRUE(!signal || sent) << "the work ended before it showed any progress";
        return run;
    }

    std::vector<std::string> Folder(const std::string &name) const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir.File(name)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

const std::vector<std::string> kAtOnce{"PELLUX_PROGRESS_DELAY_MS=0"};

} // namespace

TEST_F(CliProgressTest, TheLineIsDrawnOnATerminalOnlyAndAlwaysErased)
{
    dir.Write("big.txt", TextLike(6 << 20));
    dir.Write("small.txt", "small");

    // Narrow terminal: every drawn line fits it, the file's name cut from the start.
    TerminalRun run = OnTerminal({"add", "a.zip", "big.txt", "small.txt"}, kAtOnce, 0, "", 30);
    ASSERT_EQ(run.Status, 0) << run.Screen;
    EXPECT_EQ(run.Out, "2 files were added\n");
    ASSERT_NE(run.Screen.find("% "), std::string::npos) << run.Screen;
    EXPECT_NE(run.Screen.find(" MiB of "), std::string::npos) << run.Screen;
    std::size_t from = 0;
    while ((from = run.Screen.find('\r', from)) != std::string::npos) {
        const std::size_t end = run.Screen.find("\033[K", from);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - from - 1, 29u) << run.Screen.substr(from + 1, end - from - 1);
        from = end;
    }
    // Nothing is left standing: the last thing written takes the line away.
    EXPECT_EQ(run.Screen.substr(run.Screen.size() - 4), "\r\033[K");

    // test counts its files while the line follows the same reports.
    run = OnTerminal({"test", "a.zip"}, kAtOnce);
    EXPECT_EQ(run.Status, 0) << run.Screen;
    EXPECT_EQ(run.Out, "2 files tested, 0 failed\n");
    EXPECT_NE(run.Screen.find("big.txt"), std::string::npos) << run.Screen;

    // Short work shows nothing: the line waits half a second.
    run = OnTerminal({"delete", "a.zip", "small.txt"});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Screen, "");

    // stderr a file: no line, however long the work.
    const std::string cli = "cd " + Quote(dir.Path().string()) + " && PELLUX_PROGRESS_DELAY_MS=0 "
        + Quote(std::string(PELLUX_BIN_DIR) + "/pellux-cli");
    std::string out;
    EXPECT_EQ(RunShell(cli + " extract a.zip -d x 2>err.txt", &out), 0);
    EXPECT_EQ(out, "1 files were extracted\n");
    EXPECT_EQ(ReadFile(dir.File("err.txt")), "");
}

TEST_F(CliProgressTest, QuietLeavesOnlyErrorsAndTheSameExitStatus)
{
    dir.Write("big.txt", TextLike(2 << 20));
    TerminalRun run = OnTerminal({"-q", "add", "a.zip", "big.txt"}, kAtOnce);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Screen + run.Out, "");

    // A file that is there already is a warning: kept back, the status unchanged.
    fs::create_directory(dir.File("x"));
    dir.Write("x/big.txt", "older");
    run = OnTerminal({"extract", "a.zip", "-d", "x"});
    EXPECT_NE(run.Screen.find("warning: "), std::string::npos) << run.Screen;
    const int status = run.Status;
    run = OnTerminal({"extract", "--quiet", "a.zip", "-d", "x"}, kAtOnce);
    EXPECT_EQ(run.Status, status);
    EXPECT_EQ(run.Screen + run.Out, "");

    // After "--" it is a name like any other.
    run = OnTerminal({"test", "-q", "a.zip", "--", "-q"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Screen.find("-q"), std::string::npos) << run.Screen;

    run = OnTerminal({"test", "-q", "missing.zip"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Screen.find("missing.zip"), std::string::npos) << run.Screen;
    EXPECT_EQ(run.Out, "");
}

// The libraries write into an unnamed file where they can, a hidden one beside the
// archive where they cannot; neither may outlive an interrupted add.
TEST_F(CliProgressTest, AnInterruptedAddOrDeleteLeavesTheArchiveAsItWas)
{
    dir.Write("big.txt", TextLike(24 << 20));
    dir.Write("small.txt", "small");
    fs::create_directory(dir.File("a"));
    ASSERT_EQ(OnTerminal({"add", "a/t.zip", "small.txt"}).Status, 0);
    const std::string before = ReadFile(dir.File("a/t.zip"));
    for (const char *temp : {"PELLUX_PROGRESS_DELAY_MS=0", "PELLUX_ZIP_NAMED_TEMP=1"}) {
        for (int signal : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(std::string(temp) + " signal " + std::to_string(signal));
            const TerminalRun run = OnTerminal({"add", "a/t.zip", "big.txt"}, {kAtOnce[0], temp}, signal, "big.txt");
            EXPECT_EQ(run.Status, 130) << run.Screen;
            EXPECT_NE(run.Screen.find("a/t.zip: interrupted"), std::string::npos) << run.Screen;
            EXPECT_EQ(run.Out, "");
            EXPECT_TRUE(ReadFile(dir.File("a/t.zip")) == before);
            EXPECT_EQ(Folder("a"), std::vector<std::string>{"t.zip"});
        }
    }

    // A delete copies what stays: stopped on the way, the archive is the old one.
    ASSERT_EQ(OnTerminal({"add", "a/t.zip", "--level", "0", "big.txt"}).Status, 0);
    const std::string full = ReadFile(dir.File("a/t.zip"));
    const TerminalRun run = OnTerminal({"delete", "a/t.zip", "small.txt"}, kAtOnce, SIGINT);
    EXPECT_EQ(run.Status, 130) << run.Screen;
    EXPECT_TRUE(ReadFile(dir.File("a/t.zip")) == full);
    EXPECT_EQ(Folder("a"), std::vector<std::string>{"t.zip"});
}

TEST_F(CliProgressTest, AnInterruptedExtractLeavesNoPartialFile)
{
    // Zeros: a small archive that takes a while to write out.
    ASSERT_EQ(RunPython("import zipfile\n"
                        "with zipfile.ZipFile('"
                        + dir.File("z.zip")
                        + "', 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as z:\n"
                          "    z.writestr('small.txt', 'small')\n"
                          "    with z.open('big.bin', 'w', force_zip64=True) as f:\n"
                          "        for i in range(384): f.write(bytes(1 << 20))\n"),
              0);
    const TerminalRun run = OnTerminal({"extract", "z.zip", "-d", "x"}, kAtOnce, SIGINT, "big.bin");
    EXPECT_EQ(run.Status, 130) << run.Screen;
    EXPECT_EQ(run.Out, "");
    // small.txt may come out before the signal, complete; nothing else may.
    for (const auto &name : Folder("x")) {
        EXPECT_EQ(name, "small.txt");
        EXPECT_TRUE(ReadFile(dir.File("x/" + name)) == "small");
    }
}
