#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "TestHome.h"

// Widget and model tests share one QApplication on the offscreen platform.
int main(int argc, char** argv) {
    TestHome::install();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Quorvel");
    QApplication::setApplicationName("Quorvel");
    return RUN_ALL_TESTS();
}
