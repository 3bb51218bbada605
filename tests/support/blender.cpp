#include "tests/support/blender.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace lumeko_test {

namespace {

// The first "blender" on the PATH that can be run.
std::string findOnPath() {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/blender";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

}  // namespace

std::string blenderPath() {
    // Found and tried once: one that cannot start without a display is no use.
    static const std::string found = [] {
        const std::string candidate = findOnPath();
        if (candidate.empty())
            return candidate;
        const ProcessResult tried =
            runProcess(".", {candidate, "-b", "--factory-startup", "--version"});
        return tried.status == 0 ? candidate : std::string();
    }();
    return found;
}

ProcessResult runBlender(const std::string& dir, const std::string& script,
                         const std::vector<std::string>& args) {
    std::vector<std::string> argv = {
        blenderPath(), "-b", "--factory-startup", "--python-exit-code", "1", "-P", script, "--"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(dir, argv);
}

}  // namespace lumeko_test
