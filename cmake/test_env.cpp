// Linked into every test executable: the environment the tests read (source and build folders,
// the headless Qt platform), set before main() unless the caller already set it.
#include <cstdlib>

namespace {

const bool kTestEnvironmentSet = [] {
  ::setenv("FW_SOURCE_DIR", FW_TEST_SOURCE_DIR, 0);
  ::setenv("FW_BINARY_DIR", FW_TEST_BINARY_DIR, 0);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  return true;
}();

}  // namespace
