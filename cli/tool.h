#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/option_table.h"
#include "files/replace_file.h"

// What a tool says about itself: its name, its usage lines and the help text
// around its options' (`about` before them, `notes` after).
struct ToolText {
    const char* name;
    const char* usage;
    const char* about;
    const char* notes;
    size_t column = 23;  // where the options' help starts
};

// The life of a tool: a lone --help (or -h) prints the usage and the help,
// a lone --version "<tool> <version>", both with status 0; no argument at
// all prints the usage on the error stream (status 1). Otherwise the options
// are read against the table (a wrong one is named, status 1) and `body`
// runs with the positional arguments. Whatever a library throws ends the run
// with a message and status 1: "out of memory" for memory that ran out.
int runTool(const ToolText& text, const OptionTable& options, int argc, char** argv,
            const std::function<int(const std::vector<std::string>& positional)>& body);

// A tool's error: "<tool>: <message>" on the error stream. Returns 1, the
// status every tool ends with on an error.
int toolError(const char* tool, const std::string& message);

// Before any work: 1 after naming the first output that is one of the inputs
// (by device and inode, whatever the spelling or link), else 0.
int refuseClash(const char* tool, const std::vector<std::string>& outputs,
                const std::vector<std::string>& inputs);

// Why replacing `path` failed: "cannot create PATH: reason" (no temporary
// file could be made beside it), "cannot write ..." or "cannot replace ...".
std::string writeProblem(const std::string& path, const FileResult& result);

// Writes `bytes` as the whole of `path` through replaceFile; empty, or the
// reason it failed (writeProblem), the earlier file then left as it was.
std::string writeWholeFile(const std::string& path, const std::string& bytes);
