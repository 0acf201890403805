// GoogleTest main for tests that need a QApplication. Test discovery runs the binary without
// the test's environment, so fall back to the offscreen platform when there is no display.
#include "CPortWindows.h"

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    app.setApplicationName("Tallyview");
    CPortWindows::Install(); // as the program does
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
