#include <QApplication>
#include <gtest/gtest.h>

// Every test program runs with a QApplication on its main thread, offscreen, so that
// windows, timers and posted messages behave as in the program.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
