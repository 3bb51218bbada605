#pragma once

// The options before the five positional arguments:
//   --range FIRST:LAST  track movie frames FIRST to LAST only (frame numbers
//                       from 0, inclusive); the rows are numbered from 0
//   --threads N         movie decoding threads; 1 decodes on the main thread
struct RunOptions {
    bool ranged = false;
    long long rangeFirst = 0;
    long long rangeLast = 0;
    int threads = -1;  // -1: not given
};

// Reads the options at the start of argv[1..]. Returns the index of the
// first positional argument, or -1 for an unknown or malformed option.
int parseOptions(int argc, char** argv, RunOptions& options);
