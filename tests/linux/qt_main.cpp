// The Qt shell tests need a QApplication (and a display, which CTest
// provides through support/with-session.sh --display).
#include <gtest/gtest.h>

#include <cstring>

#include "linux/qt_support.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], tarnwick::testing::kEndProgramChildFlag) == 0) {
        return tarnwick::testing::runEndProgramChild(argc, argv);
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
