#pragma once
// The one reset of what any scenario may change in the prefix, so that
// every scenario starts from the same state whatever the one before it
// did or left when it died. Each returns a failure that names what could
// not be put back; callers assert on it.
#include <gtest/gtest.h>

namespace qxtest {

// The product's own state: its registry keys and values (the source
// record, the pending-reboot marker, the log level, the Run and RunOnce
// values, the deletions pending for the next restart), its cache with the
// manufacturer level, and its log folder's files. For a test that runs several cases in one fixture folder.
::testing::AssertionResult ResetProductState();

// All of it: the product's state, the installed product, the test folders
// with the doubles' scripts and records, the installer's InProgress key,
// the common application-data setting, the launcher's Wine DLL overrides,
// and what the tests plant for the launcher to find (other vendors' folders
// and keys, stray entries).
::testing::AssertionResult ResetKnownState();

}  // namespace qxtest
