#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    // The window tests need no display; ctest sets the same, a manual run may not.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
