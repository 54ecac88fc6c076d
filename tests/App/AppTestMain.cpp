// The main of the application's test executables: one QApplication on the offscreen platform
// for the whole run, as the application has one for its whole life.
#include <cstdlib>

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // CTest sets it; listing the tests at build time does not.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
