#include <gtest/gtest.h>

#include <QApplication>

// The widget tests run against the real Qt Widgets on the offscreen platform
// unless a display platform was asked for.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
