#include <gtest/gtest.h>

// The HEIF tests make their fixtures with libheif's encoder, whose x265 keeps process-wide
// allocations it never frees: not our leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
