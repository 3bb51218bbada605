#include "cli/tool.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "files/same_file.h"

namespace {

int optionError(const ToolText& text, const ParsedArguments& parsed) {
    switch (parsed.problem) {
        case OptionProblem::Unknown:
            return toolError(text.name, "unknown option " + parsed.option + "\n" + text.usage);
        case OptionProblem::MissingValue:
            return toolError(text.name, parsed.option + " needs a value");
        case OptionProblem::BadValue:
            return toolError(text.name, "bad value for " + parsed.option + ": " + parsed.value);
        case OptionProblem::UnwantedValue:
            return toolError(text.name, parsed.option + " takes no value");
        case OptionProblem::None:
            break;
    }
    return 0;
}

}  // namespace

int runTool(const ToolText& text, const OptionTable& options, int argc, char** argv,
            const std::function<int(const std::vector<std::string>&)>& body) {
    const std::string only = argc == 2 ? argv[1] : "";
    if (only == "--version") {
        std::printf("%s %s\n", text.name, LUMEKO_VERSION);
        return 0;
    }
    if (only == "--help" || only == "-h") {
        std::printf("%s%s%s%s", text.usage, text.about, optionHelp(options, text.column).c_str(),
                    text.notes);
        return 0;
    }
    if (argc < 2) {
        std::fputs(text.usage, stderr);
        return 1;
    }
    try {
        const ParsedArguments parsed = parseArguments(options, argc, argv, false);
        if (parsed.problem != OptionProblem::None)
            return optionError(text, parsed);
        return body(parsed.positional);
    } catch (const std::bad_alloc&) {
        return toolError(text.name, "out of memory");
    } catch (const std::exception& e) {
        return toolError(text.name, std::string("stopped by a failure in a library: ") + e.what());
    }
}

int toolError(const char* tool, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return 1;
}

int refuseClash(const char* tool, const std::vector<std::string>& outputs,
                const std::vector<std::string>& inputs) {
    const std::optional<FileClash> clash = findClash(outputs, inputs);
    return clash ? toolError(tool, clashMessage(*clash)) : 0;
}

std::string writeProblem(const std::string& path, const FileResult& result) {
    const char* step = result.status == FileStatus::CannotCreate  ? "cannot create "
                       : result.status == FileStatus::CannotWrite ? "cannot write "
                                                                  : "cannot replace ";
    return step + path + ": " + std::strerror(result.error);
}

std::string writeWholeFile(const std::string& path, const std::string& bytes) {
    const FileResult result = replaceFile(path, [&](std::FILE* file) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    });
    return result.ok() ? "" : writeProblem(path, result);
}
