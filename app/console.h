#pragma once

// Writes the banner, the usage line and its two explanation lines to the error stream.
void printUsage();

// --help and --version: the help text (see options.h) or the version line on
// standard output.
void printHelp();
void printVersion();

// Prints "--- HIT SPACE KEY ---" on standard output and, when standard input
// is a terminal, waits for the space bar: the keys are read unechoed and
// unbuffered, and the terminal is restored on every way out. When standard
// input is not a terminal nothing is read and the run goes on at once.
void waitForSpaceKey();

// The fatal-error convention: prints `format` with `name` on the error stream,
// waits for the space bar, and returns 1, the exit status of a failed run.
int reportFailure(const char* format, const char* name);
