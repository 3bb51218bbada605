#pragma once

#include <string>

#include <vector>

#include "media/frame_source.h"
#include "track/layout_pass.h"
#include "track/tracker.h"

// What the options before the five positional arguments ask for. Every
// option is off by default; with none given Lumeko behaves as it always has.
struct RunOptions {
    bool help = false;               // --help: print the help text and end
    bool version = false;            // --version: print the version and end
    TrackerSettings tracker;         // --best, --refine, --bridge ...: how frames are tracked
    std::string report;              // --report FILE: one CSV row per frame; empty when not given
    MovieSettings reading;           // --range, --threads, --fps: how a movie or sequence is read
    std::vector<SetMarker> markers;  // --marker PATTERN,WIDTH: further markers of the set
    std::string layoutOut;           // --layout-out FILE: where the learned layout goes
    std::string layoutIn;            // --layout FILE: a layout to use instead of learning one
};

// Reads the options at the front of argv (from argv[1]): arguments beginning
// with "--", up to the first other argument or a lone "--", which ends the
// options and is skipped. Returns the index of the first positional argument
// (argc when there is none), or -1 for an option that is not known or has a
// bad value, with a line saying which in *bad (no newline). Options after the first positional are
// not looked at: they count as positionals.
int parseOptions(int argc, char** argv, RunOptions* options, std::string* bad);

// Whether `argument` is one of the options above ("--name" or "--name=value").
bool isOption(const char* argument);

// The help text for --help: the usage line with [options], what the
// positional arguments mean and what every option does.
std::string helpText(const char* version);
