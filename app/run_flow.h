#pragma once

// Smooths the key table and writes the camera-motion file for `camNo`.
void finishTrack(int camNo);

// The whole run for a command line; returns the process exit status.
int runLumeko(int argc, char** argv);
