// Test program entry. With --extract-self, a copy of this program that
// carries an archive runs the extraction and exits with its result.
#include <gtest/gtest.h>

#include <cstring>

#include "run/extract_run.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--extract-self") == 0) return extract_archive();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
