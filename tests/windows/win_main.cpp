// The Windows shell tests need the thread's COM apartment (the file dialog)
// and a display, which CTest provides through support/with-session.sh.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>

#include "windows/win_support.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], tarnwick::testing::kEndProgramChildFlag) == 0) {
        return tarnwick::testing::runEndProgramChild();
    }
    OleInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    OleUninitialize();
    return rc;
}
