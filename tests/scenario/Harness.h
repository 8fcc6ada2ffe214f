#pragma once
// The scenario tests' harness is the support library's (tests/support/).
#include "tests/support/Harness.h"
