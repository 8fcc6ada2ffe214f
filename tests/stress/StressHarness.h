#pragma once
// The stress tests use the support library's harness (tests/support/) in
// a namespace of their own.
#include "tests/support/Harness.h"

namespace qxstress {

using namespace qxtest;

}  // namespace qxstress
