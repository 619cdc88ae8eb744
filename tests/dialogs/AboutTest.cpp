#include "dialogs/About.h"

#include "dialogs/ModalResult.h"
#include "tests/dialogs/ModalDriver.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

using namespace pellux;

TEST(AboutBox, BorderlessOnTopWithOurTexts)
{
    TFAbout box;
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(box.size(), QSize(312, 357));
    EXPECT_EQ(box.ProductName->text(), QStringLiteral("Pellux"));
    EXPECT_EQ(box.Version->text(), QStringLiteral("Version 1.0"));
    EXPECT_EQ(box.Label2->text(), QStringLiteral("for Linux"));
    EXPECT_EQ(box.ProgramIcon->toolTip(), QStringLiteral("Hi there!"));
    EXPECT_EQ(box.Panel1->palette().color(QPalette::Window), QColor(255, 0, 0));
    EXPECT_EQ(box.palette().color(QPalette::Window), QColor(0, 0, 255));
    EXPECT_TRUE(box.OKButton->isDefault());
    for (const QLabel *line : {box.Label3, box.Label4, box.Label5, box.Label6, box.Label7})
        EXPECT_FALSE(line->text().isEmpty());
}

TEST(AboutBox, OpensCentredEveryTimeAndEnterCloses)
{
    TFAbout box;
    for (int round = 0; round < 2; ++round) {
        int result = 0;
        QPoint centre;
        QWidget *focused = nullptr;
        test::WhenModalShown([&](QWidget *modal) {
            centre = modal->frameGeometry().center();
            focused = modal->focusWidget();
            QTest::keyClick(focused, Qt::Key_Return);
        });
        result = box.exec();
        EXPECT_EQ(result, mrOk);
        EXPECT_EQ(focused, box.OKButton);
        const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
        EXPECT_LE((centre - screenCentre).manhattanLength(), 2);
        box.move(0, 0); // the next showing must centre again
    }
}
