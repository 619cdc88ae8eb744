// Shows each dialog on a real X server and saves what the screen shows of it, for
// docs/dialogs.md:  xvfb-run -a pellux_dialog_shots docs/ [dist/linux/icons/]
// With a second folder it also writes there the program icon in the sizes the desktop's
// icon theme installs (pellux-16.png ... pellux-256.png).
#include "dialogs/About.h"
#include "dialogs/AppIcon.h"
#include "dialogs/DialogCreateDir.h"
#include "dialogs/DirBox.h"
#include "dialogs/FPassword.h"
#include "dialogs/FStartup.h"
#include "dialogs/FStatus.h"
#include "dialogs/Glyphs.h"
#include "dialogs/WizSelfExtracting.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTest>
#include <QWindow>

#include <cstdio>

namespace {
bool Shoot(QWidget *window, const QString &file)
{
    window->show();
    window->raise();
    window->activateWindow();
    (void)QTest::qWaitForWindowExposed(window);
    QTest::qWait(600);
    // A plain window manager frames even a borderless window; show it as it is meant.
    const QRect frame = (window->windowFlags() & Qt::FramelessWindowHint)
        ? window->geometry()
        : window->windowHandle()->frameGeometry(); // asks the X server, not a cache
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const bool saved = shot.save(file);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(file));
    window->hide();
    return saved;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    bool ok = true;

    pellux::TFormStartup startup;
    startup.move(60, 60); // the main window places it; here any place will do
    ok &= Shoot(&startup, out.filePath(QStringLiteral("startup-chooser.png")));

    pellux::TFormStatus::ShowStatus("Pellux - photos.zip", "Extracting files");
    ok &= Shoot(pellux::TFormStatus::Current(), out.filePath(QStringLiteral("status-window.png")));
    pellux::TFormStatus::HideStatus();

    pellux::TFAbout about;
    ok &= Shoot(&about, out.filePath(QStringLiteral("about-box.png")));

    pellux::TFormDirBox chooser;
    chooser.GoToDirectory("/usr/share");
    chooser.Title = "Extract all file(s) to directory..";
    chooser.AllowCreateDir = true;
    ok &= Shoot(&chooser, out.filePath(QStringLiteral("directory-chooser.png")));

    pellux::TFormCreateDirectory create;
    create.Directory = "/usr/share";
    ok &= Shoot(&create, out.filePath(QStringLiteral("create-directory.png")));

    pellux::TFormPassword password(pellux::TFormPassword::Mode::Open);
    password.SetEntry("photos/beach.jpg", false);
    password.EditPassword->setText(QStringLiteral("********")); // shown as dots
    ok &= Shoot(&password, out.filePath(QStringLiteral("password.png")));

    pellux::TFormWizSelfExtracting wizard;
    wizard.move(80, 80);
    wizard.SetInputFile("/home/user/photos.zip");
    ok &= Shoot(&wizard, out.filePath(QStringLiteral("wizard-step1.png")));
    // Page 2 as "&Next >>" shows it, without asking the file system.
    wizard.PageControl->setCurrentWidget(wizard.TabStep2);
    wizard.EditOutputDir->setText(QStringLiteral("/home/user/"));
    wizard.ButtonNext->setText(QStringLiteral("&Finish"));
    wizard.ButtonPrevious->show();
    ok &= Shoot(&wizard, out.filePath(QStringLiteral("wizard-step2.png")));

    ok &= pellux::glyphs::AppPixmap(256).save(out.filePath(QStringLiteral("pellux.png")));
    if (argc > 2) {
        const QDir icons(QString::fromLocal8Bit(argv[2]));
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
            ok &= pellux::glyphs::AppPixmap(size).save(icons.filePath(QStringLiteral("pellux-%1.png").arg(size)));
    }
    return ok ? 0 : 1;
}
