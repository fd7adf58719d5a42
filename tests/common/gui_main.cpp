#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Headless by default so the GUI tests run on machines without a display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velkaro");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
