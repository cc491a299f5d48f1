// Test program entry. With --extract-self, a copy of this program that
// carries an archive runs the extraction and exits with its result; with
// --load-planted, it tries to load a planted DLL.
#include <gtest/gtest.h>

#include <cstring>

#include "run/extract_run.h"

int load_planted_main(const char* mode, const char* dll);

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--extract-self") == 0) return extract_archive();
    if (argc > 3 && std::strcmp(argv[1], "--load-planted") == 0)
        return load_planted_main(argv[2], argv[3]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
