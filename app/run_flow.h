#pragma once

// The whole run for a command line, `Lumeko [options] <five arguments>` (see
// options.h): checks the command line, that no output is one of the inputs
// and that Lumeko.cm2 can be written in the working folder, then tracks the
// input into it; returns the process exit status.
int runLumeko(int argc, char** argv);
