#include "tests/support/blender.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace lumeko_test {

namespace {

std::string findBlender() {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/blender";
        if (access(candidate.c_str(), X_OK) == 0 &&
            runProcess("/", {candidate, "-b", "--factory-startup", "--python-exit-code", "1",
                             "--python-expr", "import bpy"})
                    .status == 0)
            return candidate;
    }
    return "";
}

}  // namespace

std::string blenderPath() {
    static const std::string found = findBlender();
    return found;
}

ProcessResult runBlender(const std::string& dir, const std::string& script,
                         const std::vector<std::string>& args) {
    // Blender takes a relative name from $PWD, which is the caller's folder.
    const std::string path = script.starts_with("/") ? script : dir + "/" + script;
    std::vector<std::string> argv = {
        blenderPath(), "-b", "--factory-startup", "--python-exit-code", "1", "-P", path, "--"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(dir, argv);
}

}  // namespace lumeko_test
