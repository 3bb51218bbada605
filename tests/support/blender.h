#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

// Blender for the tests of what Lumeko's tools make for it.

namespace lumeko_test {

// A Blender on the PATH that runs headless, or "" when there is none.
std::string blenderPath();

// Runs `script` in Blender in `dir`: blender -b --factory-startup
// --python-exit-code 1 -P script -- args..., standard input closed.
ProcessResult runBlender(const std::string& dir, const std::string& script,
                         const std::vector<std::string>& args);

}  // namespace lumeko_test
