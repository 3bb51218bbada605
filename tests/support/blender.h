#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

// Blender run headless by the tests that check what it makes of our exports.

namespace lumeko_test {

// Path of a Blender that runs headless, or "" when none is installed (the test then fails in CI
// and is skipped with a message elsewhere).
std::string blenderPath();

// Runs `blender -b --factory-startup --python-exit-code 1 -P <script> -- <args...>` in `dir`;
// stdin closed.
ProcessResult runBlender(const std::string& dir, const std::string& script,
                         const std::vector<std::string>& args);

}  // namespace lumeko_test
