#include "tests/support/blender.h"

namespace lumeko_test {

std::string blenderPath() {
    // Looked for and tried once: one that cannot start without a display is no use.
    static const std::string found = [] {
        const ProcessResult tried =
            runProcess(".", {"/bin/sh", "-c",
                             "command -v blender && blender -b --factory-startup --version "
                             ">/dev/null 2>&1"});
        return tried.status == 0 ? tried.out.substr(0, tried.out.find('\n')) : std::string();
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
