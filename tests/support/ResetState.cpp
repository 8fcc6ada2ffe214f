// Puts back the prefix's known state before a scenario that runs outside a
// test program (the restart cycles driven by CMake scripts). Exit code 0
// when everything was put back; 1 and the list of what was not otherwise.
#include <cstdio>

#include "tests/support/KnownState.h"

int main() {
    const ::testing::AssertionResult reset = qxtest::ResetKnownState();
    if (reset) return 0;
    std::fprintf(stderr, "%s\n", reset.message());
    return 1;
}
