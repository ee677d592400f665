// The Windows shell tests need the thread's COM apartment (the file dialog)
// and a display, which CTest provides through support/with-session.sh.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>

namespace tarnwick::testing {
int runEndProgramChild();  // win32_event_loop_test.cpp
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--end-program-child") == 0) return tarnwick::testing::runEndProgramChild();
    OleInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    OleUninitialize();
    return rc;
}
