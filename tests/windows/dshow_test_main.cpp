// The DirectShow graph tests run in the program's own COM apartment (a
// single-threaded one, entered with OleInitialize) and through
// windows/dshow_media_run.sh, which provides the media and the recordings.
#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv) {
    OleInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    OleUninitialize();
    return rc;
}
