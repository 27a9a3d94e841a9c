// Helpers shared by the test suites.
#pragma once

#include <string>

namespace testsupport {
// A scratch folder for one test suite (created on demand), below the build tree.
std::string ScratchDirectory();
// The folder holding the shared reference data (NIST problems and the like).
std::string SharedDataDirectory();
}  // namespace testsupport
