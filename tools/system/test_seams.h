// The places where the tests steer courier-pack through its environment.
// Only the test build has them (BRISK_TEST_SEAMS, set when the tests are
// built, on Linux): a shipped courier-pack reads none of these variables.
//   COURIER_PACK_NAMED_TEMP        the output goes through a named temporary
//                                  file, as on file systems without O_TMPFILE
//   COURIER_PACK_STOP_BEFORE_LOCK  stop (SIGSTOP) before that file is locked,
//                                  for another run to take it for stale
//   COURIER_PACK_PROGRESS_AT_ONCE  the progress line from the first entry on,
//                                  not after a second of packing
#pragma once

#ifdef BRISK_TEST_SEAMS
#include <cstdlib>
#endif

inline bool test_seam(const char* variable) {
#ifdef BRISK_TEST_SEAMS
    return std::getenv(variable) != nullptr;
#else
    (void)variable;
    return false;
#endif
}
