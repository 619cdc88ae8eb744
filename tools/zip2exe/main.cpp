// zip2exe ZIPFILE OUTDIR: writes OUTDIR/<name>.exe, the extractor stub with the archive
// appended. The outcome goes to stderr; started by the self-extracting wizard, which
// marks its run with PELLUX_ZIP2EXE_WINDOW=1, it also shows in a message window. No
// other run opens one: a script under a display must not wait on a window.
#include "tools/zip2exe/StubImage.h"
#include "tools/zip2exe/Zip2Exe.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef PELLUX_ZIP2EXE_NO_WINDOW
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#endif

namespace {

constexpr const char *kUsage = "usage: zip2exe ZIPFILE OUTDIR\n"
                               "Writes OUTDIR/<ZIPFILE's name>.exe, a program that unpacks the archive.\n"
                               "  -h, --help     show this help and exit\n"
                               "      --version  show the version and exit\n";

std::string Grouped(std::uint64_t n)
{
    std::string digits = std::to_string(n);
    for (std::size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

bool StartedByTheWizard()
{
    const char *marker = std::getenv("PELLUX_ZIP2EXE_WINDOW");
    return marker && std::strcmp(marker, "1") == 0;
}

bool DisplayAtHand()
{
    auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY"))
        return false;
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    const std::string name = platform ? std::string(platform).substr(0, std::string(platform).find(':')) : "";
    return name != "offscreen" && name != "minimal";
}

void ShowWindow(int argc, char **argv, bool ok, const std::string &text)
{
#ifdef PELLUX_ZIP2EXE_NO_WINDOW
    (void)argc, (void)argv, (void)ok, (void)text;
#else
    // A display that does not answer must not kill the program after its work is
    // done: fall back to the minimal platform and show nothing then.
    std::string platforms = std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    if (platforms.empty())
        platforms = std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY") ? "wayland;xcb" : "xcb";
    ::setenv("QT_QPA_PLATFORM", (platforms + ";minimal").c_str(), 1);
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() == QStringLiteral("minimal"))
        return;
    QMessageBox box(ok ? QMessageBox::Information : QMessageBox::Critical, QStringLiteral("Pellux"),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
#endif
}

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    // A file-size limit then fails the write with EFBIG, which we report, instead of
    // killing the program halfway.
    std::signal(SIGXFSZ, SIG_IGN);

    std::vector<std::string> operands;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnd && (arg == "-h" || arg == "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!optionsEnd && arg == "--version") {
            std::puts("zip2exe " PELLUX_VERSION);
            return 0;
        }
        if (!optionsEnd && arg == "--")
            optionsEnd = true;
        else if (!optionsEnd && arg.size() > 1 && arg[0] == '-')
            return std::fprintf(stderr, "zip2exe: unknown option %s\n%s", arg.c_str(), kUsage), 2;
        else
            operands.push_back(arg);
    }
    if (argc == 1)
        return std::fputs(kUsage, stderr), 2;
    if (operands.size() != 2)
        return std::fprintf(stderr, "zip2exe: %s\n%s", operands.size() < 2 ? "too few operands" : "too many operands",
                            kUsage),
               2;

    bool ok = true;
    std::string text, windowText;
    try {
        const auto written = pellux::zip2exe::Convert(operands[0], operands[1], pellux::zip2exe::StubImage());
        text = "wrote " + written.Path + " (" + Grouped(written.Size) + " bytes)";
        windowText = "Wrote the self-extracting program\n" + written.Path + "\n(" + Grouped(written.Size) + " bytes)";
    } catch (const pellux::zip2exe::Refusal &refusal) {
        ok = false;
        text = refusal.what();
    } catch (const std::exception &error) {
        ok = false;
        text = operands[0] + ": " + error.what();
    }
    std::fprintf(stderr, "zip2exe: %s\n", text.c_str());
    if (StartedByTheWizard() && DisplayAtHand())
        ShowWindow(argc, argv, ok, ok ? windowText : "zip2exe: " + text);
    return ok ? 0 : 1;
}
