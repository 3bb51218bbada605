#pragma once

// Writes the banner, the usage line and its two explanation lines to the error stream.
void printUsage();

// --help and --version: the help text (see options.h) or the version line on
// standard output.
void printHelp();
void printVersion();

// Prints "--- HIT SPACE KEY ---" on standard output and waits for the space
// bar. On a terminal the keys are read unechoed and unbuffered, and the
// terminal is restored on every way out; when standard input is not a
// terminal, bytes are read until a space, end of input or a read error.
void waitForSpaceKey();

// The fatal-error convention: prints `format` with `name` on the error stream,
// waits for the space bar, and returns 1, the exit status of a failed run.
int reportFailure(const char* format, const char* name);
