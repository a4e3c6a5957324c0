// The main of the platform tests: the Qt backend needs a QApplication, and the tests run
// without a display.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Also when the test list is read at build time, where ctest's environment is not set.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
