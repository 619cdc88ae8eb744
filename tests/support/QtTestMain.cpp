// GoogleTest main for the widget tests: one QApplication for the whole run.
#include <QApplication>

#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Offscreen unless told otherwise: test discovery at build time has no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // QApplication takes the environment's locale; the tests expect C's.
    std::setlocale(LC_ALL, "C");
    return RUN_ALL_TESTS();
}
